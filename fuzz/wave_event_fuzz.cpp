// Any words as one VF48 module's readout, in both layouts: decoding, the
// software analysis and every printout must stay inside the words and the
// event's own arrays, and the last release must free everything.
#include <cstring>
#include <vector>

#include "FuzzTarget.h"
#include "MidasSynth.h"
#include "ModuleBanks.h"
#include "WaveEvent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte: bit 7 chooses the MERIDAX layout, else the low bits are
  // the module number; the rest are the words (a partial last word is dropped).
  if (size < 1) return 0;
  const size_t count = (size - 1) / 4;
  std::vector<uint32_t> words(count);
  if (count) std::memcpy(words.data(), data + 1, count * 4);
  WaveEvent* event = new WaveEvent;
  if (!(data[0] & 0x80)) event->SetModuleNr(data[0] & 0x7f);
  event->DecodeFromData(count ? words.data() : nullptr, int(count));
  event->Analyze();
  event->Print("a");  // the drivers send stdout to /dev/null
  event->Print("c");
  event->Print("");
  event->release();
  return 0;
}

std::vector<std::vector<uint8_t>> tarnFuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  synth::RunSpec spec;
  spec.vf48Modules = 3;
  for (bool meridax : {false, true}) {
    spec.vf48Meridax = meridax;
    const synth::Vf48Layout layout = meridax ? synth::Vf48Layout::Meridax : synth::Vf48Layout::Standard;
    for (uint32_t i = 0; i < 4; ++i)
      for (const synth::Vf48Module& m : synth::makeVf48Content(spec, i).modules) {
        std::vector<uint8_t> seed{uint8_t(meridax ? 0x80 : m.module)};
        for (uint32_t w : synth::vf48Words(m, layout))
          for (int b = 0; b < 4; ++b) seed.push_back(uint8_t(w >> (8 * b)));
        seeds.push_back(seed);
      }
  }
  return seeds;
}
