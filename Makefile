# Drives CMake into build/ (and build-asan/ for the sanitized suite).
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all setup build run test test-asan bench clean

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

bench: build
	$(BUILD)/prbench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
