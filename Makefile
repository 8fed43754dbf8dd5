# Quick start: `make demo` and `make test`. Everything builds under build/.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
TARN := $(BUILD)/bin/tarn

.PHONY: all deps configure build test demo bench clean

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

bench: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@bash scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)
