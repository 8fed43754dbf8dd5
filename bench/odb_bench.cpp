// The ODB-to-strand mapper, loaded as the host loads it, on the begin-of-run
// dump of a synthesised run: parsing it and filling the mapped properties.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"

namespace {

// What an analysis typically takes from the dump: scalars, a text, array
// elements and whole arrays.
const std::vector<std::pair<std::string, std::string>> kMappings = {
    {"run", "RunNumber = /Runinfo/Run number"},
    {"start", "StartTime = /Runinfo/Start time binary"},
    {"comment", "Comment = \"/Experiment/Edit on start/Comment\""},
    {"veto", "Veto = /Equipment/Trigger/Settings/Channel names[2]"},
    {"gains", "Gains = /Equipment/Trigger/Settings/Gains[*]"},
    {"names", "Names = /Equipment/Trigger/Settings/Channel names[*]"},
};

void BM_OdbStrandMapper(benchmark::State& state) {
  const std::string dump = synth::odbXml(42, 0, 1700000000u, 0);
  std::vector<std::pair<std::string, std::string>> settings = {{"inputs", ""}};
  for (const auto& m : kMappings) settings[0].second += m.first + " ";
  settings.insert(settings.end(), kMappings.begin(), kMappings.end());
  benchsupport::LoadedNode node("OdbStrandMapper", settings);
  if (!node.ready(state)) return;
  const int input = node.input("odb");
  {
    QuietStdout quiet;  // a key the dump lacks would be reported for every dump
    for (auto _ : state) node.deliver(input, const_cast<char*>(dump.c_str()));
  }
  if (node.sink.count < long(state.iterations())) state.SkipWithError("fewer events sent than dumps");
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dump.size()));
  state.counters["per_mapping"] = benchsupport::timePer(double(kMappings.size()));
}

}  // namespace

BENCHMARK(BM_OdbStrandMapper);

BENCHMARK_MAIN();
