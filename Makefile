# Two entry points for a fresh Debian machine: `make demo` and `make test`.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_BENCH ?= build-bench
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

PREFIX     ?= /usr/local

.PHONY: all deps demo install test test-release test-asan fuzz bench clean

all: $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/install-deps.sh

$(BUILD)/Makefile:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

# Steps that must run in order even under `make -j` go through sub-makes, one after another.
# Further test steps (another platform, the bindings) are added to TEST_STEPS.
TEST_STEPS ?= deps test-release test-asan fuzz
ordered = +@set -e; for step in $(1); do $(MAKE) --no-print-directory $$step; done

demo:
	$(call ordered,deps all)
	$(BUILD)/tools/dsptool/dsptool demo

# Headers, library, dsptool, libdsp.pc and the CMake package under PREFIX (relocatable).
install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

test:
	$(call ordered,$(TEST_STEPS))

test-release:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DDSP_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

fuzz:
	@scripts/run-fuzz.sh

bench:
	@scripts/run-bench.sh

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_BENCH) build-fuzz
