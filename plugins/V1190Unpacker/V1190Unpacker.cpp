#include "V1190Unpacker.h"

#include <algorithm>

#include "BankWords.h"
#include "Plugin.h"
#include "TMidasEvent.h"
#include "V1190Word.h"

// Build with -DV1190_TRACE=1 (CMake option V1190_TRACE) to print every known
// word as it is decoded; there is no run-time switch.
#ifndef V1190_TRACE
#define V1190_TRACE 0
#endif

namespace {
constexpr bool kTrace = V1190_TRACE != 0;
}

V1190Unpacker::V1190Unpacker(std::string& n)
    : StrandUnpacker(n, "Decode Midas events from V1190 modules", "V1190") {}

void V1190Unpacker::Init() {
  registerProperty("TDCChannel", TARN_SHORT_V, StrandBinning(128.0, 0.0, 128), &channels);
  registerProperty("TDCValue", TARN_SHORT_V, StrandBinning(262144.0, 0.0, 262144), &times);
  registerProperty("TDCEdge", TARN_SHORT_V, StrandBinning(), &edges);
  strandEvent->SetBinnings();
}

// A hit goes before the first stored time that exceeds its full 18-bit time,
// so equal times keep their order of arrival. The stored times are the low
// 16 bits read as signed: a time above 32767 is stored negative and later,
// smaller times go after it. The first stored time above t is where the
// running maximum of the stored times first exceeds t, and that maximum
// never falls, so a binary search finds it.
void V1190Unpacker::insertHit(uint32_t w) {
  const long time = static_cast<long>(v1190::time(w));
  const size_t k = std::upper_bound(ceilings.begin(), ceilings.end(), time,
                                    [](long t, short c) { return t < c; }) -
                   ceilings.begin();
  const short stored = static_cast<short>(static_cast<uint16_t>(time));
  // The stored value never exceeds the time, and every maximum from k on
  // already exceeds it: only the new entry's own maximum is new.
  const short ceiling = k == 0 ? stored : std::max(ceilings[k - 1], stored);
  ceilings.insert(ceilings.begin() + k, ceiling);
  times.insert(times.begin() + k, stored);
  channels.insert(channels.begin() + k, static_cast<short>(v1190::channel(w)));
  edges.insert(edges.begin() + k, static_cast<short>(v1190::edge(w)));
}

int V1190Unpacker::unpack(TMidasEvent& event) {
  const void* data = nullptr;
  int words = 0;
  const int n = locateBank(event, &data, &words);
  strandEvent->Reset();
  channels.clear();
  times.clear();
  edges.clear();
  ceilings.clear();
  for (int i = 0; i < words; ++i) {
    const uint32_t w = bankWord(data, i);
    const uint32_t t = v1190::type(w);
    if (!v1190::isKnown(t)) {
      v1190::reportUnexpected(w);
      continue;
    }
    if (kTrace) v1190::traceWord(w);
    if (t == v1190::kHit) insertHit(w);
  }
  if (n != 0) SendOutput(0, strandEvent);
  return 0;
}

TARN_PLUGIN(V1190Unpacker)
