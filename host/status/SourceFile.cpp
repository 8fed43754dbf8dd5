#include "SourceFile.h"

#include <map>
#include <mutex>

namespace {
std::mutex lock;
std::map<std::string, std::string> files;  // by node name
}  // namespace

void tarn_source_file(const char* node, const char* path) {
  if (!node || !path) return;
  std::lock_guard<std::mutex> hold(lock);
  files[node] = path;
}

std::string sourceFile(const std::string& node) {
  std::lock_guard<std::mutex> hold(lock);
  auto f = files.find(node);
  return f == files.end() ? std::string() : f->second;
}
