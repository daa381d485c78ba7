# Entry points for people: `make test` builds and runs everything CI runs; `make run` starts
# the engine from this checkout. Both install missing Debian packages first.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all deps build test test-plain test-asan test-tsan test-fuzz bench run stop console gallery clean

all: build

deps:
	@.ci/deps.sh

build: deps
	cmake -S . -B build -G Ninja -DNORVANE_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test-plain: build
	cd build && ctest -j $(JOBS) --output-on-failure --timeout 900

test-asan: deps
	cmake -S . -B build-asan -G Ninja -DNORVANE_WERROR=ON -DNORVANE_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest -j $(JOBS) --output-on-failure --timeout 900

# ThreadSanitizer over the threaded core only (threads, queues, the socket layer): one CTest
# entry, see tests/CMakeLists.txt.
test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DNORVANE_WERROR=ON -DNORVANE_SANITIZE=thread -DNORVANE_GUI=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target norvane_tsan_tests
	cd build-tsan && ctest --output-on-failure --timeout 900

test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DNORVANE_WERROR=ON -DNORVANE_FUZZ=ON -DNORVANE_GUI=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS)
	.ci/fuzz.sh build-fuzz

test: test-plain test-asan test-tsan test-fuzz
	@echo "make test: all suites passed"

# Web proxy throughput against nginx direct, tinyproxy and squid, DNS service throughput against
# dnsmasq, and SOCKS 5 against nginx direct and dante, with an optimised build in build-bench
# (bench/README.md). Not part of `test`: they install their peers and take minutes.
bench:
	bench/http.sh
	bench/dns.sh
	bench/socks.sh

# The engine of this checkout with its state in ./var; `make stop` stops it.
run: build
	@.ci/run-engine.sh start

stop:
	@.ci/run-engine.sh stop

# The console of this checkout against the engine of `make run` (state and settings in ./var).
console: build
	@.ci/run-engine.sh console

# A picture of every console window against a live engine, with an index page, in build/gallery
# (tests/e2e/gallery.py).
gallery: build
	NORVANE_BINARY_DIR=$(CURDIR)/build xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 tests/e2e/gallery.py build/gallery

clean:
	rm -rf build build-asan build-fuzz build-tsan build-bench
