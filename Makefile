# Entry points; each first installs what it needs (scripts/install-deps), and
# building needs only the build set. The project's own checks (make test, CI)
# turn warnings into errors; a plain build does not.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc)
PREFIX    ?= /usr/local

CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all build test demo bench fuzz install package clean

all: build

define configure_and_build
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) $(1) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)
endef

build:
	@scripts/install-deps build
	$(call configure_and_build,-DFLOWDEAL_WERROR=OFF)

# The suite runs twice: on the optimised build, and on a build with the
# address and undefined-behaviour sanitizers.
test:
	@scripts/install-deps test
	$(call configure_and_build,-DFLOWDEAL_WERROR=ON)
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B $(ASAN_DIR) $(CMAKE_FLAGS) -DFLOWDEAL_WERROR=ON -DFLOWDEAL_SANITIZE=address,undefined \
		-DFLOWDEAL_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)

bench:
	@scripts/install-deps bench
	$(call configure_and_build,)
	@python3 bench/run.py --build $(BUILD_DIR) $(if $(ROUNDS),--rounds $(ROUNDS)) $(if $(CASES),--cases $(CASES))

demo:
	@scripts/install-deps demo
	$(call configure_and_build,)
	@scripts/demo $(BUILD_DIR)

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# A Debian package, flowdeal_<version>_<arch>.deb, in the build directory,
# checked by lintian.
package:
	@scripts/install-deps package
	$(call configure_and_build,)
	@cd $(BUILD_DIR) && cpack -G DEB >/dev/null && lintian --fail-on error,warning flowdeal_*.deb && ls flowdeal_*.deb

# Runs the packet-loop fuzzer for FUZZ_SECONDS, growing a corpus in $(FUZZ_DIR)
# from the committed seeds.
fuzz:
	@scripts/install-deps fuzz || { echo "make fuzz: needs the distribution's clang and its libFuzzer runtime (apt-get install clang libclang-rt-dev)" >&2; exit 1; }
	@cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DFLOWDEAL_FUZZ=ON -DFLOWDEAL_TESTS=OFF -DFLOWDEAL_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/packet_loop_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		-artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus tests/fuzz/seeds

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) demo/out demo/sample.pcap
