# Front door. `make run` builds a release build and packs the sample data
# directory; `make test` builds and runs the suite twice, plainly and under
# AddressSanitizer and UndefinedBehaviorSanitizer.

CMAKE ?= cmake
CTEST ?= ctest
JOBS ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)

BUILD_DIR ?= build
TEST_DIR ?= build/test
ASAN_DIR ?= build/asan

.PHONY: all release run test test-plain test-asan clean

all: release

release:
	$(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DQUARRION_TESTS=OFF
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS) --target quarrion

run: release
	./$(BUILD_DIR)/quarrion -dir examples/data -o $(BUILD_DIR)/example.vp < /dev/null

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

clean:
	rm -rf build
