# Drives CMake into build/ (and build-asan/ and build-tsan/ for the sanitized
# suites).
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
# ThreadSanitizer covers the layers where threads and processes share files:
# the store, the file layer and the reliability trials (whose counts it
# divides by 4, as the other sanitized build does).
TSAN_TARGETS ?= test_store test_files test_reliability
TSAN_LABELS  ?= store|files|reliability
TSAN_FLAGS   := -fsanitize=thread -DPR_SANITIZED=1
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all setup build run test test-asan test-tsan bench clean

all: build

setup:
	@tools/bootstrap.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

# The partner browse over PARTNERI.TWL in the folder make was started from, in
# the terminal: arrows, Page Up/Down and Ctrl+Page Up/Down move; Insert,
# Delete, Enter (Change) and Ctrl+Enter open the form; the right button or the
# Menu key opens the popup menu; Escape closes.
run: build
	$(BUILD)/prhost --ui=terminal browse

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPR_SANITIZE=ON $(CMAKE_ARGS) >/dev/null
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j$(JOBS) --timeout 900

test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" \
	  "-DCMAKE_C_FLAGS=$(TSAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
	  -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread $(CMAKE_ARGS) >/dev/null
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest -L '$(TSAN_LABELS)' --output-on-failure -j$(JOBS) --timeout 900

bench: build
	$(BUILD)/prbench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
