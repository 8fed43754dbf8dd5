// Unpacks the bank of an IO32 timing board: the board time stamp, the scaler
// words and the time stamps of inputs 0 to 3.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Io32Bank.h"
#include "StrandUnpacker.h"

class Io32Unpacker : public StrandUnpacker {
 public:
  explicit Io32Unpacker(std::string& name);

  void Init() override;

 protected:
  // 1, changing nothing and sending nothing, when the bank is missing or
  // shorter than three words.
  int unpack(TMidasEvent& event) override;

 private:
  io32::Contents bank;
  // The properties are lists of 32-bit ints (type 21); the unsigned words are
  // kept with their bits unchanged, so readers see the same 32 bits.
  uint32_t boardTimestamp;                             // "ScTimestamp"
  std::vector<int> scalers;                            // "Scaler"
  std::array<std::vector<int>, io32::kInputs> stamps;  // "Timestamp0" .. "Timestamp3"
};
