// The ODB-to-strand mapper, loaded as the host loads it, on the begin-of-run
// dump of a synthesised run: parsing it and filling the mapped properties.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "ODBQuery.h"
#include "OdbDocument.h"

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

// A large experiment's dump of about 5 MB in either form (the same keys), and
// 100 paths spread over it: scalars, elements and whole arrays.
std::string bigDump(bool json) {
  std::string text = json ? "{" : "<odb>";
  for (int d = 0; d < 480; ++d) {
    const std::string dir = "Crate " + std::to_string(d);
    text += json ? std::string(d ? "," : "") + "\"" + dir + "\": {" : "<dir name=\"" + dir + "\">";
    for (int k = 0; k < 40; ++k) {
      const std::string key = "Channel " + std::to_string(k);
      if (json) {
        text += std::string(k ? "," : "") + "\"" + key + "/key\": {\"type\": 6, \"num_values\": 16}, \"" +
                key + "\": [";
      } else {
        text += "<keyarray name=\"" + key + "\" type=\"DWORD\" num_values=\"16\">";
      }
      for (int v = 0; v < 16; ++v) {
        char value[24];
        const unsigned n = unsigned(d * 100000 + k * 16 + v);
        if (json)
          std::snprintf(value, sizeof value, "%s\"0x%08x\"", v ? "," : "", n);
        else
          std::snprintf(value, sizeof value, "<value>%u</value>", n);
        text += value;
      }
      text += json ? "]" : "</keyarray>";
    }
    text += json ? "}" : "</dir>";
  }
  return text + (json ? "}" : "</odb>");
}

void BM_OdbBigDump(benchmark::State& state) {
  const std::string dump = bigDump(state.range(0) == 1);
  std::vector<ODBQuery> queries(100);
  for (int i = 0; i < 100; ++i) {
    const std::string pick = i % 3 == 0 ? "[*]" : "[" + std::to_string(i % 16) + "]";
    queries[i].setODBPath("/Crate " + std::to_string(i * 37 % 480) + "/Channel " + std::to_string(i % 40) + pick);
  }
  for (auto _ : state) {
    OdbDocument parsed(dump.c_str());
    for (ODBQuery& q : queries)
      if (!q.evaluate(parsed.xpathContext())) state.SkipWithError(q.getError().c_str());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dump.size()));
  state.SetLabel(state.range(0) == 1 ? "json" : "xml");
}

}  // namespace

BENCHMARK(BM_OdbStrandMapper);
// Arg 0: the XML form (the baseline), 1: the same dump as JSON.
BENCHMARK(BM_OdbBigDump)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
