// What the event fuzz targets share: an input made into an event's data area,
// and well-formed events with module banks to start mutating from.
#pragma once

#include <cstdint>
#include <vector>

#include "MidasSynth.h"
#include "TMidasEvent.h"

// Points `event` (id 1) at the input as its data area. SetData swaps in place:
// the replay driver hands over a writable copy that ends at an unreadable
// page, while libFuzzer's input must stay untouched, so it is copied to `keep`.
// False for sizes an event cannot have.
inline bool eventFromInput(const uint8_t* data, size_t size, std::vector<char>& keep,
                           TMidasEvent& event) {
  if (size < 1 || size > TMidasEvent::kMaxDataSize) return false;
#ifdef TARN_LIBFUZZER
  keep.assign(data, data + size);
  char* area = keep.data();
#else
  (void)keep;
  char* area = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
#endif
  event.GetEventHeader()->fEventId = 1;
  event.SetData(static_cast<unsigned>(size), area);
  return true;
}

// Data areas of synthesised events with every kind of bank, 16- and 32-bit
// headers, optionally also in the swapped byte order.
inline std::vector<std::vector<uint8_t>> moduleEventSeeds(uint32_t events, bool alsoSwapped) {
  std::vector<std::vector<uint8_t>> seeds;
  for (bool bank32 : {false, true}) {
    synth::RunSpec spec;
    spec.events = events;
    spec.bank32 = bank32;
    spec.modules = true;
    spec.noise = 1;  // the unusual module words are worth fuzzing from too
    for (uint32_t i = 0; i < spec.events; ++i)
      for (bool swapped : {false, true})
        if (!swapped || alsoSwapped)
          seeds.push_back(synth::encodeDataArea(synth::makeEvent(spec, i), swapped));
  }
  return seeds;
}
