# The two commands a new user runs: `make test` and `make demo`.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all configure build test demo deps clean bench

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target zelm
	@bash scripts/demo.sh $(BUILD)

bench: build
	@bash bench/all.sh $(BUILD)

clean:
	rm -rf $(BUILD)
