#include "CurrentRun.h"

#include <map>
#include <mutex>

namespace {

std::mutex lock;

CurrentRun& record() {
  static CurrentRun r;
  return r;
}

std::map<std::string, std::string>& filesByNode() {
  static std::map<std::string, std::string> files;
  return files;
}

}  // namespace

void tarn_source_file(const char* node, const char* path) {
  if (!node || !path) return;
  std::lock_guard<std::mutex> hold(lock);
  filesByNode()[node] = path;
  // A source reset to its beginning opens the same file again.
  std::vector<std::string>& files = record().files;
  if (files.empty() || files.back() != path) files.push_back(path);
}

void tarn_run_began(unsigned run) {
  std::lock_guard<std::mutex> hold(lock);
  record().number = run;
}

CurrentRun currentRun() {
  std::lock_guard<std::mutex> hold(lock);
  return record();
}

std::string sourceFile(const std::string& node) {
  std::lock_guard<std::mutex> hold(lock);
  auto f = filesByNode().find(node);
  return f == filesByNode().end() ? std::string() : f->second;
}
