#include "Pace.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace synth {

Pacer::Pacer(double eventsPerSecond) : rate(eventsPerSecond), start(std::chrono::steady_clock::now()) {}

void Pacer::wait(uint64_t index) const {
  const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(double(index) / rate));
  std::this_thread::sleep_until(due);
}

bool parseRate(const char* text, double& rate) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const double r = std::strtod(text, &end);
  if (errno || *end || !std::isfinite(r) || r <= 0 || r > 1e7) return false;
  rate = r;
  return true;
}

}  // namespace synth
