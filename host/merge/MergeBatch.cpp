// A batch's merge: a file is matched across runs by its path inside the run's
// directory with the run's name replaced by "all": DIR/run00001/run00001_ADCValue.csv
// and its peers become DIR/merged/all_ADCValue.csv; a path that several runs
// share as it is (spectra.h5) is its own match. Histogrammer tables are summed,
// Hdf5Writer files joined; DIR/merged/ keeps only what the last merge made.
#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Merge.h"
#include "MergedList.h"

namespace merge {

namespace {

bool endsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// `path` with each whole-word `name` in it replaced by "all": not where it is
// part of a longer word, so that a run named "a" leaves "spectra.h5" alone.
std::string matchKey(std::string path, const std::string& name) {
  auto word = [&](size_t i) { return i < path.size() && std::isalnum(static_cast<unsigned char>(path[i])); };
  for (size_t at = path.find(name); at != std::string::npos; at = path.find(name, at + 1)) {
    if ((at > 0 && word(at - 1)) || word(at + name.size())) continue;
    path.replace(at, name.size(), "all");
  }
  return path;
}

// The regular files under `root` (paths relative to it), hidden ones (the
// temporary files of writers still at work) left out.
void walk(const std::string& root, const std::string& relative, std::vector<std::string>& files) {
  DIR* d = ::opendir((root + "/" + relative).c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    const std::string path = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (::lstat((root + "/" + path).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) walk(root, path, files);
    else if (S_ISREG(st.st_mode)) files.push_back(path);
  }
  ::closedir(d);
}

// Makes every directory of `path` up to its last '/'; false with `error`.
bool makeParents(const std::string& path, std::string& error) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string dir = path.substr(0, slash);
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
      error = dir + ": " + std::strerror(errno);
      return false;
    }
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      error = dir + ": " + std::strerror(ENOTDIR);
      return false;
    }
  }
  return true;
}

using Matched = std::map<std::string, std::vector<Source>>;

// The result files of the runs, grouped by what they are a copy of. A path
// that more than one run holds as it is names the same file in each (a run
// named "spectra" does not make its spectra.h5 into all.h5 while the others'
// stay spectra.h5); other paths are matched with the run's name replaced.
Matched matchFiles(const std::string& dir, const std::vector<Run>& runs) {
  std::vector<std::vector<std::string>> files(runs.size());
  std::map<std::string, int> holders;  // runs holding each path as it is
  for (size_t k = 0; k < runs.size(); ++k) {
    walk(dir + "/" + runs[k].name, "", files[k]);
    for (const std::string& f : files[k]) ++holders[f];
  }
  Matched matched;
  for (size_t k = 0; k < runs.size(); ++k) {
    const Run& run = runs[k];
    std::set<std::string> keys;
    for (const std::string& f : files[k]) {
      if (f == "stdout" || f == "stderr" || f == "status.json" || f == "subruns.txt") continue;
      const std::string key = holders[f] > 1 ? f : matchKey(f, run.name);
      if (!keys.insert(key).second) {
        std::cerr << "tarn merge: " << dir << "/" << run.name << "/" << f << ": a second file that becomes " << key
                  << "; skipped\n";
        continue;
      }
      matched[key].push_back({&run, dir + "/" + run.name + "/" + f});
    }
  }
  return matched;
}

// Merges each group into DIR/merged/; the paths written are added to `made`.
bool mergeMatched(const std::string& dir, const Matched& matched, size_t runCount, std::vector<std::string>& made) {
  bool clean = true;
  for (const auto& entry : matched) {
    const std::string& key = entry.first;
    const std::vector<Source>& sources = entry.second;
    const bool table = endsWith(key, ".csv"), hdf5 = endsWith(key, ".h5") || endsWith(key, ".hdf5");
    if (endsWith(key, ".png") && matched.count(key.substr(0, key.size() - 4) + ".csv")) continue;  // drawn anew
    if (!table && !hdf5) {
      std::cerr << "tarn merge: " << key << ": neither a table (.csv) nor an HDF5 file (.h5); not merged\n";
      continue;
    }
    if (sources.size() < runCount)
      std::cerr << "tarn merge: " << key << ": in " << sources.size() << " of " << runCount
                << " finished runs; merged from those\n";
    const std::string target = dir + "/merged/" + key;
    std::string error;
    if (!makeParents(target, error)) {
      std::cerr << "tarn merge: cannot write " << target << ": " << error << "\n";
      clean = false;
      continue;
    }
    if (!(table ? mergeTables(target, sources, made) : mergeHdf5(target, sources, made))) clean = false;
  }
  return clean;
}

}  // namespace

int mergeBatch(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::vector<Run> runs;
  std::string error;
  if (!finishedRuns(dir, runs, error)) {
    std::cerr << "tarn merge: " << error << "\n";
    return 2;
  }
  if (runs.empty()) {
    std::cerr << "tarn merge: no finished run in " << dir << "\n";
    return 1;
  }
  const std::string merged = dir + "/merged";
  const std::set<std::string> earlier = readMergedList(merged);
  const Matched matched = matchFiles(dir, runs);
  std::vector<std::string> made;
  bool clean = mergeMatched(dir, matched, runs.size(), made);
  if (matched.empty()) {
    std::cerr << "tarn merge: the finished runs in " << dir << " hold no result files\n";
    clean = false;
  }
  std::set<std::string> relative;
  for (const std::string& path : made) relative.insert(path.substr(merged.size() + 1));
  return replaceMergedList(merged, earlier, relative) && clean ? 0 : 1;
}

}  // namespace merge
