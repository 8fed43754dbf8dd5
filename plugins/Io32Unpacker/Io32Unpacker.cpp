#include "Io32Unpacker.h"

#include "Plugin.h"
#include "TMidasEvent.h"

Io32Unpacker::Io32Unpacker(std::string& n)
    : StrandUnpacker(n, "Decode Midas events from IO32 modules", "IO32"), boardTimestamp(0) {}

void Io32Unpacker::Init() {
  registerProperty("Scaler", TARN_INT_V, StrandBinning(), &scalers);
  for (int i = 0; i < io32::kInputs; ++i)
    registerProperty("Timestamp" + std::to_string(i), TARN_INT_V, StrandBinning(), &stamps[i]);
  registerProperty("ScTimestamp", TARN_UINT32, StrandBinning(), &boardTimestamp);
  strandEvent->SetBinnings();
}

namespace {
void copyBits(const std::vector<uint32_t>& from, std::vector<int>& to) {
  to.resize(from.size());
  for (size_t i = 0; i < from.size(); ++i) to[i] = static_cast<int>(from[i]);
}
}  // namespace

int Io32Unpacker::unpack(TMidasEvent& event) {
  const void* data = nullptr;
  int words = 0;
  locateBank(event, &data, &words);
  // Only whole words count: a bank of another type may hold fewer than its
  // element count says.
  if (!io32::unpack(data, words, bank)) return 1;
  strandEvent->Reset();
  boardTimestamp = bank.boardTimestamp;
  copyBits(bank.scalers, scalers);
  for (int i = 0; i < io32::kInputs; ++i) copyBits(bank.stamps[i], stamps[i]);
  SendOutput(0, strandEvent);
  return 0;
}

TARN_PLUGIN(Io32Unpacker)
