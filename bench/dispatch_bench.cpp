// SendOutput: the cost of handing one value to each connected input.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "BenchSupport.h"

namespace {

class Source : public TarnBase {
 public:
  Source() : TarnBase(nullptr, "source") { outputs.push_back(Output("out", TARN_OBJECT, "values")); }
};

void BM_SendOutput(benchmark::State& state) {
  const int receivers = int(state.range(0));
  Source source;
  std::vector<std::unique_ptr<benchsupport::Sink>> sinks;
  for (int i = 0; i < receivers; ++i) {
    sinks.push_back(std::make_unique<benchsupport::Sink>());
    source.AddReceiver(0, sinks.back().get(), 0);
  }
  int value = 0;
  for (auto _ : state) source.SendOutput(0, &value);
  long delivered = 0;
  for (const auto& s : sinks) delivered += s->count;
  if (delivered != long(state.iterations()) * receivers) state.SkipWithError("values lost");
  // Time per receiver reached; with none, time per call.
  state.counters["per_receiver"] = benchsupport::timePer(double(receivers ? receivers : 1));
}

}  // namespace

BENCHMARK(BM_SendOutput)->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16);

BENCHMARK_MAIN();
