# Entry points: `make run` and `make test` install what is missing, build and run.
#   make test SANITIZE=address   ASan + UBSan build in build-address/
#   make test SANITIZE=thread    TSan build in build-thread/
#   make bench                   benchmarks (Release) in build-bench/
#   make fuzz                    libFuzzer targets (clang) in build-fuzz/
#   make fuzz-run SECONDS=N      every fuzz target for N seconds: executions and findings each
#   make check                   the whole suite under ASan+UBSan, then under TSan
#   make docs                    the API reference (Doxygen) in build/docs/html/
SANITIZE ?=
BUILD_TYPE ?= RelWithDebInfo
ifeq ($(SANITIZE),)
BUILD_DIR ?= build
else
BUILD_DIR ?= build-$(SANITIZE)
endif
# ccache, when the machine has it, for every build folder (sanitizer and fuzz builds are large).
CCACHE ?= $(shell command -v ccache 2>/dev/null)
LAUNCHER := $(if $(CCACHE),-DCMAKE_C_COMPILER_LAUNCHER=$(CCACHE) -DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))
CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSONQUIX_SANITIZE=$(SANITIZE) $(LAUNCHER)
JOBS ?= $(shell nproc)

.PHONY: all deps build test run bench fuzz fuzz-run check docs format clean

all: build

deps:
	@scripts/deps.sh

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD_DIR)

bench:
	@scripts/deps.sh bench
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONQUIX_BUILD_BENCH=ON \
	  -DSONQUIX_BUILD_TESTS=OFF $(LAUNCHER)
	cmake --build build-bench -j $(JOBS)
	@scripts/bench.sh build-bench

fuzz:
	@scripts/deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSONQUIX_BUILD_FUZZ=ON -DSONQUIX_BUILD_TESTS=OFF $(LAUNCHER)
	cmake --build build-fuzz -j $(JOBS) --target fuzz_all
	@echo "fuzz targets are in build-fuzz/fuzz/"

# Each target runs SECONDS on a copy of its seed corpus (fuzz/corpus/<target>/, kept unchanged);
# crashes land in build-fuzz/findings/<target>/.
SECONDS ?= 60
fuzz-run: fuzz
	@scripts/fuzz_run.sh build-fuzz $(SECONDS)

# Both sanitizer suites, one after the other (each build folder keeps its own cache).
check:
	$(MAKE) test SANITIZE=address
	$(MAKE) test SANITIZE=thread

# Fails on any Doxygen warning, an undocumented public member included.
docs:
	@scripts/deps.sh docs
	@mkdir -p $(BUILD_DIR)/docs
	SONQUIX_DOCS_DIR=$(BUILD_DIR)/docs \
	  SONQUIX_VERSION=$$(sed -n 's/^project(sonquix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) \
	  doxygen Doxyfile
	@echo "API reference: $(BUILD_DIR)/docs/html/index.html"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-address build-thread build-bench build-fuzz
