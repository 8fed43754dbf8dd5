// The VF48 event library: decoding a module's words into channels, and the
// waveform analysis, on channels of 512 samples.
#include <benchmark/benchmark.h>

#include <vector>

#include "BenchSupport.h"
#include "WaveEvent.h"

namespace {

constexpr uint32_t kSamples = 512;

// One module's readout of event `index`: the synthesiser's channels (a pulse
// on a pedestal), their traces made 512 samples long.
synth::Vf48Module module(synth::Vf48Layout layout, uint32_t index = 7) {
  synth::RunSpec spec;
  spec.vf48Modules = 1;
  spec.vf48Meridax = layout == synth::Vf48Layout::Meridax;
  synth::Vf48Module m = synth::makeVf48Content(spec, index).modules.at(0);
  synth::Random r(index);
  for (synth::Vf48Channel& c : m.channels) {
    const uint16_t base = c.samples.front();
    while (c.samples.size() < kSamples) c.samples.push_back(uint16_t(base - 1 + r.below(3)));
  }
  return m;
}

struct Readout {
  std::vector<uint32_t> words;
  size_t channels;
};

Readout readout(synth::Vf48Layout layout) {
  const synth::Vf48Module m = module(layout);
  return {synth::vf48Words(m, layout), m.channels.size()};
}

void perChannelAndSample(benchmark::State& state, size_t channels) {
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["per_channel"] = benchsupport::timePer(double(channels));
  state.counters["per_sample"] = benchsupport::timePer(double(channels * kSamples));
}

void BM_WaveDecodeFromData(benchmark::State& state) {
  const bool standard = state.range(0) == 0;
  Readout r = readout(standard ? synth::Vf48Layout::Standard : synth::Vf48Layout::Meridax);
  // An event is decoded once (after its trailer it takes no more words): a
  // new one per readout, as a producer makes them.
  size_t decoded = 0;
  for (auto _ : state) {
    WaveEvent* event = new WaveEvent;
    event->SetModuleNr(standard ? 0 : -1);
    benchmark::DoNotOptimize(event->DecodeFromData(r.words.data(), int(r.words.size())));
    decoded += event->GetChannels().size();
    event->release();
  }
  if (decoded != r.channels * state.iterations()) state.SkipWithError("channels lost in decoding");
  state.SetLabel(standard ? "standard" : "meridax");
  perChannelAndSample(state, r.channels);
}

void BM_WaveAnalyze(benchmark::State& state) {
  Readout r = readout(synth::Vf48Layout::Standard);
  WaveEvent event;
  event.SetModuleNr(0);
  event.DecodeFromData(r.words.data(), int(r.words.size()));
  for (auto _ : state) {
    event.Analyze();
    benchmark::DoNotOptimize(event.GetIntegrals().data());
  }
  if (event.GetChannels().size() != r.channels ||
      event.GetChannels().front()->GetWaveForm().size() != kSamples)
    state.SkipWithError("not the event meant");
  perChannelAndSample(state, r.channels);
}

}  // namespace

BENCHMARK(BM_WaveDecodeFromData)->Arg(0)->Arg(1);
BENCHMARK(BM_WaveAnalyze);

BENCHMARK_MAIN();
