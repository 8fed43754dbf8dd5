#include "RunStatus.h"

#include <atomic>
#include <mutex>

namespace {
std::atomic<unsigned> failures{0};
std::atomic<unsigned> rejected{0};
std::mutex reasonsLock;
std::vector<std::string> reasons;
}  // namespace

void tarn_run_failed(void) { failures.fetch_add(1, std::memory_order_relaxed); }

void tarn_run_failed_because(const char* node, const char* reason) {
  {
    std::lock_guard<std::mutex> hold(reasonsLock);
    reasons.push_back(std::string(node ? node : "?") + ": " + (reason ? reason : "failed"));
  }
  tarn_run_failed();
}

unsigned tarn_run_failures(void) { return failures.load(std::memory_order_relaxed); }

void tarn_setting_rejected(void) { rejected.fetch_add(1, std::memory_order_relaxed); }

unsigned tarn_settings_rejected(void) { return rejected.load(std::memory_order_relaxed); }

std::vector<std::string> runFailureReasons() {
  std::lock_guard<std::mutex> hold(reasonsLock);
  return reasons;
}
