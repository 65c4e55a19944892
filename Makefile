# The two set-up commands of the README, and a few more for developers.
BUILD ?= build
SAN_BUILD ?= build-san
JOBS ?= $(shell nproc)
DEMO ?= demo
WERROR ?= OFF

.PHONY: all deps build run test test-sanitize bench leak-check format clean

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

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOBRIN_SANITIZE=address,undefined \
	  -DOBRIN_WERROR=$(WERROR)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

# Every benchmark, one table (bench/run-all.sh; BENCH_ARGS=--quick for the short smoke).
bench: build
	bash bench/run-all.sh $(BENCH_ARGS) $(BUILD)

# Rips of a generated disc to each format under valgrind: fails on a leak.
leak-check: build
	bash scripts/leak-check.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(DEMO)
