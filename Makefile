# Set-up commands: `make demo` runs the whole pipeline on built-in demo data,
# `make test` runs the tests. Both install missing Debian packages first.
# `make windows` cross-builds DAXO.dll into $(WINDOWS_BUILD); `make
# windows-test` checks it under wine against the Linux build.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
CMAKE_ARGS ?=
# Passed on to ctest by `make test`, e.g. CTEST_ARGS="-LE slow" (CI's
# sanitizer step).
CTEST_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build daxo python test demo bench bench-all clean windows windows-test

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The program, the plugin and the manual page alone, without the tests and
# benchmarks (a minute or two on 2 cores instead of five or six).
daxo: configure
	cmake --build $(BUILD) -j $(JOBS) --target daxo DAXO daxoman

# The Python module daxo alone, into $(BUILD)/python (see the README).
python: configure
	cmake --build $(BUILD) --target python -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# Writes the demo data into $(BUILD)/demo, estimates and corrects through the
# plugin and prints the report; fails when the map misses its bound.
demo: daxo
	$(BUILD)/daxo demo $(BUILD)/demo

# `make bench`: the short table (time, M voxels/s, peak memory, on 1 and 2
# threads) of the classic estimation, the variational one at 100 x 100 x 60
# and the correction of a 128 x 128 x 64 x 100 project; `make bench-all` runs
# every benchmark.
BENCH_TABLE = --benchmark_counters_tabular=true
bench: build
	@$(BUILD)/bench_estimate $(BENCH_TABLE) --benchmark_filter='BM_ClassicEstimate|BM_VariationalSize100'
	@$(BUILD)/bench_apply $(BENCH_TABLE) --benchmark_filter='BM_(LoadProject|SaveProject|CorrectVolume/transposed:0|ApplyToProject)'

bench-all: build
	@for b in $(BUILD)/bench_*; do echo "== $$b"; $$b; done

windows:
	@./scripts/install-windows-deps.sh
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_ARGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

windows-test: build windows
	@./scripts/install-windows-deps.sh --wine
	./scripts/windows-test.sh $(BUILD) $(WINDOWS_BUILD)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
