# Quillmere: a Win32 program cross-built with mingw-w64 and run under Wine.
BUILD := build
export CTEST_OUTPUT_ON_FAILURE := 1

.PHONY: all deps build run test bench clean

all: build

deps:
	@scripts/deps.sh

$(BUILD)/build.ninja:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps $(BUILD)/build.ninja
	@cmake --build $(BUILD)

run: build
	@scripts/with-wine.sh scripts/run.sh

test: build
	@scripts/with-wine.sh ctest --test-dir $(BUILD) --output-on-failure

bench: deps $(BUILD)/build.ninja
	@cmake --build $(BUILD) --target bench_copy bench_lists bench_search
	@scripts/with-wine.sh scripts/bench.sh

clean:
	@rm -rf $(BUILD)
