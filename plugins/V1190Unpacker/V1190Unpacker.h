// Unpacks the bank of a V1190 multi-hit TDC into lists of hits (channel, time,
// edge), kept in ascending order of time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StrandUnpacker.h"

class V1190Unpacker : public StrandUnpacker {
 public:
  explicit V1190Unpacker(std::string& name);

  void Init() override;

 protected:
  int unpack(TMidasEvent& event) override;

 private:
  void insertHit(uint32_t w);

  std::vector<short> channels;  // "TDCChannel"
  std::vector<short> times;     // "TDCValue": low 16 bits of each time
  std::vector<short> edges;     // "TDCEdge"
  std::vector<short> ceilings;  // largest stored time up to each entry
};
