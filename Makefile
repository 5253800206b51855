# The two set-up commands of the README, plus the benchmarks.
#   make run    install what is missing, build, start the processor with a sample job
#   make test   install what is missing, build, run every test (plain, then under
#               ASan/UBSan, then the fuzzers) and end with "N passed, N failed"
#   make bench  build and run the benchmarks
# Parts on their own: make test-plain, make test-asan, make build-sanitized.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
CMAKE_FLAGS ?=

.PHONY: deps build build-sanitized test test-plain test-asan run bench clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

build-sanitized: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKIVO_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-asan: build-sanitized
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

test: deps
	@BUILD=$(BUILD) ASAN_BUILD=$(ASAN_BUILD) CMAKE_FLAGS="$(CMAKE_FLAGS)" scripts/run-tests $(JOBS)

run: build
	@scripts/run-demo $(BUILD)

bench:
	@scripts/install-deps --bench
	@cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVO_BENCH=ON >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS)
	@for b in $(BUILD)-bench/bench/*/bench_*; do [ -x "$$b" ] || continue; printf '\n==== %s ====\n' "$$(basename $$b)"; "$$b" || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BUILD)-bench $(BUILD)-fuzz
