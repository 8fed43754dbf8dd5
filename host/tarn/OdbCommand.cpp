// `tarn odb RUN [PATH...]`: what a run's begin-of-run (or end-of-run) ODB
// dump holds, without writing a graph.
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CommandOptions.h"
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

struct OdbOptions {
  std::vector<std::string> paths;
  std::string run;
  bool endOfRun = false, json = false;
  int depth = -1;
};

int odbUsageError(const std::string& message) {
  std::cerr << "tarn odb: " << message << "\n" << kOdbUsage;
  return 2;
}

// -1 when the dump is to be shown, else the exit status.
int parseOdbOptions(int argc, char** argv, OdbOptions& o) {
  enum { kEor = 256, kJson, kDepth };
  static const option longOptions[] = {{"help", no_argument, nullptr, 'h'},
                                       {"eor", no_argument, nullptr, kEor},
                                       {"json", no_argument, nullptr, kJson},
                                       {"depth", required_argument, nullptr, kDepth},
                                       {nullptr, 0, nullptr, 0}};
  startOptions();
  for (int c; (c = getopt_long(argc, argv, ":h", longOptions, nullptr)) != -1;) {
    if (c == 'h') {
      std::cout << kOdbUsage;
      return 0;
    } else if (c == kEor) {
      o.endOfRun = true;
    } else if (c == kJson) {
      o.json = true;
    } else if (c == kDepth) {
      char* end = nullptr;
      const long depth = std::strtol(optarg, &end, 10);
      if (*end != '\0' || depth < 1 || depth > 1000000) return odbUsageError("--depth needs a number above 0");
      o.depth = static_cast<int>(depth);
    } else {
      return odbUsageError((c == ':' ? "" : "unknown option ") + refusedOption(argv) +
                           (c == ':' ? " needs a value" : ""));
    }
  }
  for (int i = optind; i < argc; ++i) {
    if (o.run.empty())
      o.run = argv[i];
    else
      o.paths.push_back(argv[i]);  // an ODB path; one beginning with '-' comes after "--"
  }
  return o.run.empty() ? odbUsageError("no run given") : -1;
}

}  // namespace

int odbCommand(int argc, char** argv) {
  OdbOptions o;
  // argv[0] stands for the subcommand's own name, as getopt_long expects.
  const int parsed = parseOdbOptions(argc + 1, argv - 1, o);
  if (parsed >= 0) return parsed;
  const std::string& run = o.run;
  std::vector<std::string>& paths = o.paths;
  const bool endOfRun = o.endOfRun, json = o.json;
  const int depth = o.depth;
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
