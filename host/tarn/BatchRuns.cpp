// The runs of a batch: names, the files found for them, their settings.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "Batch.h"

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string trim(const std::string& s) {
  const char* space = " \t\r\n";
  size_t b = s.find_first_not_of(space);
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(space) - b + 1);
}

std::string replaceWords(std::string text, const std::map<std::string, std::string>& words) {
  for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at)) {
    size_t end = text.find('}', at);
    if (end == std::string::npos) break;
    auto w = words.find(text.substr(at, end - at + 1));
    if (w == words.end()) {
      ++at;
      continue;
    }
    text.replace(at, end - at + 1, w->second);
    at += w->second.size();
  }
  return text;
}

bool isFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file `tarn run` will read for `run`: as given, in MIDASDATA, then the
// other gzip variant of both, as RunFile looks for it.
std::string findInput(const std::string& run) {
  const char* data = std::getenv("MIDASDATA");
  std::string dir = std::string(data ? data : "") + "/";
  std::vector<std::string> tries = {run, dir + run};
  std::string other = endsWith(run, ".gz") ? run.substr(0, run.size() - 3) : run + ".gz";
  tries.push_back(other);
  tries.push_back(dir + other);
  for (const std::string& t : tries)
    if (isFile(t)) return t;
  return "";
}

// FNV-1a: stable across builds and machines, enough to notice an edited graph.
std::string contentHash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint64_t h = 1469598103934665603ull;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      h ^= static_cast<unsigned char>(buf[i]);
      h *= 1099511628211ull;
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

}  // namespace

std::string runName(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') == std::string::npos
                                     ? 0
                                     : path.find_last_of('/') + 1);
  for (const char* suffix : {".gz", ".lz4", ".bz2", ".zst"})
    if (endsWith(name, suffix)) {
      name.resize(name.size() - std::string(suffix).size());
      break;
    }
  if (endsWith(name, ".mid")) name.resize(name.size() - 4);
  return name;
}

bool expandRuns(const std::vector<std::string>& given, std::vector<std::string>& runs,
                std::string& error) {
  for (const std::string& g : given) {
    if (g.empty() || g[0] != '@') {
      runs.push_back(g);
      continue;
    }
    std::ifstream list(g.substr(1));
    if (!list) {
      error = "cannot read the run list " + g.substr(1);
      return false;
    }
    std::string line;
    while (std::getline(list, line)) {
      line = trim(line);
      if (!line.empty() && line[0] != '#') runs.push_back(line);
    }
  }
  return true;
}

bool prepareRuns(Batch& batch, std::string& error) {
  std::map<std::string, std::string> seen;
  for (size_t k = 0; k < batch.runs.size(); ++k) {
    BatchRun& r = batch.runs[k];
    r.index = static_cast<int>(k);
    r.name = runName(r.run);
    if (r.name.empty() || r.name == "." || r.name == ".." || r.name == "merged") {
      error = "run " + r.run + " gives the name '" + r.name + "', which cannot be its directory";
      return false;
    }
    auto same = seen.emplace(r.name, r.run);
    if (!same.second) {
      error = "runs " + same.first->second + " and " + r.run + " have the same name '" + r.name +
              "'; one's output would overwrite the other's";
      return false;
    }
    r.input = findInput(r.run);
    const std::map<std::string, std::string> words = {
        {"{run}", r.run}, {"{name}", r.name}, {"{out}", runDirectory(batch, r)}};
    r.settings.clear();
    for (const std::string& s : batch.settings) r.settings.push_back(replaceWords(s, words));
  }
  return true;
}

std::string runDirectory(const Batch& batch, const BatchRun& run) {
  return batch.out + "/" + run.name;
}

nlohmann::json runInputs(const Batch& batch, const BatchRun& run) {
  nlohmann::json in = {{"graph", batch.graph},
                       {"graph_hash", contentHash(batch.graph)},
                       {"settings", run.settings},
                       {"input", run.input}};
  struct stat st;
  if (!run.input.empty() && ::stat(run.input.c_str(), &st) == 0) {
    in["input_size"] = static_cast<long long>(st.st_size);
    in["input_mtime_ns"] =
        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  }
  return in;
}
