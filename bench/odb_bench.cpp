// The ODB-to-strand mapper, loaded as the host loads it, on the begin-of-run
// dump of a synthesised run: parsing it and filling the mapped properties.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "ModuleLoader.h"

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
  ModuleLoader loader(ModuleLoader::defaultSearchPath());
  std::string error;
  pluginHandle* module = loader.load("OdbStrandMapper", error);
  if (!module) {
    state.SkipWithError(error.c_str());
    return;
  }
  benchsupport::Sink sink;
  TarnBase* node;
  std::string names;
  for (const auto& m : kMappings) names += m.first + " ";
  {
    benchsupport::QuietStdout quiet;
    node = loader.create(module, "odb");
    node->SetInput("inputs", names);
    for (const auto& m : kMappings) node->SetInput(m.first, m.second);
    node->AddReceiver(0, &sink, 0);
    node->Init();
  }
  const int input = node->GetNumberForInput("odb");
  {
    benchsupport::QuietStdout quiet;  // a key the dump lacks would be reported per dump
    for (auto _ : state) node->SetInput(input, const_cast<char*>(dump.c_str()));
    loader.destroy(module, node);
  }
  if (sink.count < long(state.iterations())) state.SkipWithError("fewer events sent than dumps");
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dump.size()));
  state.counters["per_mapping"] = benchmark::Counter(
      double(kMappings.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_OdbStrandMapper);

BENCHMARK_MAIN();
