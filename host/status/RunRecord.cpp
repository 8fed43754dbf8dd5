#include "RunRecord.h"

#include <mutex>

namespace {

std::mutex lock;

RunRecord& record() {
  static RunRecord r;
  return r;
}

}  // namespace

void tarn_run_file_opened(const char* path) {
  if (!path) return;
  std::lock_guard<std::mutex> hold(lock);
  // A source reset to its beginning opens the same file again.
  std::vector<std::string>& files = record().files;
  if (files.empty() || files.back() != path) files.push_back(path);
}

void tarn_run_began(unsigned run) {
  std::lock_guard<std::mutex> hold(lock);
  record().number = run;
}

RunRecord currentRun() {
  std::lock_guard<std::mutex> hold(lock);
  return record();
}
