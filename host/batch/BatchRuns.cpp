// The runs of a batch: names, the files found for them, their settings.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>

#include "Batch.h"
#include "RunSearch.h"

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

// The file `tarn run` will read for `run`: the one RunFile opens.
std::string findInput(const std::string& run) { return findRunFile(run); }

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

// A run's name split into the run and its sub-run: run00410sub0003 gives
// run00410 and 3; a name without a sub-run gives itself and -1.
std::string runOfSubrun(const std::string& name, long& subrun) {
  size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  subrun = -1;
  if (digits == name.size() || digits < 4 || name.size() - digits > 9 || name.compare(digits - 3, 3, "sub") != 0)
    return name;
  subrun = std::stol(name.substr(digits));
  return name.substr(0, digits - 3);
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  return std::string(::getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + path;
}

const char kRunList[] = "subruns.txt";

// {list}: RunFile looks for a list file in MIDASDATA always ("/" + the name
// when it is not set), so the list is named from there.
std::string listWord(const Batch& batch, const BatchRun& run) {
  const std::string list = absolutePath(runDirectory(batch, run) + "/" + kRunList);
  const char* data = std::getenv("MIDASDATA");
  if (!data || !*data) return list;
  char* real = ::realpath(data, nullptr);
  const std::string from = real ? real : absolutePath(data);
  std::free(real);
  std::string up;
  for (size_t at = from.find('/'); at != std::string::npos; at = from.find('/', at + 1))
    if (at + 1 < from.size() && from[at + 1] != '/') up += "../";
  return up + list.substr(1);
}

}  // namespace

bool groupSubruns(const std::vector<std::string>& files, std::vector<BatchRun>& runs, std::string& error) {
  std::map<std::string, size_t> byName;
  std::map<std::string, std::map<long, std::string>> parts;  // run name -> sub-run -> file
  for (const std::string& f : files) {
    long subrun = -1;
    const std::string name = runOfSubrun(runName(f), subrun);
    auto& subs = parts[name];
    auto same = subs.emplace(subrun, f);
    if (!same.second) {
      error = "runs " + same.first->second + " and " + f + " are both " +
              (subrun < 0 ? "run " + name : "sub-run " + std::to_string(subrun) + " of " + name);
      return false;
    }
    if (byName.emplace(name, runs.size()).second) runs.emplace_back();
  }
  for (const auto& n : byName) {
    BatchRun& r = runs[n.second];
    for (const auto& s : parts[n.first]) r.files.push_back(s.second);
    r.run = r.files.front();
  }
  return true;
}

bool writeRunList(const Batch& batch, const BatchRun& run, std::string& error) {
  std::string text;
  for (const std::string& in : run.inputs) text += absolutePath(in) + "\n";
  return writeFileAtomically(runDirectory(batch, run) + "/" + kRunList, text, error, false);
}

std::string missingFile(const BatchRun& run) {
  for (size_t k = 0; k < run.files.size() && k < run.inputs.size(); ++k)
    if (run.inputs[k].empty()) return run.files[k];
  return run.run;
}

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
    long subrun = -1;
    r.name = batch.byRun ? runOfSubrun(runName(r.run), subrun) : runName(r.run);
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
    std::map<std::string, std::string> words = {
        {"{run}", r.run}, {"{name}", r.name}, {"{out}", runDirectory(batch, r)}};
    if (batch.byRun) {
      if (r.files.empty()) r.files = {r.run};
      r.inputs.clear();
      for (const std::string& f : r.files) r.inputs.push_back(findInput(f));
      for (const std::string& in : r.inputs)
        if (in.empty()) r.input.clear();  // the run cannot be read whole
      words["{list}"] = listWord(batch, r);
    }
    r.settings.clear();
    for (const std::string& s : batch.settings) {
      if (batch.byRun && r.files.size() > 1 && s.find("{run}") != std::string::npos) {
        error = "run " + r.name + " has " + std::to_string(r.files.size()) + " sub-run files and {run} names only the "
                "first (in " + s + "); give RunFile all of them with -s NODE.listfile={list}";
        return false;
      }
      r.settings.push_back(replaceWords(s, words));
    }
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
  auto describe = [](const std::string& path, nlohmann::json& into) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return;
    into["input_size"] = static_cast<long long>(st.st_size);
    into["input_mtime_ns"] = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  };
  describe(run.input, in);
  // A run of several sub-run files is done again when any of them changed.
  if (run.inputs.size() > 1) {
    in["subruns"] = nlohmann::json::array();
    for (const std::string& path : run.inputs) {
      nlohmann::json one = {{"input", path}};
      describe(path, one);
      in["subruns"].push_back(one);
    }
  }
  return in;
}
