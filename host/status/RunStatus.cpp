#include "RunStatus.h"

#include <atomic>
#include <mutex>

namespace {
std::atomic<unsigned> failures{0};
std::atomic<unsigned> rejected{0};
std::mutex reasonsLock;
std::vector<std::string> reasons;
std::vector<std::string> damage;

std::string nodeSays(const char* node, const char* reason, const char* otherwise) {
  return std::string(node ? node : "?") + ": " + (reason ? reason : otherwise);
}
}  // namespace

void tarn_run_failed(void) { failures.fetch_add(1, std::memory_order_relaxed); }

void tarn_run_failed_because(const char* node, const char* reason) {
  {
    std::lock_guard<std::mutex> hold(reasonsLock);
    reasons.push_back(nodeSays(node, reason, "failed"));
  }
  tarn_run_failed();
}

void tarn_run_damaged(const char* node, const char* reason) {
  std::lock_guard<std::mutex> hold(reasonsLock);
  damage.push_back(nodeSays(node, reason, "damaged"));
}

unsigned tarn_run_failures(void) { return failures.load(std::memory_order_relaxed); }

void tarn_setting_rejected(void) { rejected.fetch_add(1, std::memory_order_relaxed); }

unsigned tarn_settings_rejected(void) { return rejected.load(std::memory_order_relaxed); }

std::vector<std::string> runFailureReasons() {
  std::lock_guard<std::mutex> hold(reasonsLock);
  return reasons;
}

std::vector<std::string> runDamage() {
  std::lock_guard<std::mutex> hold(reasonsLock);
  return damage;
}
