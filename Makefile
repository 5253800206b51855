# The two set-up commands of the README, plus the benchmarks and the install.
#   make run      install what is missing, build the processor and the job
#                 writer only, start the processor with a sample job
#   make test     install what is missing, build everything, run every test
#                 (plain, then under ASan/UBSan, then the fuzzers) and end with
#                 "N passed, N failed" over the test cases
#   make bench    build and run the benchmarks (nothing else is built)
#   make fuzz     search with each fuzzer for FUZZ_SECONDS (default 600),
#                 where `make test` runs each once over the inputs it keeps
#   make install  build the processor and the writer and install them with
#                 the user service below PREFIX (default /usr/local); DESTDIR
#                 puts the tree below a staging folder
# Parts on their own: make build, make build-run, make test-plain,
# make test-asan, make build-sanitized.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
CMAKE_FLAGS ?=
PREFIX ?= /usr/local
DESTDIR ?=
FUZZ_SECONDS ?= 600

.PHONY: deps configure build build-run build-sanitized test test-plain test-asan run bench fuzz install clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only what `make run` and `make install` need: the processor and the writer.
build-run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target kivo-processor kivo-jobwriter

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

build-sanitized: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKIVO_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-asan: build-sanitized
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

test: deps
	@BUILD=$(BUILD) ASAN_BUILD=$(ASAN_BUILD) CMAKE_FLAGS="$(CMAKE_FLAGS)" scripts/run-tests $(JOBS)

fuzz: deps
	@KIVO_FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzz $(JOBS)

run: build-run
	@scripts/run-demo $(BUILD)

# A build folder already configured (by `make run` or `make test`, perhaps
# as another user) is used as it is.
install:
	@[ -f "$(BUILD)/build.ninja" ] || $(MAKE) --no-print-directory configure BUILD="$(BUILD)" CMAKE_FLAGS="$(CMAKE_FLAGS)"
	@cmake --build $(BUILD) -j $(JOBS) --target kivo-processor kivo-jobwriter
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

bench:
	@scripts/install-deps --bench
	@cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVO_BENCH=ON >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS) --target kivo_benchmarks
	@for b in $(BUILD)-bench/bench/*/bench_*; do [ -x "$$b" ] || continue; printf '\n==== %s ====\n' "$$(basename $$b)"; "$$b" || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BUILD)-bench $(BUILD)-fuzz
