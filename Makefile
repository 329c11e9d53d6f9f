# The two commands of the README, plus the optimized and sanitizer runs CI makes after them.
BUILD ?= build
RELEASE_BUILD ?= build-release
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build configure test test-release test-sanitize test-thread fuzz demo install \
	uninstall clean

all: build

deps:
	@tools/scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	@tools/scripts/start-rpcbind.sh
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --timeout 300

# The optimized build: GCC warns at -O3 about things it does not see at -O2, so it is built and
# tested too.
test-release: deps
	cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_BUILD) -j$(JOBS)
	@tools/scripts/start-rpcbind.sh
	ctest --test-dir $(RELEASE_BUILD) --output-on-failure -j$(JOBS) --timeout 300

test-sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVMK_SANITIZE=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	@tools/scripts/start-rpcbind.sh
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) --timeout 600

# The concurrency tests (CTest label "thread") under ThreadSanitizer. A branch that adds such tests
# labels them "thread" and names their executables in THREAD_TARGETS.
THREAD_TARGETS ?= ivic_thread_tests platform_ivic_tests com_thread_tests
TSAN_FLAGS = -fsanitize=thread -fno-omit-frame-pointer
test-thread: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS="$(TSAN_FLAGS)" -DCMAKE_CXX_FLAGS="$(TSAN_FLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target $(THREAD_TARGETS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(TSAN_BUILD) -L thread --output-on-failure -j$(JOBS) --timeout 600

# Every fuzz target for FUZZ_SECONDS on its seed corpus (tests/fuzz/corpus), in a clang build of
# its own that holds nothing but the library and the targets.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVMK_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	tests/fuzz/run.sh $(FUZZ_BUILD)/bin $(FUZZ_SECONDS)

# The demo needs the library, the emulator and itself, not the tests.
demo: configure
	cmake --build $(BUILD) -j$(JOBS) --target vmk40xx-demo vmk40xx-sim
	$(BUILD)/bin/vmk40xx-demo

# make install PREFIX=/opt/vmk40xx (default /usr/local); DESTDIR is honoured for packaging.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Removes what `make install` installed from this build (CMake's list in install_manifest.txt),
# unregistering the installed COM server first when the system registry names it.
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "nothing was installed from $(BUILD)" >&2; exit 1; }
	@lib=$$(grep '/libvmk40xx\.so\.1$$' $(BUILD)/install_manifest.txt | head -n 1); \
	 regsvr=$$(grep '/vmk40xx-regsvr$$' $(BUILD)/install_manifest.txt | head -n 1); \
	 if [ -n "$$lib" ] && [ -x "$$regsvr" ] && grep -qF "$$lib" /etc/vmk40xx/registry.reg 2>/dev/null; then \
	   "$$regsvr" -u --system "$$lib"; \
	 fi
	@xargs -d '\n' rm -f -- < $(BUILD)/install_manifest.txt
	@echo "removed the $$(wc -l < $(BUILD)/install_manifest.txt) files of $(BUILD)/install_manifest.txt"

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
