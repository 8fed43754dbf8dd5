# Quick start: `make demo` and `make test`. Everything builds under build/.
BUILD ?= build
BENCH_BUILD ?= build-bench
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
TARN := $(BUILD)/bin/tarn

.PHONY: all deps configure build test test-slurm test-browser demo vf48-sample bench clean test-asan test-tsan fuzz valgrind package

all: build

deps:
	@bash scripts/ensure-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# The Slurm tests of `tarn batch` on a one-node cluster started for them (root only).
test-slurm: build
	@bash scripts/test-slurm.sh $(BUILD)

# The live page of `tarn run --serve` in headless Chromium.
test-browser: build
	@bash scripts/test-browser.sh $(BUILD)

demo: build
	@bash scripts/demo.sh $(BUILD)

# The run the examples/vf48-*.tarn graphs read: 20 events of 4 VF48 modules.
vf48-sample: build
	@mkdir -p $(BUILD)/sample
	@$(BUILD)/bin/midas-synth --vf48 4 --events 20 $(BUILD)/sample/vf48-run00001.mid.gz
	@echo "== made $(BUILD)/sample/vf48-run00001.mid.gz" >&2

# Benchmarks build in a tree of their own, optimised, so the test build stays as it is.
# The runs they read (several GB) are made once, under $(BUILD)/bench-runs.
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_BENCH=ON \
	  -DTARN_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@bash scripts/bench.sh $(BENCH_BUILD) $(BUILD)/bench-runs

# Reliability. Each sanitizer builds in a tree of its own; `make fuzz` runs every
# libFuzzer target for FUZZ_SECONDS (clang), `make valgrind` runs the example
# graphs under memcheck.
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
ASAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
TSAN_FLAGS := -fsanitize=thread
san_cmake = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_FLAGS="$(1)" -DCMAKE_EXE_LINKER_FLAGS="$(1)" -DCMAKE_SHARED_LINKER_FLAGS="$(1)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(1)"

# Not run under the sanitizers: a resident-memory bound (the sanitizer keeps
# freed memory in quarantine), a build of an outside program against the
# installed library (which would need the sanitizer's runtime), and the Debian
# package of the sanitised tree (no one installs it; packing it takes minutes).
ASAN_SKIP ?= MemoryDoesNotGrowWithTheLengthOfTheFile|WaveEvent_install|package_runs_unpacked
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(call san_cmake,$(ASAN_FLAGS)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan-suppressions.txt \
	  ctest --output-on-failure --no-tests=error -j $(JOBS) -E '$(ASAN_SKIP)' $(CTEST_FLAGS)

# The tests that stop a running source from another thread, the live server
# reading snapshots while the graph publishes them, and the writer that
# compresses on worker threads.
TSAN_TESTS ?= midas_tests|RunFile_tests|TarnBase_tests|StrandEventGenerator_tests|tarn_tests|serve_tests|Hdf5Writer_tests
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) $(call san_cmake,$(TSAN_FLAGS)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(subst |, ,$(TSAN_TESTS))
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan-suppressions.txt \
	  ctest --output-on-failure --no-tests=error -j $(JOBS) -R 'Stop|Thread|RunningFlag|CompressedRuns|DecodedAhead'

fuzz: deps
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

valgrind: build
	@bash scripts/valgrind.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)

# A Debian package of the installed tree: $(BUILD)/tarn_VERSION_ARCH.deb.
package: build
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@ls $(BUILD)/tarn_*.deb
