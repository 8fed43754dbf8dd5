// tarn-merge DIR (run as `tarn merge DIR`): combines the result files of a
// batch's finished runs into DIR/merged/. A file is matched across runs by its
// path inside the run's directory with the run's name replaced by "all":
// DIR/run00001/run00001_ADCValue.csv and its peers become
// DIR/merged/all_ADCValue.csv. Histogrammer tables are summed, Hdf5Writer
// files joined. Exit status: 0 all merged, 1 something skipped or not
// written, 2 a mistake on the command line.
#include <dirent.h>
#include <getopt.h>
#include <sys/stat.h>

#include <hdf5.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Merge.h"

namespace {

const char kUsage[] =
    "usage: tarn merge DIR   combine the results of the finished runs of the batch in DIR\n"
    "                        into DIR/merged/ (tables summed, HDF5 files joined)\n";

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

// The batch directory the command line names; false with the exit status when
// there is none to merge (help asked for, or a mistake).
bool parseArgs(int argc, char** argv, std::string& dir, int& status) {
  static const option kOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
  std::vector<std::string> positional;
  // '-': the directory comes back in order; ':': no messages of getopt's own.
  for (int c; (c = ::getopt_long(argc, argv, "-:h", kOptions, nullptr)) != -1;) {
    if (c == 'h') {
      std::cout << kUsage;
      status = 0;
      return false;
    }
    if (c != 1) {
      std::cerr << "tarn merge: unknown option " << argv[optind - 1] << "\n" << kUsage;
      status = 2;
      return false;
    }
    positional.push_back(optarg);
  }
  for (int i = optind; i < argc; ++i) positional.push_back(argv[i]);  // after a lone --
  if (positional.size() != 1) {
    std::cerr << "tarn merge: " << (positional.empty() ? "no batch directory" : "takes one batch directory")
              << "\n" << kUsage;
    status = 2;
    return false;
  }
  dir = positional[0];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  int status = 0;
  if (!parseArgs(argc, argv, dir, status)) return status;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // Files that are not what they should be are reported here, once each, not by the library's stack dump.
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);

  std::vector<merge::Run> runs;
  std::string error;
  if (!merge::finishedRuns(dir, runs, error)) {
    std::cerr << "tarn merge: " << error << "\n";
    return 2;
  }
  if (runs.empty()) {
    std::cerr << "tarn merge: no finished run in " << dir << "\n";
    return 1;
  }

  std::map<std::string, std::vector<merge::Source>> matched;
  for (const merge::Run& run : runs) {
    std::vector<std::string> files;
    walk(dir + "/" + run.name, "", files);
    std::set<std::string> keys;
    for (const std::string& f : files) {
      if (f == "stdout" || f == "stderr" || f == "status.json" || f == "subruns.txt") continue;
      const std::string key = matchKey(f, run.name);
      if (!keys.insert(key).second) {
        std::cerr << "tarn merge: " << dir << "/" << run.name << "/" << f << ": a second file that becomes " << key
                  << "; skipped\n";
        continue;
      }
      matched[key].push_back({&run, dir + "/" + run.name + "/" + f});
    }
  }

  bool clean = true;
  for (const auto& entry : matched) {
    const std::string& key = entry.first;
    const std::vector<merge::Source>& sources = entry.second;
    const bool table = endsWith(key, ".csv"), hdf5 = endsWith(key, ".h5") || endsWith(key, ".hdf5");
    if (endsWith(key, ".png") && matched.count(key.substr(0, key.size() - 4) + ".csv")) continue;  // drawn anew
    if (!table && !hdf5) {
      std::cerr << "tarn merge: " << key << ": neither a table (.csv) nor an HDF5 file (.h5); not merged\n";
      continue;
    }
    if (sources.size() < runs.size())
      std::cerr << "tarn merge: " << key << ": in " << sources.size() << " of " << runs.size()
                << " finished runs; merged from those\n";
    const std::string target = dir + "/merged/" + key;
    if (!makeParents(target, error)) {
      std::cerr << "tarn merge: cannot write " << target << ": " << error << "\n";
      clean = false;
      continue;
    }
    if (!(table ? merge::mergeTables(target, sources) : merge::mergeHdf5(target, sources))) clean = false;
  }
  if (matched.empty()) {
    std::cerr << "tarn merge: the finished runs in " << dir << " hold no result files\n";
    clean = false;
  }
  if (merge::hdf5CloseFailed()) {
    // What failed to close is discarded and all else is closed: nothing is lost.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(1);
  }
  return clean ? 0 : 1;
}
