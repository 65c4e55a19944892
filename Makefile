# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# The two set-up commands of the README, and a few more for developers.
BUILD ?= build
SAN_BUILD ?= build-san
JOBS ?= $(shell nproc)
DEMO ?= demo
WERROR ?= OFF
PREFIX ?= /usr/local

.PHONY: all deps build run test test-sanitize test-tsan bench leak-check format clean install \
  package check-package

all: build

# Installs the Debian packages the build needs; quick when they are all present.
deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOBRIN_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

# Makes a demo disc image and rips it with obrin-rip into $(DEMO)/output.
run: build
	bash scripts/run-demo.sh $(BUILD)/bin $(DEMO)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Installs into $(DESTDIR)$(PREFIX): the programs in lib/obrin, links in bin.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package of the same layout under /usr: $(BUILD)/obrin_VERSION_ARCH.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# Builds the package and checks it: rips from the unpacked tree, validators, lintian.
check-package: build
	bash scripts/check-package.sh $(BUILD)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOBRIN_SANITIZE=address,undefined \
	  -DOBRIN_WERROR=$(WERROR)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

# The stop and concurrency tests under ThreadSanitizer.
TSAN_BUILD ?= build-tsan
TSAN_TESTS ?= test_rip_engine test_encoders test_obrin_rip \
  test_fault_injection test_jobs
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOBRIN_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) \
	  -R '^(RipEngine|Mp3Stage|ObrinRip)\.|Faults\.(Stops|TwoRips)|CliProcess.*/(second_INT|USR1)|Jobs\.(CtrlC|ReadError)'

# Every benchmark, one table (bench/run-all.sh; BENCH_ARGS=--quick for the short smoke).
bench: build
	bash bench/run-all.sh $(BENCH_ARGS) $(BUILD)

# Rips of a generated disc to each format under valgrind: fails on a leak.
leak-check: build
	bash scripts/leak-check.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) build-fuzz $(DEMO)
