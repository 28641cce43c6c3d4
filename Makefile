# Entry points; each first makes sure the build dependencies are installed.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc)
PREFIX    ?= /usr/local

CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build test test-asan demo bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The suite runs twice: on the optimised build, and on a build with the
# address and undefined-behaviour sanitizers.
test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B $(ASAN_DIR) $(CMAKE_FLAGS) -DFLOWDEAL_SANITIZE=address,undefined -DFLOWDEAL_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	@python3 bench/run.py --build $(BUILD_DIR) $(if $(ROUNDS),--rounds $(ROUNDS)) $(if $(CASES),--cases $(CASES))

demo: build
	@scripts/demo $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) demo/out demo/sample.pcap
