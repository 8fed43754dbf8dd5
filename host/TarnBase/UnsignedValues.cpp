#include "UnsignedValues.h"

#include <atomic>
#include <mutex>
#include <unordered_set>

namespace {

std::mutex lock;
std::atomic<unsigned> version{0};

std::unordered_set<const void*>& marked() {
  static std::unordered_set<const void*> lists;
  return lists;
}

}  // namespace

void tarn_values_unsigned(const void* container, int isUnsigned) {
  if (!container) return;
  std::lock_guard<std::mutex> hold(lock);
  const bool changed = isUnsigned ? marked().insert(container).second : marked().erase(container) > 0;
  if (changed) version.fetch_add(1, std::memory_order_acq_rel);
}

bool valuesUnsigned(const void* container) {
  std::lock_guard<std::mutex> hold(lock);
  return marked().count(container) > 0;
}

unsigned unsignedValuesVersion() { return version.load(std::memory_order_acquire); }
