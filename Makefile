# The two commands a new user runs: `make test` and `make demo` (on a bare
# machine without make: `sh scripts/make.sh test`), and installing.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local

WIN32_BUILD ?= build-win32
WIN32_HARNESS ?= build-win32-harness
WIN32_FLAGS = -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELM_WERROR=ON

.PHONY: all configure build test demo deps clean bench program install deb win32-deps win32 test-win32

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
	@bash bench/all.sh $(BUILD)

# The 32-bit Windows console program, cross-built; its tests run under wine.
win32-deps:
	@bash scripts/install-win32-deps.sh

win32: win32-deps
	cmake -S . -B $(WIN32_BUILD) $(WIN32_FLAGS)
	cmake --build $(WIN32_BUILD) -j $(JOBS) --target zelm

test-win32: win32 deps
	cmake --build $(WIN32_BUILD) -j $(JOBS)
	cmake -S . -B $(WIN32_HARNESS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DZELM_WINDOWS_PROGRAMS=$(abspath $(WIN32_BUILD))
	cmake --build $(WIN32_HARNESS) -j $(JOBS)
	@bash scripts/test-win32.sh $(WIN32_BUILD) $(WIN32_HARNESS)

clean:
	rm -rf $(BUILD) $(WIN32_BUILD) $(WIN32_HARNESS)
