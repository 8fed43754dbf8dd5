// splitmix64: tiny, and the same numbers on every platform and library, so a
// seed always gives the same run.
#pragma once

#include <cstdint>

namespace synth {

class Random {
 public:
  explicit Random(uint64_t seed) : state(seed) {}
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return uint32_t(next() % n); }
  bool chance(uint32_t inN) { return below(inN) == 0; }

 private:
  uint64_t state;
};

}  // namespace synth
