#include "Mdi2Unpacker.h"

#include <iostream>
#include <limits>

#include "BankWords.h"
#include "Mdi2Word.h"
#include "Plugin.h"
#include "TMidasEvent.h"

Mdi2Unpacker::Mdi2Unpacker(std::string& n)
    : StrandUnpacker(n, "Decode Midas events from MDI2 modules", "MDI2"), timestamp(0) {}

void Mdi2Unpacker::Init() {
  registerProperty("ADCBusNo", TARN_SHORT_V, StrandBinning(2.0, 0.0, 2), &adcBus);
  registerProperty("TDCBusNo", TARN_SHORT_V, StrandBinning(2.0, 0.0, 2), &tdcBus);
  registerProperty("ADCSampleNo", TARN_SHORT_V, StrandBinning(), &adcSample);
  registerProperty("ADCValue", TARN_SHORT_V, StrandBinning(4096.0, 0.0, 4096), &adcValues);
  registerProperty("TDCValue", TARN_SHORT_V, StrandBinning(4096.0, 0.0, 4096), &tdcValues);
  registerProperty("Overflow", TARN_SHORT_V, StrandBinning(), &overflow);
  registerProperty("MTimestamp", TARN_INT, StrandBinning(), &timestamp);
  strandEvent->SetBinnings();
}

void Mdi2Unpacker::tdcDatum(uint32_t w) {
  if (mdi2::outOfRange(w)) std::cout << "TDC overflow!" << std::endl;
  tdcBus.push_back(static_cast<short>(mdi2::bus(w)));
  tdcValues.push_back(static_cast<short>(mdi2::value(w)));
}

int Mdi2Unpacker::unpack(TMidasEvent& event) {
  const void* data = nullptr;
  int words = 0;
  const int n = locateBank(event, &data, &words);
  strandEvent->Reset();
  adcBus.clear();
  adcSample.clear();
  adcValues.clear();
  tdcBus.clear();
  tdcValues.clear();
  for (int i = 0; i < words; ++i) {
    const uint32_t w = bankWord(data, i);
    switch (mdi2::wordClass(w)) {
      case mdi2::kHeader: mdi2::reportBufferOverflow(name, w); break;
      case mdi2::kDatum:
        if (mdi2::kind(w) == mdi2::kAdc)
          mdi2::appendAdcDatum(w, {adcSample, adcBus, adcValues, overflow});
        else if (mdi2::kind(w) == mdi2::kTdc)
          tdcDatum(w);
        break;
      case mdi2::kTimestamp: timestamp = static_cast<int32_t>(mdi2::timestamp(w)); break;
      default: break;
    }
  }
  if (n != 0) SendOutput(0, strandEvent);
  return 0;
}

TARN_PLUGIN(Mdi2Unpacker)
