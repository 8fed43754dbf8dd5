# Quick start: `make demo` and `make test`. Everything builds under build/.
BUILD ?= build
BENCH_BUILD ?= build-bench
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
TARN := $(BUILD)/bin/tarn

.PHONY: all deps configure build test demo vf48-sample bench clean

all: build

deps:
	@bash scripts/ensure-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

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

clean:
	rm -rf $(BUILD) $(BENCH_BUILD)
