// Any bytes as an event's data area: walking, listing, looking up, printing,
// swapping and copying must stay inside the area.
#include <cstring>
#include <vector>

#include "FuzzTarget.h"
#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "TMidasEvent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > TMidasEvent::kMaxDataSize) return 0;
  // SetData swaps in place. The replay driver hands over a writable copy that
  // ends at an unreadable page; libFuzzer's input must stay untouched.
#ifdef TARN_LIBFUZZER
  std::vector<char> area(data, data + size);
  char* own = area.data();
#else
  char* own = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
#endif
  TMidasEvent event;
  event.GetEventHeader()->fEventId = 1;
  event.SetData(static_cast<unsigned>(size), own);
  const int banks = event.SetBankList();
  const char* list = event.GetBankList();
  for (int i = 0; list && i < banks; ++i) {
    int length = 0, type = 0;
    void* bank = nullptr;
    event.FindBank(list + 4 * i, &length, &type, &bank);
  }
  Bank_t* b16 = nullptr;
  Bank32_t* b32 = nullptr;
  char* d = nullptr;
  while (event.IterateBank(&b16, &d)) {}
  while (event.IterateBank32(&b32, &d)) {}
  event.Print("a");  // the drivers send stdout to /dev/null
  TMidasEvent copy(event);
  copy.SwapBytes(true);
  copy.SwapBytes(true);
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  for (bool bank32 : {false, true}) {
    synth::RunSpec spec;
    spec.events = 6;
    spec.bank32 = bank32;
    spec.modules = true;
    for (uint32_t i = 0; i < spec.events; ++i)
      for (bool swapped : {false, true})
        seeds.push_back(synth::encodeDataArea(synth::makeEvent(spec, i), swapped));
  }
  return seeds;
}
