# Front door. `make test` and `make run` work on a fresh Debian machine.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 120
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps build build-asan build-fuzz fuzz test test-unit test-asan run bench reliability format clean

all: build

deps:
	scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

$(BUILD_ASAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKVT_SANITIZE=ON -DKVT_WITH_QT=OFF

build-asan: deps $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j $(JOBS)

# Every test of the normal build, then the unit tests again under ASan+UBSan.
test: build build-asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS) -L unit

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

bench: build
	bench/run $(BUILD)

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
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ)
