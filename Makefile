# Rilmaton: `make run` builds and starts the program, `make test` builds and runs every test.
BUILD      ?= build
BUILD_SAN  ?= build-asan
BUILD_FUZZ ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Seconds each fuzz target runs in `make test`; `make fuzz FUZZ_SECONDS=900` for longer.
FUZZ_SECONDS ?= 60
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
          LSAN_OPTIONS=suppressions=$(CURDIR)/tests/core/hardening/lsan.supp:print_suppressions=0 \
          UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: setup build run test check-layers test-plain test-sanitize fuzz test-huge install clean

setup:
	@./scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)

# The layer rule, then the whole suite twice, as built and under
# AddressSanitizer + UBSan, then each fuzz target for FUZZ_SECONDS from its
# corpus. Test builds treat warnings as errors.
test: check-layers test-plain test-sanitize fuzz

check-layers:
	@./scripts/check_layers.sh

test-plain: setup
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) -DRIL_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: setup
	@cmake -S . -B $(BUILD_SAN) $(CMAKE_ARGS) -DRIL_SANITIZE=ON -DRIL_BUILD_BENCH=OFF -DRIL_WERROR=ON >/dev/null
	@cmake --build $(BUILD_SAN) -j $(JOBS)
	@cd $(BUILD_SAN) && $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

fuzz: setup
	@cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DRIL_BUILD_FUZZ=ON -DRIL_SANITIZE=ON -DRIL_WERROR=ON \
	  -DRIL_BUILD_GUI=OFF -DRIL_BUILD_TESTS=OFF -DRIL_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_read_and_analyse fuzz_modify fuzz_cue fuzz_repair fuzz_seed_writer
	@$(SAN_ENV) fuzz/run_fuzzers.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

# A 2.5 GiB 16-bit file, then a 24-bit one, analysed and modified end to end by rilmaton-cli, with
# the peak memory of each run measured (needs about 7.5 GiB of free disk).
test-huge: build
	@tests/core/hardening/huge_file_check.sh $(BUILD)

install: build
	@cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_FUZZ)
