# make demo: build, then install the demo package under Wine and show the
#            module's lines from the installer log.
# make test: build both architectures and the native units, run every test.
# make stats: production and test lines of the tracked sources.
# make bench: the module's costs under Wine against bare Win32 loops.
BUILD ?= build
X64 := $(BUILD)/x64
X86 := $(BUILD)/x86
NATIVE := $(BUILD)/native
JOBS ?= 2

.PHONY: all bootstrap build x64 x86 native test demo stats bench clean

all: build

bootstrap:
	@scripts/bootstrap.sh

$(X64)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(X64) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVR_X86_BUILD_DIR=$(abspath $(X86))

$(X86)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(X86) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVR_BUILD_TESTS=OFF

$(NATIVE)/CMakeCache.txt: | bootstrap
	CC=clang CXX=clang++ cmake -S . -B $(NATIVE) -DQVR_NATIVE=ON -DCMAKE_BUILD_TYPE=Debug

x64: $(X64)/CMakeCache.txt
	cmake --build $(X64) -j$(JOBS)

x86: $(X86)/CMakeCache.txt
	cmake --build $(X86) -j$(JOBS)

native: $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j$(JOBS)

build: x64 x86 native

test: build
	@scripts/run-tests.sh $(X64) $(NATIVE)

demo: x64
	@scripts/demo.sh $(X64)

stats:
	@scripts/stats.sh

bench: x64
	@scripts/bench.sh $(X64)

clean:
	rm -rf $(BUILD)
