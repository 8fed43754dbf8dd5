// Unpacks the bank of a V785 ADC into lists of channels and values, kept in
// descending order of value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StrandUnpacker.h"

class V785Unpacker : public StrandUnpacker {
 public:
  explicit V785Unpacker(std::string& name);

  void Init() override;

 protected:
  int unpack(TMidasEvent& event) override;

 private:
  void insertDatum(uint32_t w);

  std::vector<short> channels;  // "ADCChannel"
  std::vector<short> values;    // "ADCValue"
};
