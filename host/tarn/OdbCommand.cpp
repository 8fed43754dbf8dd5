// `tarn odb RUN [PATH...]`: what a run's begin-of-run (or end-of-run) ODB
// dump holds, without writing a graph.
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Commands.h"
#include "OdbLookup.h"
#include "RunSearch.h"
#include "TMidasEvent.h"
#include "TRunFile.h"

namespace {

const char kOdbUsage[] =
    "usage: tarn odb RUN [PATH...] [--eor] [--depth N] [--json]\n"
    "Prints from the run's begin-of-run ODB dump (--eor: its end-of-run dump) the\n"
    "value of each PATH, one a line, or for a directory (or no PATH) its keys with\n"
    "type and value as a tree, --depth N directories deep. Names match exactly, or\n"
    "else by the one name that matches without regard to case. --json prints the\n"
    "values as one JSON object for scripts.\n";

int odbFailure(const std::string& message) {
  std::cerr << "tarn odb: " << message << "\n";
  return 1;
}

// The dump's text: the first begin-of-run event's, or the last end-of-run one's.
bool readDump(const std::string& file, bool endOfRun, std::string& text) {
  TRunFile reader;
  if (!reader.Open(file.c_str())) return false;
  TMidasEvent event;
  bool found = false;
  while (reader.ReadInPlace(&event)) {
    const uint16_t id = event.GetEventId();
    if (id != (endOfRun ? 0x8001 : 0x8000)) continue;
    const char* data = event.GetData();
    text.assign(data, data + event.GetDataSize());
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    found = true;
    if (!endOfRun) break;
  }
  return found;
}

bool integerType(const std::string& t) {
  for (const char* n : {"BYTE", "SBYTE", "WORD", "SHORT", "DWORD", "INT", "BITFIELD", "INT64", "UINT64"})
    if (t == n) return true;
  return false;
}

// One value typed for JSON: numbers as numbers, flags as true and false.
nlohmann::ordered_json typed(const std::string& type, const std::string& text) {
  char* end = nullptr;
  if (type == "BOOL") return text == "y" || text == "1";
  if (integerType(type) && !text.empty()) {
    const bool negative = text[0] == '-';
    const long long s = negative ? std::strtoll(text.c_str(), &end, 10) : 0;
    const unsigned long long u = negative ? 0 : std::strtoull(text.c_str(), &end, 10);
    if (*end == '\0') return negative ? nlohmann::ordered_json(s) : nlohmann::ordered_json(u);
  }
  if ((type == "FLOAT" || type == "DOUBLE") && !text.empty()) {
    const double d = std::strtod(text.c_str(), &end);
    if (*end == '\0') return d;
  }
  return text;
}

nlohmann::ordered_json asJson(const OdbItem& item, int depth) {
  xmlNode* node = item.node;
  if (odbIsDirectory(node)) {
    nlohmann::ordered_json dir = nlohmann::ordered_json::object();
    if (depth == 0) return dir;
    for (xmlNode* e : odbEntries(node)) dir[odbName(e)] = asJson(OdbItem{e, -1}, depth - 1);
    return dir;
  }
  const std::string type = odbType(node);
  const std::vector<std::string> values = odbValues(node);
  if (item.index >= 0) return typed(type, values[item.index]);
  if (xmlStrEqual(node->name, BAD_CAST "key")) return typed(type, values[0]);
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const std::string& v : values) list.push_back(typed(type, v));
  return list;
}

// A value as a person reads it: arrays as the whole list, texts in quotes there.
std::string shown(const xmlNode* key, int index) {
  const std::vector<std::string> values = odbValues(key);
  if (index >= 0) return values[index];
  if (xmlStrEqual(key->name, BAD_CAST "key")) return values[0];
  const bool text = odbType(key) == "STRING" || odbType(key) == "LINK";
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i)
    out += (i ? ", " : "") + (text ? nlohmann::ordered_json(values[i]).dump() : values[i]);
  return out + "]";
}

void printTree(const xmlNode* dir, int depth, int indent) {
  for (xmlNode* e : odbEntries(dir)) {
    const std::string pad(2 * indent, ' ');
    if (odbIsDirectory(e)) {
      std::cout << pad << odbName(e) << "/\n";
      if (depth != 1) printTree(e, depth - 1, indent + 1);
      continue;
    }
    std::string type = odbType(e);
    if (xmlStrEqual(e->name, BAD_CAST "keyarray")) type += "[" + std::to_string(odbValues(e).size()) + "]";
    std::string name = odbName(e);
    if (name.size() < 24) name.resize(24, ' ');
    if (type.size() < 11) type.resize(11, ' ');
    std::cout << pad << name << " " << type << " " << shown(e, -1) << "\n";
  }
}

}  // namespace

int odbCommand(int argc, char** argv) {
  std::vector<std::string> paths;
  std::string run;
  bool endOfRun = false, json = false;
  int depth = -1;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::cout << kOdbUsage;
      return 0;
    } else if (a == "--eor") {
      endOfRun = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--depth" && i + 1 < argc) {
      char* end = nullptr;
      depth = static_cast<int>(std::strtol(argv[++i], &end, 10));
      if (*end != '\0' || depth < 1) {
        std::cerr << "tarn odb: --depth needs a number above 0\n" << kOdbUsage;
        return 2;
      }
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      std::cerr << "tarn odb: unknown option " << a << "\n" << kOdbUsage;
      return 2;
    } else if (run.empty()) {
      run = a;
    } else {
      paths.push_back(a);
    }
  }
  if (run.empty()) {
    std::cerr << "tarn odb: no run given\n" << kOdbUsage;
    return 2;
  }
  const std::string file = findRunFile(run);
  if (file.empty()) return odbFailure("no such run: " + run);
  std::string text;
  if (!readDump(file, endOfRun, text))
    return odbFailure(std::string("no ") + (endOfRun ? "end" : "begin") + "-of-run ODB dump in " + file);
  const OdbDocument dump(text.c_str());
  if (paths.empty()) paths.push_back("/");

  nlohmann::ordered_json all = nlohmann::ordered_json::object();
  for (const std::string& path : paths) {
    OdbItem item;
    std::string error;
    if (!odbResolve(dump, path, item, error)) return odbFailure(error);
    if (json) {
      all[path] = asJson(item, depth);
    } else if (odbIsDirectory(item.node)) {
      printTree(item.node, depth, 0);
    } else {
      std::cout << shown(item.node, item.index) << "\n";
    }
  }
  if (json) std::cout << all.dump(2) << "\n";
  return 0;
}
