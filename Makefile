# make demo: set up, build the demo product's signed Setup.exe, run it under Wine.
# make test: set up, build, run every test.
# make matrix: the end-to-end suite on Windows 7 to 10 in both prefixes.
# make bench: set up, build, print the benchmarks' figures (tools/bench.sh; minutes).
# make fuzz: run each host fuzz target for FUZZ_SECONDS, then the extraction's mutation test
#            on TS_MUTATION_CASES damaged archives.
BUILD ?= $(CURDIR)/build
JOBS ?= $(shell nproc)
# Where the bootstrap builds the dependency sources; CMake links from the same place.
export TS_DEPS ?= /var/cache/tessaline-deps
WINE_PREFIXES = $(BUILD)/wine/win32 $(BUILD)/wine/win64
FUZZ_SECONDS ?= 180
TS_MUTATION_CASES ?= 10000

.PHONY: all bootstrap bootstrap-tools build test matrix demo bench fuzz clean

all: build

bootstrap:
	@tools/bootstrap.sh $(BUILD)

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTS_DEPS=$(TS_DEPS) >/dev/null

# Building runs no Windows program: the Wine prefixes come with the tests and the demo.
build: bootstrap-tools $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

bootstrap-tools:
	@TS_NO_PREFIXES=1 tools/bootstrap.sh $(BUILD)

test: build bootstrap
	@tools/run-tests.sh $(BUILD) $(JOBS)

# The end-to-end suite on each Windows version in both prefixes, and a table of the results.
matrix: build bootstrap
	@tools/matrix.sh $(BUILD) $(JOBS)

demo: build bootstrap
	@tools/demo.sh $(BUILD)

bench: build bootstrap
	@tools/bench.sh $(BUILD)

fuzz: build bootstrap
	@TS_MUTATION_CASES=$(TS_MUTATION_CASES) tools/fuzz.sh $(BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
