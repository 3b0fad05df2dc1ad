# Front door. `make test` and `make run` work on a fresh Debian machine.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
BUILD_WIN  ?= build-win
BUILD_WIN32 ?= build-win32
FUZZ_SECONDS ?= 120
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps build build-asan build-fuzz fuzz test test-unit test-asan test-windows test-i686 \
	windows windows-i686 windows-dist run run-windows bench reliability format clean

all: build

deps:
	scripts/install-deps

# The Linux build's end-to-end tests also drive the Windows builds under Wine
# (label "windows", run by test-windows; the 32-bit one's label "i686", run by
# test-i686).
$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKVT_WINDOWS_BUILD=$(CURDIR)/$(BUILD_WIN) -DKVT_WINDOWS_BUILD_I686=$(CURDIR)/$(BUILD_WIN32)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

$(BUILD_ASAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKVT_SANITIZE=ON -DKVT_WITH_QT=OFF

build-asan: deps $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j $(JOBS)

# The Windows builds, cross-compiled with mingw-w64 (cmake/toolchain-mingw-*.cmake).
$(BUILD_WIN)/build.ninja: | deps
	cmake -S . -B $(BUILD_WIN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake

windows: deps $(BUILD_WIN)/build.ninja
	cmake --build $(BUILD_WIN) -j $(JOBS)

# What an office gets, into build-win/dist/: the installer (NSIS), carrying
# both Windows builds, and a zip of each. The installer's demo practice is
# made by the Linux build's vellodoc-sim.
windows-dist: windows windows-i686 $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target vellodoc-sim
	cmake $(BUILD_WIN) -DKVT_VELLODOC_SIM=$(CURDIR)/$(BUILD)/bin/vellodoc-sim \
		-DKVT_WINDOWS_BUILD_I686=$(CURDIR)/$(BUILD_WIN32)
	cmake --build $(BUILD_WIN) -j $(JOBS) --target windows_dist

# 32-bit: the program, its libraries and the smoke program; its tests are
# the Linux build's label i686 (test-i686).
$(BUILD_WIN32)/build.ninja: | deps
	cmake -S . -B $(BUILD_WIN32) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DKVT_TESTS=OFF -DKVT_SMOKE_TEST=ON

windows-i686: deps $(BUILD_WIN32)/build.ninja
	cmake --build $(BUILD_WIN32) -j $(JOBS)

# Every test of the normal build, the unit tests again under ASan+UBSan, then
# the Windows tests under Wine, the 32-bit ones last. The Wine prefixes (a few
# minutes to make the first time) are made while the Linux builds compile.
test: deps
	mkdir -p $(BUILD_WIN) $(BUILD_WIN32)
	scripts/wine-prefix $(BUILD_WIN) > $(BUILD_WIN)/wine-prefix.log 2>&1 & echo $$! > $(BUILD_WIN)/wine-prefix.pid
	scripts/wine-prefix $(BUILD_WIN32) i686 > $(BUILD_WIN32)/wine-prefix.log 2>&1 & echo $$! > $(BUILD_WIN32)/wine-prefix.pid
	$(MAKE) build build-asan windows windows-i686 windows-dist
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE windows
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS) -L unit
	scripts/wine-wait-prefix $(BUILD_WIN)
	$(MAKE) test-windows
	scripts/wine-wait-prefix $(BUILD_WIN32) || true
	$(MAKE) test-i686

# The Windows tests under Wine, with one prefix and one wineserver for both
# builds: the Windows build's own tests and the end-to-end cases driving it
# from the Linux build.
test-windows:
	scripts/wine-tests $(BUILD_WIN) $(BUILD_WIN) -j $(JOBS)
	scripts/wine-tests $(BUILD_WIN) $(BUILD) -j $(JOBS) -L windows -LE i686

# The 32-bit Windows tests (label i686: the smoke test, a small practice
# through both builds, a resumed run, the connector of the other bitness) in
# the 32-bit build's own prefix; where wine32 cannot be installed here, inside
# the isolated environment scripts/install-deps makes (scripts/i686-root). The
# last line says whether they ran; not running fails the target. The 64-bit
# LKlib.dll is the connector of the other bitness.
test-i686: deps windows-i686 $(BUILD)/build.ninja $(BUILD_WIN)/build.ninja
	cmake $(BUILD) -DKVT_WINDOWS_BUILD_I686=$(CURDIR)/$(BUILD_WIN32) > /dev/null
	cmake --build $(BUILD) -j $(JOBS) --target piattaforme_test guasti_test
	cmake --build $(BUILD_WIN) -j $(JOBS) --target LKlib_dll
	scripts/i686-tests $(BUILD_WIN32) $(BUILD) -j $(JOBS)

test-unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

# libFuzzer targets with clang, ASan and UBSan in their own build; each runs
# FUZZ_SECONDS and what it finds is merged into fuzz/corpus/.
$(BUILD_FUZZ)/build.ninja: | deps
	cmake -S . -B $(BUILD_FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DKVT_FUZZ=ON -DKVT_TESTS=OFF -DKVT_WITH_QT=OFF

build-fuzz: deps $(BUILD_FUZZ)/build.ninja
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_targets

fuzz: build-fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz $(BUILD_FUZZ)

run: build
	scripts/run-demo $(BUILD)

# The same demo with the Windows program under Wine (its prefix is made the
# first time, about three minutes).
run-windows: build windows
	scripts/demo $(BUILD) $(BUILD_WIN)

# Linux and, side by side, the Windows build under Wine.
bench: build windows
	bench/run $(BUILD) $(BUILD_WIN)

# The reliability tests, then the crash test again with more seeds (each one
# 40 kills of a 150-patient sending); a failing seed replays with
# KVT_CRASH_SEED=N build/tests/crash_test.
CRASH_SEEDS ?= 1 2 3 4 5 6 7 8 9 10
reliability: build
	cd $(BUILD) && ctest --output-on-failure -L reliability
	for seed in $(CRASH_SEEDS); do \
		KVT_CRASH_SEED=$$seed $(BUILD)/tests/crash_test --gtest_brief=1 || exit 1; \
	done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_WIN) $(BUILD_WIN32)
