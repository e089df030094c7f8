# Thin front end over CMake. `make run` builds the program and starts it; `make test` builds
# and runs every test, then runs them all again under AddressSanitizer and UBSan, and the
# library's under ThreadSanitizer.
JOBS ?= $(shell nproc)
CMAKE ?= cmake
BUILD ?= build

.PHONY: all release run test test-plain test-release test-sanitize test-thread test-corpus bench bench-large fuzz fuzz-build format clean

all: release

release:
	$(CMAKE) -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DTONESHIFT_TESTS=OFF
	$(CMAKE) --build $(BUILD)/release -j $(JOBS) --target toneshift tsconv

run: release
	@$(BUILD)/release/toneshift

# The tests in Release too: -O3 warns where -O2 does not (make run builds that way).
test: test-plain test-release test-sanitize test-thread test-corpus release

test-plain:
	$(CMAKE) -S . -B $(BUILD)/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build $(BUILD)/test -j $(JOBS)
	ctest --test-dir $(BUILD)/test --output-on-failure -j $(JOBS)

test-release:
	$(CMAKE) -S . -B $(BUILD)/test-release -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD)/test-release -j $(JOBS)
	ctest --test-dir $(BUILD)/test-release --output-on-failure -j $(JOBS)

test-sanitize:
	$(CMAKE) -S . -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=Debug -DTONESHIFT_SANITIZE=ON
	$(CMAKE) --build $(BUILD)/sanitize -j $(JOBS)
	ctest --test-dir $(BUILD)/sanitize --output-on-failure -j $(JOBS)

# The library's tests under ThreadSanitizer: its objects are used from separate threads at once.
test-thread:
	$(CMAKE) -S . -B $(BUILD)/thread -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONESHIFT_THREAD_SANITIZE=ON
	$(CMAKE) --build $(BUILD)/thread -j $(JOBS) --target library_test
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/src/library/tsan.supp" $(BUILD)/thread/library_test

# The fuzz targets run once over their committed seed corpora, in a clang build of their own.
test-corpus: fuzz-build
	ctest --test-dir $(BUILD)/fuzz --output-on-failure

bench:
	$(CMAKE) -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTONESHIFT_TESTS=OFF -DTONESHIFT_BENCHMARKS=ON
	$(CMAKE) --build $(BUILD)/bench -j $(JOBS)
	bench/run_all.sh $(BUILD)/bench

# A file over 4 GiB and peak memory against input size; needs about 5 GiB free in $TMPDIR.
bench-large: release
	bench/large_files.sh $(BUILD)/release/toneshift

# `make fuzz` runs each fuzz target for FUZZ_SECONDS, starting from its committed corpus.
# What it learns is kept in fuzz/corpus-work/<target>/, a failing input is written as
# fuzz/corpus-work/<target>-crash-* (neither is committed).
FUZZ_SECONDS ?= 60
FUZZ_WORK ?= fuzz/corpus-work
FUZZ_TARGETS = $(notdir $(wildcard fuzz/corpus/*))

fuzz-build:
	$(CMAKE) -S fuzz -B $(BUILD)/fuzz -DCMAKE_CXX_COMPILER=clang++
	$(CMAKE) --build $(BUILD)/fuzz -j $(JOBS)

fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_WORK)/$$t && echo "== $$t for $(FUZZ_SECONDS) s" && \
	  $(BUILD)/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_WORK)/$$t- $(FUZZ_WORK)/$$t fuzz/corpus/$$t || exit 1; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
