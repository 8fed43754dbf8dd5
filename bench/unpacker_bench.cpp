// Each unpacker's decoding, loaded as the host loads it, on busy events of a
// run with module banks: time per event and per data word of its bank.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace {

constexpr uint32_t kEvents = 64;

const std::vector<std::unique_ptr<TMidasEvent>>& events() {
  static std::vector<std::unique_ptr<TMidasEvent>> all = [] {
    std::vector<std::unique_ptr<TMidasEvent>> v;
    for (uint32_t i = 0; i < kEvents; ++i) {
      v.push_back(benchsupport::midasEvent(benchsupport::busyEvent(i)));
      v.back()->SetBankList();
    }
    return v;
  }();
  return all;
}

// Data words (samples for SIS banks) of the named banks, summed over the events.
double wordsPerEvent(const std::vector<const char*>& banks) {
  double words = 0;
  for (uint32_t i = 0; i < kEvents; ++i) {
    const synth::Event e = benchsupport::busyEvent(i);
    for (const char* b : banks) words += double(benchsupport::bankElements(e, b));
  }
  return words / kEvents;
}

struct Case {
  const char* type;
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<const char*> banks;  // what it decodes, for the count of words
};

void decode(benchmark::State& state, const Case& c) {
  benchsupport::LoadedNode node(c.type, c.settings);
  if (!node.ready(state)) return;
  const int input = node.input("event");
  uint32_t i = 0;
  for (auto _ : state) node.deliver(input, events()[i++ % kEvents].get());
  const long sent = node.sink.count;
  if (sent < long(state.iterations())) state.SkipWithError("fewer values sent than events decoded");
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["per_word"] = benchsupport::timePer(wordsPerEvent(c.banks));
}

const Case kCases[] = {
    {"V1190Unpacker", {{"bank", "TDC0"}}, {"TDC0"}},
    {"V785Unpacker", {{"bank", "ADC0"}}, {"ADC0"}},
    {"Io32Unpacker", {{"bank", "IO32"}}, {"IO32"}},
    {"Mdi2Unpacker", {{"bank", "MADC"}}, {"MADC"}},
    {"Sis3320Unpacker", {{"channel", "2"}}, {"SIS2"}},
    {"CompositeUnpacker", {}, {"IO32", "TDC0", "ADC0", "MADC"}},
};

// The events of a synthesised run with module banks, as `midas-synth
// --modules` writes them: a few words per bank, with the odd words that are
// reported (kept off the table). Enough events that the branch predictor
// cannot learn their sequence, few enough to stay in the cache as an event
// the reader has just walked would be.
const std::vector<std::unique_ptr<TMidasEvent>>& runEvents() {
  static std::vector<std::unique_ptr<TMidasEvent>> all = [] {
    std::vector<std::unique_ptr<TMidasEvent>> v;
    synth::RunSpec spec;
    spec.modules = true;
    for (uint32_t i = 0; i < 512; ++i) {
      v.push_back(benchsupport::midasEvent(synth::makeEvent(spec, i)));
      v.back()->SetBankList();
    }
    return v;
  }();
  return all;
}

void decodeRun(benchmark::State& state) {
  benchsupport::LoadedNode node("CompositeUnpacker", {});
  if (!node.ready(state)) return;
  const int input = node.input("event");
  const auto& all = runEvents();
  size_t i = 0;
  {
    QuietStdout quiet;
    for (auto _ : state) node.deliver(input, all[i++ % all.size()].get());
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(decodeRun)->Name("BM_DecodeRunEvents/CompositeUnpacker");

const int registered = [] {
  for (const Case& c : kCases)
    benchmark::RegisterBenchmark((std::string("BM_Decode/") + c.type).c_str(),
                                 [&c](benchmark::State& s) { decode(s, c); });
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
