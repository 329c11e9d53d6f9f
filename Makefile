# The two commands of the README, plus the sanitizer run CI makes after them.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= 2
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build test test-sanitize demo clean

all: build

deps:
	@tools/scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	@tools/scripts/start-rpcbind.sh
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --timeout 300

test-sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVMK_SANITIZE=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	@tools/scripts/start-rpcbind.sh
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) --timeout 600

demo: build
	$(BUILD)/bin/vmk40xx-demo

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
