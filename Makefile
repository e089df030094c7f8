# Thin front end over CMake. `make run` builds the program and starts it; `make test` builds
# and runs every test, then runs them all again under AddressSanitizer and UBSan.
JOBS ?= $(shell nproc)
CMAKE ?= cmake
BUILD ?= build

.PHONY: all release run test test-plain test-sanitize bench fuzz format clean

all: release

release:
	$(CMAKE) -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DTONESHIFT_TESTS=OFF
	$(CMAKE) --build $(BUILD)/release -j $(JOBS) --target toneshift

run: release
	@$(BUILD)/release/toneshift

test: test-plain test-sanitize

test-plain:
	$(CMAKE) -S . -B $(BUILD)/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build $(BUILD)/test -j $(JOBS)
	ctest --test-dir $(BUILD)/test --output-on-failure -j $(JOBS)

test-sanitize:
	$(CMAKE) -S . -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=Debug -DTONESHIFT_SANITIZE=ON
	$(CMAKE) --build $(BUILD)/sanitize -j $(JOBS)
	ctest --test-dir $(BUILD)/sanitize --output-on-failure -j $(JOBS)

bench:
	$(CMAKE) -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTONESHIFT_TESTS=OFF -DTONESHIFT_BENCHMARKS=ON
	$(CMAKE) --build $(BUILD)/bench -j $(JOBS)
	bench/run_all.sh $(BUILD)/bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
