#include "RunStatus.h"

#include <atomic>

namespace {
std::atomic<unsigned> failures{0};
}

void tarn_run_failed(void) { failures.fetch_add(1, std::memory_order_relaxed); }

unsigned tarn_run_failures(void) { return failures.load(std::memory_order_relaxed); }
