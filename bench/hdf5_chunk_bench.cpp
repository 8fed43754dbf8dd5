// Compressing one HDF5 chunk (128 KiB of 12-bit TDC words as int32) the ways
// Hdf5Writer can: zlib level 4 (the writer's earlier setting) is the baseline
// measured in the same run; the shuffle alone shows its part of the cost.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Hdf5Deflate.h"

namespace {

std::vector<unsigned char> tdcChunk() {
  std::mt19937 random(1);
  std::vector<int32_t> words(32768);
  for (int32_t& w : words) w = int32_t(random() & 0xfff);
  std::vector<unsigned char> raw(words.size() * 4);
  std::memcpy(raw.data(), words.data(), raw.size());
  return raw;
}

void encode(benchmark::State& state, const char* setting) {
  h5out::Compression c;
  h5out::parseCompression(setting, c);
  const std::vector<unsigned char> raw = tdcChunk();
  std::vector<unsigned char> out;
  h5out::ChunkCoder coder;
  for (auto _ : state) {
    coder.encode(c, raw, 4, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(raw.size()));
  state.counters["ratio"] = double(out.size()) / double(raw.size());
}

void BM_ChunkZlib4(benchmark::State& state) { encode(state, "zlib4"); }
void BM_ChunkFast(benchmark::State& state) { encode(state, "fast"); }
void BM_ChunkSmall(benchmark::State& state) { encode(state, "small"); }

void BM_ChunkShuffleOnly(benchmark::State& state) {
  const std::vector<unsigned char> raw = tdcChunk();
  std::vector<unsigned char> out(raw.size());
  for (auto _ : state) {
    h5out::shuffle(raw.data(), raw.size() / 4, 4, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(raw.size()));
}

}  // namespace

BENCHMARK(BM_ChunkZlib4);
BENCHMARK(BM_ChunkFast);
BENCHMARK(BM_ChunkSmall);
BENCHMARK(BM_ChunkShuffleOnly);
BENCHMARK_MAIN();
