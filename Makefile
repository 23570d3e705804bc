# Quillmere: a Win32 program cross-built with mingw-w64 and run under Wine.
BUILD := build
export CTEST_OUTPUT_ON_FAILURE := 1

.PHONY: all deps build run test bench dist clean

all: build

deps:
	@scripts/deps.sh

$(BUILD)/build.ninja:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps $(BUILD)/build.ninja
	@cmake --build $(BUILD)

# DPI=144 runs it on a screen of 144 dpi (150 %), in a Wine prefix of its own.
run: build
	@QM_DPI=$(or $(DPI),96) scripts/with-wine.sh scripts/run.sh

test: build
	@scripts/with-wine.sh ctest --test-dir $(BUILD) --output-on-failure

bench: deps $(BUILD)/build.ninja
	@cmake --build $(BUILD) --target bench_copy bench_lists bench_search bench_broadcast
	@scripts/with-wine.sh scripts/bench.sh

# The release in dist/: portable zips for 64 and 32 bits, the installer and
# SHA256SUMS, once the installer has passed its install check under Wine.
dist: deps
	@scripts/dist-deps.sh
	@scripts/dist.sh

clean:
	@rm -rf $(BUILD)
