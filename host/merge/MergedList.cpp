#include "MergedList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Batch.h"
#include "RecordFile.h"

namespace merge {

namespace {

// A path inside the merged directory: relative, without "." or ".." steps.
bool inside(const std::string& path) {
  if (path.empty() || path[0] == '/') return false;
  for (size_t start = 0; start <= path.size();) {
    const size_t slash = std::min(path.find('/', start), path.size());
    const std::string step = path.substr(start, slash - start);
    if (step.empty() || step == "." || step == "..") return false;
    start = slash + 1;
  }
  return true;
}

// Whether `path` is a regular file reached from `merged` through directories
// alone: a link planted on the way never leads a removal out of it.
bool regularFileInside(const std::string& merged, const std::string& path) {
  struct stat st;
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    if (::lstat((merged + "/" + path.substr(0, slash)).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return ::lstat((merged + "/" + path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::set<std::string> readMergedList(const std::string& merged) {
  std::string damage;
  const nlohmann::json list = readRecordFile(merged + "/" + kMergedList, damage);
  if (!damage.empty()) std::cerr << "tarn merge: " << damage << "; no file of an earlier merge removed\n";
  std::set<std::string> files;
  const auto made = list.is_object() ? list.find("made") : list.end();
  if (list.is_object() && made != list.end() && made->is_array())
    for (const nlohmann::json& f : *made)
      if (f.is_string() && inside(f.get<std::string>())) files.insert(f.get<std::string>());
  return files;
}

bool replaceMergedList(const std::string& merged, const std::set<std::string>& earlier,
                       const std::set<std::string>& made) {
  bool ok = true;
  std::set<std::string> listed = made;
  for (const std::string& f : earlier) {
    const std::string path = merged + "/" + f;
    if (made.count(f) || !regularFileInside(merged, f)) continue;
    if (::unlink(path.c_str()) == 0) {
      std::cout << path << ": removed, made by an earlier merge and not by this one\n";
    } else {
      std::cerr << "tarn merge: cannot remove " << path << ", left from an earlier merge: " << std::strerror(errno) << "\n";
      listed.insert(f);  // tried again next time
      ok = false;
    }
  }
  if (listed.empty() && earlier.empty()) return ok;
  std::string error;
  if (writeFileAtomically(merged + "/" + kMergedList, nlohmann::json{{"made", listed}}.dump(1) + "\n", error, false))
    return ok;
  std::cerr << "tarn merge: " << error << "\n";
  return false;
}

}  // namespace merge
