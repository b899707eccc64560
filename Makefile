# Rilmaton: `make run` builds and starts the program, `make test` builds and runs every test.
BUILD      ?= build
BUILD_SAN  ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: setup build run test test-plain test-sanitize install clean

setup:
	@./scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)

test-plain: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: setup
	@cmake -S . -B $(BUILD_SAN) $(CMAKE_ARGS) -DRIL_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD_SAN) -j $(JOBS)
	@cd $(BUILD_SAN) && ctest --output-on-failure -j $(JOBS) -LE slow

test: test-plain

install: build
	@cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_SAN)
