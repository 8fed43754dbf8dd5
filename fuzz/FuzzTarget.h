// A fuzz target is one function over arbitrary bytes plus the well-formed
// inputs its mutations start from. Built with clang and -fsanitize=fuzzer it
// runs under libFuzzer; otherwise the replay driver feeds it deterministic
// mutations of its seeds, each ending at an unreadable page so that any read
// past the input crashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

std::vector<std::vector<uint8_t>> tarnFuzzSeeds();
