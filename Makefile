# Set-up commands: `make demo` runs the whole pipeline on built-in demo data,
# `make test` runs the tests. Both install missing Debian packages first.
BUILD ?= build
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test demo bench clean

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

clean:
	rm -rf $(BUILD)
