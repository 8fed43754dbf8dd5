// Unpacks the bank of MADC and TDC converters read over an MDI2 bus: per datum
// its bus, sample number and value, counts of out-of-range ADC data per sample
// number, and the module time stamp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StrandUnpacker.h"

class Mdi2Unpacker : public StrandUnpacker {
 public:
  explicit Mdi2Unpacker(std::string& name);

  void Init() override;

 protected:
  int unpack(TMidasEvent& event) override;

 private:
  void tdcDatum(uint32_t w);

  // Cleared for every event.
  std::vector<short> adcBus;     // "ADCBusNo"
  std::vector<short> tdcBus;     // "TDCBusNo"
  std::vector<short> adcSample;  // "ADCSampleNo"
  std::vector<short> adcValues;  // "ADCValue": -1 when out of range
  std::vector<short> tdcValues;  // "TDCValue"
  // Kept across events.
  std::vector<short> overflow;  // "Overflow": out-of-range ADC data per sample number
  int32_t timestamp;            // "MTimestamp": that of the last time stamp word
};
