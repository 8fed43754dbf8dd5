#!/usr/bin/env bash
# Builds every fuzz target for libFuzzer with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (the libraries and plug-in modules too), then runs
# each for SECONDS, FUZZ_JOBS at a time. The last lines are ctest's summary.
set -euo pipefail
build=${1:-build-fuzz}
export FUZZ_SECONDS=${2:-60}
jobs=${FUZZ_JOBS:-2}
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTARN_LIBFUZZER=ON -DTARN_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_CXX_FLAGS="$san -fsanitize=fuzzer-no-link" \
  -DCMAKE_SHARED_LINKER_FLAGS="$san" -DCMAKE_MODULE_LINKER_FLAGS="$san" >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
ctest --test-dir "$build/fuzz" --output-on-failure --no-tests=error -j "$jobs" -V \
  | grep -E --line-buffered '^[0-9]+: [a-z0-9_]+_fuzz: |FAILED|tests passed|tests failed|Total Test|^[0-9]+/[0-9]+ Test'
