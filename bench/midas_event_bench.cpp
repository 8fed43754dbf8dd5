// The event record on events as a run with module banks carries them:
// building the bank list, finding banks, turning the byte order.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "BenchSupport.h"

namespace {

constexpr uint32_t kEvents = 64;  // several shapes, so no one branch pattern is learnt

struct Run {
  std::vector<synth::Event> made;
  std::vector<std::vector<uint8_t>> areas;
  std::vector<std::unique_ptr<TMidasEvent>> events;
  size_t bytes = 0;
};

const Run& run() {
  static Run r = [] {
    Run r;
    for (uint32_t i = 0; i < kEvents; ++i) {
      r.made.push_back(benchsupport::busyEvent(i));
      r.areas.push_back(synth::encodeDataArea(r.made.back()));
      r.events.push_back(benchsupport::midasEvent(r.made.back()));
      r.events.back()->SetBankList();
      r.bytes += r.areas.back().size();
    }
    return r;
  }();
  return r;
}

// An area handed to the event, its byte order checked (as SetData does for
// every event); the list is built afresh each time.
void BM_SetDataAndBankList(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> areas = run().areas;  // SetData may write to them
  TMidasEvent e;
  e.GetEventHeader()->fEventId = 1;
  uint32_t i = 0;
  int banks = 0;
  for (auto _ : state) {
    std::vector<uint8_t>& area = areas[i++ % kEvents];
    e.SetData(unsigned(area.size()), reinterpret_cast<char*>(area.data()));
    if (state.range(0)) banks += e.SetBankList();
    benchmark::DoNotOptimize(banks);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["banks_per_event"] =
      state.range(0) ? double(banks) / double(state.iterations()) : 0.0;
}

// FindBank of the first bank, the last one and one the event lacks.
void BM_FindBank(benchmark::State& state) {
  const char* names[] = {"WRDS", "SIS3", "NONE"};
  const char* name = names[state.range(0)];
  uint32_t i = 0;
  int found = 0;
  for (auto _ : state) {
    int length, type;
    void* data;
    found += run().events[i++ % kEvents]->FindBank(name, &length, &type, &data);
    benchmark::DoNotOptimize(data);
  }
  if (found != (state.range(0) == 2 ? 0 : int(state.iterations()))) state.SkipWithError("wrong result");
  state.SetLabel(name);
}

// Forced conversion of whole data areas (each pass turns them round again).
void BM_SwapBytes(benchmark::State& state) {
  std::vector<std::unique_ptr<TMidasEvent>> events;
  for (const auto& e : run().made) events.push_back(benchsupport::midasEvent(e, true));
  uint32_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(events[i++ % kEvents]->SwapBytes(true));
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(run().bytes / kEvents));
}

}  // namespace

BENCHMARK(BM_SetDataAndBankList)->Arg(0)->Arg(1);
BENCHMARK(BM_FindBank)->DenseRange(0, 2);
BENCHMARK(BM_SwapBytes);

BENCHMARK_MAIN();
