// Reading run files: the reader against a plain read of the same bytes (the
// baseline, measured in the same run), and the memory a long file needs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "MidasSynth.h"
#include "TMidasEvent.h"
#include "TRunFile.h"

namespace {

// The forms a run is written in, by the name's ending ("" for plain).
const char* const kForms[] = {"", ".gz", ".lz4", ".bz2", ".zst"};

// One synthesised run per (events, form), written once and kept for the process.
const std::string& runFile(long events, const std::string& form) {
  static std::map<std::pair<long, std::string>, std::string> files;
  auto key = std::make_pair(events, form);
  auto it = files.find(key);
  if (it != files.end()) return it->second;
  std::string path = "/tmp/tarn-bench-" + std::to_string(::getpid()) + "-" +
                     std::to_string(events) + ".mid" + form;
  synth::RunSpec spec;
  spec.events = static_cast<uint32_t>(events);
  spec.modules = true;
  synth::RunWriter w;
  std::string error;
  bool ok = w.open(path, error);
  ok = ok && w.write(synth::encodeEvent(synth::beginOfRun(spec.run, synth::runStartTime(spec))), error);
  for (uint32_t i = 0; ok && i < spec.events; ++i)
    ok = w.write(synth::encodeEvent(synth::makeEvent(spec, i)), error);
  ok = ok && w.write(synth::encodeEvent(synth::makeEndOfRun(spec)), error) && w.close(error);
  if (!ok) std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
  return files[key] = path;
}

long fileBytes(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  long n = std::ftell(f);
  std::fclose(f);
  return n;
}

long peakKiB() {
  rusage u;
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Baseline: the same file read in 64 KiB blocks, nothing decoded.
void BM_PlainRead(benchmark::State& state) {
  const std::string& path = runFile(state.range(0), "");
  std::vector<char> buffer(1 << 16);
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    size_t n, total = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) total += n;
    std::fclose(f);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * fileBytes(path));
}

// The reader: every event read, its byte order checked and its bank list built.
// In place, the event's data stay where the reader mapped or decoded them.
void readRun(benchmark::State& state, const std::string& form, bool inPlace = false,
             GzipInflater inflater = GzipInflater::Fastest) {
  const std::string& path = runFile(state.range(0), form);
  const long before = peakKiB();
  long events = 0;
  for (auto _ : state) {
    TRunFile reader;
    reader.SetGzipInflater(inflater);
    reader.Open(path.c_str());
    TMidasEvent event;
    while (inPlace ? reader.ReadInPlace(&event) : reader.Read(&event)) {
      event.SetBankList();
      ++events;
    }
  }
  state.SetItemsProcessed(events);
  state.SetBytesProcessed(int64_t(state.iterations()) * fileBytes(runFile(state.range(0), "")));
  state.counters["peak_growth_KiB"] = double(peakKiB() - before);
}

void BM_RunFileRead(benchmark::State& state) { readRun(state, ""); }
void BM_RunFileReadInPlace(benchmark::State& state) { readRun(state, "", true); }
// Compressed runs in place, as RunFile reads them; bytes are those decoded.
void BM_RunFileReadGzip(benchmark::State& state) { readRun(state, ".gz", true); }
void BM_RunFileReadGzipZlib(benchmark::State& state) { readRun(state, ".gz", true, GzipInflater::Zlib); }
void BM_RunFileReadLz4(benchmark::State& state) { readRun(state, ".lz4", true); }
void BM_RunFileReadBzip2(benchmark::State& state) { readRun(state, ".bz2", true); }
void BM_RunFileReadZstd(benchmark::State& state) { readRun(state, ".zst", true); }

}  // namespace

BENCHMARK(BM_PlainRead)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileRead)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileReadInPlace)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileReadGzip)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileReadGzipZlib)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileReadLz4)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileReadBzip2)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunFileReadZstd)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (long n : {10000L, 100000L})
    for (const char* form : kForms) std::remove(runFile(n, form).c_str());
  return 0;
}
