# Set-up commands: `make demo` runs the whole pipeline on built-in demo data,
# `make test` runs the tests. Both install missing Debian packages first.
# `make windows` cross-builds DAXO.dll into $(WINDOWS_BUILD); `make
# windows-test` checks it under wine against the Linux build.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test demo bench clean windows windows-test

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Writes the demo data into $(BUILD)/demo, estimates and corrects through the
# plugin and prints the report; fails when the map misses its bound.
demo: build
	$(BUILD)/daxo demo $(BUILD)/demo

bench: build
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
