// IO32 timing board bank, in 32-bit words (n words, S = word 2 as signed):
//
//   word        meaning
//   0           not read
//   1           board time stamp
//   2           S, the number of scaler words that follow
//   3 .. S+2    scalers
//   S+3         separator, not read
//   S+4 .. n-1  time stamps: input 31..28, time stamp 27..0
#pragma once

#include <cstdint>
#include <vector>

namespace io32 {

constexpr int kInputs = 4;

inline uint32_t input(uint32_t w) { return (w >> 28) & 0xF; }
inline uint32_t timestamp(uint32_t w) { return w & 0xFFFFFFF; }

struct Contents {
  uint32_t boardTimestamp = 0;
  std::vector<uint32_t> scalers;
  std::vector<std::vector<uint32_t>> stamps = std::vector<std::vector<uint32_t>>(kInputs);
  uint64_t droppedStamps = 0;  // time stamps of inputs above 3, which have no list
};

// False, changing nothing, for a bank of fewer than three words. Otherwise
// clears and refills `c`. Time stamps of inputs 4 to 15 are dropped (and
// counted): there is no list to hold them.
bool unpack(const void* data, int n, Contents& c);

}  // namespace io32
