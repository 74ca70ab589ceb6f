# The two commands a new user runs: `make test` and `make demo` (on a bare
# machine without make: `sh scripts/make.sh test`), and installing.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local

.PHONY: all configure build test demo deps clean bench program install deb

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

# Installing needs no packers: only the program is built first.
program:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target zelm

# PREFIX/lib/zelm/zelm and its zelm.cfg, PREFIX/bin/zelm, the manual page.
install: program
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package in $(BUILD): the configuration is /etc/zelm/zelm.cfg.
deb: program
	cd $(BUILD) && cpack -G DEB

bench: build
	@bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
