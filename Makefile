# Front door. `make run` builds a release build and packs the sample data
# directory; `make test` builds and runs the suite twice, plainly and under
# AddressSanitizer and UndefinedBehaviorSanitizer; `make test-tsan` runs the
# tests of the code that works on threads under ThreadSanitizer; `make
# test-libcxx` builds and runs it with clang++ and libc++. Every build folder
# may be given as a relative or an absolute path.

CMAKE ?= cmake
CTEST ?= ctest
JOBS ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)

BUILD_DIR ?= build
TEST_DIR ?= build/test
ASAN_DIR ?= build/asan
TSAN_DIR ?= build/tsan
# The tests that run threads: the host layer's, the writer's (files opened
# ahead), the directory import's (statuses read by two threads) and
# extraction's (two threads writing folders).
TSAN_TESTS ?= HostTest|OutputFileTest|FileOpenerTest|WriterTest|DirImportTest|ExtractionTest
GTEST_SOURCE_DIR ?= /usr/src/googletest

.PHONY: all release run test test-plain test-asan test-tsan test-fresh test-libcxx test-windows fuzz fuzz-smoke bench install dist clean

all: release

release:
	$(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DQUARRION_TESTS=OFF
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS) --target quarrion

run: release
	$(BUILD_DIR)/quarrion -dir examples/data -o $(BUILD_DIR)/example.vp < /dev/null

test: test-plain test-asan

test-plain:
	$(CMAKE) -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build $(TEST_DIR) -j $(JOBS)
	$(CTEST) --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

test-asan:
	$(CMAKE) -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DQUARRION_SANITIZE=ON
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	$(CTEST) --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

test-tsan:
	$(CMAKE) -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRION_TSAN=ON
	$(CMAKE) --build $(TSAN_DIR) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	$(CTEST) --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# The suite as a fresh machine builds it: GoogleTest not taken from the
# system but built from the source tree GTEST_SOURCE_DIR through CMake's
# FetchContent, without the network.
FRESH_DIR ?= build/fresh

test-fresh:
	$(CMAKE) -S . -B $(FRESH_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
	  -DFETCHCONTENT_SOURCE_DIR_GOOGLETEST=$(GTEST_SOURCE_DIR) -DFETCHCONTENT_FULLY_DISCONNECTED=ON
	$(CMAKE) --build $(FRESH_DIR) -j $(JOBS)
	$(CTEST) --test-dir $(FRESH_DIR) --output-on-failure -j $(JOBS)

# The suite built as on macOS: clang++ with its own standard library,
# libc++, and GoogleTest built from GTEST_SOURCE_DIR with them (the installed
# one is built for libstdc++).
LIBCXX_DIR ?= build/libcxx
LIBCXX_CC ?= clang
LIBCXX_CXX ?= clang++

test-libcxx:
	$(CMAKE) -S . -B $(LIBCXX_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=$(LIBCXX_CC) \
	  -DCMAKE_CXX_COMPILER=$(LIBCXX_CXX) -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
	  -DQUARRION_GTEST_SOURCE_DIR=$(GTEST_SOURCE_DIR)
	$(CMAKE) --build $(LIBCXX_DIR) -j $(JOBS)
	$(CTEST) --test-dir $(LIBCXX_DIR) --output-on-failure -j $(JOBS)

# Every fuzz/<name>_fuzzer.cpp, built with clang under the sanitizers and run
# for FUZZ_SECONDS each from its seeds in fuzz/corpus/<name>/. New inputs
# collect in $(FUZZ_DIR)/corpus/<name>, crashes in $(FUZZ_DIR)/artifacts/<name>;
# a crash stops the run with a failure. `make fuzz-smoke` is the short run
# of CI, FUZZ_SMOKE_SECONDS each. The targets keep their scratch files in
# FUZZ_TMPDIR, memory where there is a /dev/shm (extraction writes files).
FUZZ_DIR ?= build/fuzz
FUZZ_CXX ?= clang++
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 20
FUZZ_TMPDIR ?= $(shell test -d /dev/shm && test -w /dev/shm && echo /dev/shm || echo $${TMPDIR:-/tmp})
FUZZ_TARGETS ?= $(patsubst fuzz/%_fuzzer.cpp,%,$(wildcard fuzz/*_fuzzer.cpp))

fuzz:
	$(CMAKE) -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUARRION_TESTS=OFF -DQUARRION_FUZZ=ON
	$(CMAKE) --build $(FUZZ_DIR) -j $(JOBS) --target $(addsuffix _fuzzer,$(FUZZ_TARGETS))
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t $(FUZZ_DIR)/artifacts/$$t; \
	  echo "== $${t}_fuzzer for $(FUZZ_SECONDS) s"; \
	  TMPDIR=$(FUZZ_TMPDIR) $(FUZZ_DIR)/fuzz/$${t}_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_DIR)/artifacts/$$t/ $(FUZZ_DIR)/corpus/$$t \
	    $$(test -d fuzz/corpus/$$t && echo fuzz/corpus/$$t); \
	done

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS)

# The line and branch coverage of the program by the whole suite: a clang
# build instrumented for coverage in COVERAGE_DIR runs every test, and every
# process it starts (the test binary, the real program, the seed replays)
# writes its profile; tools/coverage.sh merges them and prints the coverage
# of each folder of the program, then "coverage: lines L%, branches B%". The
# target fails below COVERAGE_MIN_LINES or COVERAGE_MIN_BRANCHES percent.
# LLVM_PROFDATA and LLVM_COV name the tools where those of COVERAGE_CXX's
# version are not found. The build keeps the paths of the sources whole: a
# compiler cache that makes them relative to the build folder (ccache's
# base_dir) gives a header one name per folder it is compiled from, and its
# lines would count twice.
COVERAGE_DIR ?= build/coverage
COVERAGE_CXX ?= clang++
COVERAGE_MIN_LINES ?= 93.5
COVERAGE_MIN_BRANCHES ?= 83.5

.PHONY: coverage
coverage:
	$(CMAKE) -S . -B $(COVERAGE_DIR) -DCMAKE_CXX_COMPILER=$(COVERAGE_CXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUARRION_COVERAGE=ON
	CCACHE_BASEDIR= $(CMAKE) --build $(COVERAGE_DIR) -j $(JOBS)
	CTEST="$(CTEST)" JOBS=$(JOBS) LLVM_PROFDATA="$(LLVM_PROFDATA)" LLVM_COV="$(LLVM_COV)" \
	  tools/coverage.sh $(COVERAGE_DIR) $(COVERAGE_MIN_LINES) $(COVERAGE_MIN_BRANCHES)

# Google Benchmark, in a Release build of its own; BENCH_ARGS go to the
# benchmark binary (e.g. BENCH_ARGS=--benchmark_filter=Layout). Then the
# end-to-end comparison with tar, zip and the copy floor (bench/e2e_bench.sh)
# on the profiles BENCH_PROFILES, BENCH_RUNS runs each; its corpora stay in
# $(BENCH_DIR)/corpus for the next run.
BENCH_DIR ?= build/bench
BENCH_PROFILES ?= small mixed large many copy
BENCH_RUNS ?= 5

bench:
	$(CMAKE) -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUARRION_BENCH=ON -DQUARRION_TESTS=OFF
	$(CMAKE) --build $(BENCH_DIR) -j $(JOBS) --target quarrion_bench quarrion e2e_corpus e2e_floor e2e_iopath
	$(BENCH_DIR)/bench/quarrion_bench $(BENCH_ARGS)
	BENCH_PROFILES="$(BENCH_PROFILES)" BENCH_RUNS="$(BENCH_RUNS)" bench/e2e_bench.sh $(BENCH_DIR)

# The Windows build: cross-compiled with MinGW-w64 (static, GoogleTest built
# from GTEST_SOURCE_DIR) and run under Wine in a prefix of its own: the test
# binary, then end-to-end runs that compare quarrion.exe's archives and text
# files byte for byte with the Linux release build's.
WIN_DIR ?= build-windows
WINE ?= wine
WIN_ENV = WINEPREFIX=$(abspath $(WIN_DIR))/wineprefix WINEDEBUG=-all WINEARCH=win64 \
	WINEDLLOVERRIDES="mscoree,mshtml="

test-windows: release
	$(CMAKE) -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRION_STATIC=ON -DQUARRION_GTEST_SOURCE_DIR=$(GTEST_SOURCE_DIR)
	$(CMAKE) --build $(WIN_DIR) -j $(JOBS)
	@test -d $(WIN_DIR)/wineprefix || { echo "Creating the Wine prefix $(WIN_DIR)/wineprefix"; \
	  $(WIN_ENV) wineboot -i > $(WIN_DIR)/wineboot.log 2>&1; }
	$(WIN_ENV) $(WINE) $(WIN_DIR)/quarrion_tests.exe --gtest_brief=1
	$(WIN_ENV) tests/windows_end_to_end.sh $(WIN_DIR)/quarrion.exe $(BUILD_DIR)/quarrion $(WIN_DIR)/end-to-end

# `make install PREFIX=/opt/quarrion`: the program, its manual page and its
# bash completion below PREFIX (bin/, share/man/man1/, share/bash-completion/).
PREFIX ?= /usr/local

install: release
	$(CMAKE) --install $(BUILD_DIR) --prefix $(PREFIX)

# Release archives in $(DIST_DIR): the Linux build with its manual page and
# completion, and the static MinGW-w64 build of quarrion.exe, each with
# README.md and LICENSE. The version is the CMake project's.
DIST_DIR ?= $(BUILD_DIR)/dist
WIN_RELEASE_DIR ?= $(WIN_DIR)/release

dist: release
	$(CMAKE) -S . -B $(WIN_RELEASE_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUARRION_STATIC=ON -DQUARRION_TESTS=OFF
	$(CMAKE) --build $(WIN_RELEASE_DIR) -j $(JOBS) --target quarrion
	@set -e; \
	version=$$(sed -n 's/^project[(]quarrion VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt); \
	linux=quarrion-$$version-linux-x86_64; windows=quarrion-$$version-windows-x86_64; \
	rm -rf $(DIST_DIR)/$$linux $(DIST_DIR)/$$windows; \
	mkdir -p $(DIST_DIR)/$$linux $(DIST_DIR)/$$windows; \
	cp $(BUILD_DIR)/quarrion doc/quarrion.1 doc/quarrion.bash README.md LICENSE $(DIST_DIR)/$$linux/; \
	cp $(WIN_RELEASE_DIR)/quarrion.exe README.md LICENSE $(DIST_DIR)/$$windows/; \
	cd $(DIST_DIR); \
	$(CMAKE) -E tar czf $$linux.tar.gz $$linux; \
	$(CMAKE) -E tar cf $$windows.zip --format=zip $$windows; \
	echo "$(DIST_DIR)/$$linux.tar.gz"; echo "$(DIST_DIR)/$$windows.zip"

clean:
	rm -rf $(BUILD_DIR) $(TEST_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FRESH_DIR) $(LIBCXX_DIR) $(FUZZ_DIR) $(BENCH_DIR) \
	  $(WIN_DIR)
