# The two commands of the README: `make run` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
GENERATOR := -G Ninja
export ASAN_OPTIONS ?= halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS ?= halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS ?= halt_on_error=1:second_deadlock_stack=1
# The AddressSanitizer runs add our suppressions (leaks inside system libraries) to whatever
# LSAN_OPTIONS the caller has set.
LSAN_SUPPRESSED = LSAN_OPTIONS="$${LSAN_OPTIONS:+$$LSAN_OPTIONS:}suppressions=$(CURDIR)/tests/lsan.supp"

.PHONY: all deps build run package test test-normal test-asan test-tsan fuzz fuzz-run bench format clean

all: build

deps:
	@scripts/setup-deps

build: deps
	cmake -S . -B build $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKONEL_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

run: build
	@scripts/run build

# The Debian package build/varkonel_VERSION-REVISION_ARCH.deb (install it with sudo apt install ./build/varkonel_*.deb).
package: build
	cd build && cpack -G DEB

# The whole suite in a normal build, then again with AddressSanitizer and UndefinedBehaviorSanitizer,
# then the thread tests (suites named *Threads) with ThreadSanitizer.
test: deps
	$(MAKE) test-normal
	$(MAKE) test-asan
	$(MAKE) test-tsan

test-normal:
	cmake -S . -B build $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKONEL_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)
	ctest --test-dir build --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B build-asan $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKONEL_WERROR=ON \
	  -DVARKONEL_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	$(LSAN_SUPPRESSED) ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan:
	cmake -S . -B build-tsan $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKONEL_WERROR=ON \
	  -DVARKONEL_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -R 'Threads\.'

# libFuzzer binaries (clang), in build-fuzz/bin/*_fuzzer. All of our code is built with coverage
# instrumentation, so the fuzzer is guided by the parsers it drives, not only by the target file;
# fuzz/coverage-ignore.txt names the sample loops left out of it.
FUZZ_FLAGS = -fsanitize=fuzzer-no-link -fsanitize-coverage-ignorelist=$(CURDIR)/fuzz/coverage-ignore.txt
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVARKONEL_LIBFUZZER=ON -DVARKONEL_SANITIZE=address,undefined \
	  -DCMAKE_C_FLAGS="$(FUZZ_FLAGS)" -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)" $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzzers

# Every fuzz target for FUZZ_SECONDS seconds (default 60), one after the other, then a table of
# executions per second, coverage and findings; a finding's input is kept in fuzz/regressions/,
# which `make test` replays.
FUZZ_SECONDS ?= 60
fuzz-run: fuzz
	$(LSAN_SUPPRESSED) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz-run build-fuzz

# The benchmarks against peer tools (bench/run-*.sh): stops at the first missed target and
# prints a table of the targets measured.
bench: build
	@bench/suite.sh build/bin

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz
