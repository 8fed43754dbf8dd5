// libFuzzer builds only: `TARN_FUZZ_WRITE_SEEDS=DIR target` writes the
// target's seeds into DIR and exits, so that a run starts from well-formed
// inputs; otherwise stdout, where the targets print what they decode, is
// closed off once, before the first input.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzTarget.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("TARN_FUZZ_WRITE_SEEDS")) {
    const std::vector<std::vector<uint8_t>> seeds = tarnFuzzSeeds();
    for (size_t i = 0; i < seeds.size(); ++i) {
      const std::string path = std::string(dir) + "/seed-" + std::to_string(i);
      FILE* f = std::fopen(path.c_str(), "wb");
      if (!f || std::fwrite(seeds[i].data(), 1, seeds[i].size(), f) != seeds[i].size() ||
          std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
      }
    }
    std::fprintf(stderr, "%zu seeds written to %s\n", seeds.size(), dir);
    std::exit(0);
  }
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}
