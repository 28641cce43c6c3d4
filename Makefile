# Entry points; each first makes sure the build dependencies are installed.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc)
PREFIX    ?= /usr/local

CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps build test demo bench fuzz install package clean

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

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# A Debian package, flowdeal_<version>_<arch>.deb, in the build directory.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

# Runs the packet-loop fuzzer for FUZZ_SECONDS, growing a corpus in $(FUZZ_DIR)
# from the committed seeds.
fuzz:
	@scripts/install-deps clang libclang-rt-dev
	@cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DFLOWDEAL_FUZZ=ON -DFLOWDEAL_TESTS=OFF -DFLOWDEAL_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/packet_loop_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		-artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus tests/fuzz/seeds

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) demo/out demo/sample.pcap
