// Deterministic fuzzing without libFuzzer: `TARGET [--rounds N] [--seed S]`
// mutates the target's seeds N times; `TARGET FILE...` replays files.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <string>

#include "FuzzTarget.h"

namespace {

uint64_t state;
uint64_t next() {
  uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}
size_t below(size_t n) { return n ? size_t(next() % n) : 0; }

// Runs the target on `input` placed right before a PROT_NONE page.
void runGuarded(const std::vector<uint8_t>& input) {
  static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
  const size_t span = (input.size() / page + 2) * page;
  char* base = static_cast<char*>(
      ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (base == MAP_FAILED) std::abort();
  ::mprotect(base + span - page, page, PROT_NONE);
  uint8_t* at = reinterpret_cast<uint8_t*>(base + span - page - input.size());
  if (!input.empty()) std::memcpy(at, input.data(), input.size());
  LLVMFuzzerTestOneInput(at, input.size());
  ::munmap(base, span);
}

std::vector<uint8_t> mutate(std::vector<uint8_t> in) {
  const int edits = 1 + int(below(4));
  for (int e = 0; e < edits; ++e) {
    if (in.empty()) {
      in.push_back(uint8_t(next()));
      continue;
    }
    size_t at = below(in.size());
    switch (below(7)) {
      case 0: in[at] ^= uint8_t(1u << below(8)); break;           // flip a bit
      case 1: in[at] = uint8_t(next()); break;                     // any byte
      case 2: in[at] = below(2) ? 0xFF : 0x00; break;              // extremes
      case 3: in.resize(at); break;                                // truncate
      case 4:                                                      // a 32-bit field made huge or tiny
        if (at + 4 <= in.size()) {
          uint32_t v = below(2) ? 0xFFFFFFF0u + uint32_t(below(16)) : uint32_t(below(16));
          std::memcpy(&in[at], &v, 4);
        }
        break;
      case 5: in.insert(in.begin() + long(at), uint8_t(next())); break;  // insert
      default:                                                     // duplicate a stretch
        if (in.size() < (1u << 16)) {
          size_t len = 1 + below(std::min<size_t>(32, in.size() - at));
          std::vector<uint8_t> piece(in.begin() + long(at), in.begin() + long(at + len));
          in.insert(in.begin() + long(below(in.size())), piece.begin(), piece.end());
        }
        break;
    }
  }
  return in;
}

}  // namespace

int main(int argc, char** argv) {
  // Targets print what they decode; only the verdict matters here.
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  long rounds = 2000;
  state = 1;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) rounds = std::atol(argv[++i]);
    else if (a == "--seed" && i + 1 < argc) state = std::strtoull(argv[++i], nullptr, 10);
    else files.push_back(a);
  }
  if (!files.empty()) {
    for (const std::string& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
      runGuarded(bytes);
    }
    std::fprintf(stderr, "replayed %zu inputs\n", files.size());
    return 0;
  }
  const std::vector<std::vector<uint8_t>> seeds = tarnFuzzSeeds();
  for (const auto& s : seeds) runGuarded(s);
  for (long r = 0; r < rounds; ++r) runGuarded(mutate(seeds[below(seeds.size())]));
  std::fprintf(stderr, "%ld mutated inputs from %zu seeds ran without a fault\n", rounds,
               seeds.size());
  return 0;
}
