#include "V785Unpacker.h"

#include "BankWords.h"
#include "Plugin.h"
#include "TMidasEvent.h"
#include "V785Word.h"

V785Unpacker::V785Unpacker(std::string& n)
    : StrandUnpacker(n, "Decode Midas events from V785 modules", "V785") {}

void V785Unpacker::Init() {
  registerProperty("ADCChannel", TARN_SHORT_V, StrandBinning(32.0, 0.0, 32), &channels);
  registerProperty("ADCValue", TARN_SHORT_V, StrandBinning(4096.0, 0.0, 4096), &values);
  strandEvent->SetBinnings();
}

// Largest value first; a value equal to earlier ones goes after them.
void V785Unpacker::insertDatum(uint32_t w) {
  const short value = static_cast<short>(v785::value(w));
  size_t k = 0;
  while (k < values.size() && values[k] >= value) ++k;
  values.insert(values.begin() + k, value);
  channels.insert(channels.begin() + k, static_cast<short>(v785::channel(w)));
}

int V785Unpacker::unpack(TMidasEvent& event) {
  const void* data = nullptr;
  int words = 0;
  const int n = locateBank(event, &data, &words);
  strandEvent->Reset();
  channels.clear();
  values.clear();
  for (int i = 0; i < words; ++i) {
    const uint32_t w = bankWord(data, i);
    if (v785::type(w) == v785::kDatum)
      insertDatum(w);
    else
      v785::reportOdd(w);  // header and end of block say nothing
  }
  if (n != 0) SendOutput(0, strandEvent);
  return 0;
}

TARN_PLUGIN(V785Unpacker)
