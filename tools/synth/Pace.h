// Writing a run at the pace of a running experiment: event i is due i/rate
// seconds after the first, whatever the time the writing itself took.
#pragma once

#include <chrono>
#include <cstdint>

namespace synth {

class Pacer {
 public:
  explicit Pacer(double eventsPerSecond);
  // Sleeps until event `index` (from 0) is due; at once when it is already late.
  void wait(uint64_t index) const;

 private:
  double rate;
  std::chrono::steady_clock::time_point start;
};

// A rate in events per second: a positive decimal number up to 1e7.
bool parseRate(const char* text, double& rate);

}  // namespace synth
