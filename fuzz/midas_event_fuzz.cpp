// Any bytes as an event's data area: walking, listing, looking up, printing,
// swapping and copying must stay inside the area.
#include <cstring>
#include <vector>

#include "FuzzTarget.h"
#include "FuzzEvents.h"
#include "TMidasEvent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> keep;
  TMidasEvent event;
  if (!eventFromInput(data, size, keep, event)) return 0;
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

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() { return moduleEventSeeds(6, true); }
