# Thin targets over CMake + Ninja. See README.md.
BUILD        ?= build
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CTEST_ARGS   ?=
# A test that hangs fails after this many seconds instead of holding CI up.
TEST_TIMEOUT ?= 1200
CMAKE_FLAGS  ?=

# ccache, when installed, shares compiled objects between build directories
# and checkouts (paths are taken relative to the checkout).
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
LAUNCHER := -DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE) -DCMAKE_C_COMPILER_LAUNCHER=$(CCACHE)
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif

configure = cmake -S . -B $(1) -G Ninja $(LAUNCHER) $(CMAKE_FLAGS) $(2) >/dev/null

.PHONY: all build deps check check-asan check-tsan bench fuzz tidy demo extension clean

all: build

build:
	$(call configure,$(BUILD),)
	cmake --build $(BUILD) -j $(JOBS)

deps:
	scripts/install-deps

check: deps build
	cd $(BUILD) && ctest --output-on-failure --timeout $(TEST_TIMEOUT) -j $(JOBS) $(CTEST_ARGS)

# AddressSanitizer + UndefinedBehaviorSanitizer over every test.
check-asan: deps
	$(call configure,build-asan,-DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=address -DZV_BENCH=OFF)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure --timeout $(TEST_TIMEOUT) -j $(JOBS) $(CTEST_ARGS)

# ThreadSanitizer over the tests of the threaded layers (label "threads").
check-tsan: deps
	$(call configure,build-tsan,-DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=thread -DZV_BENCH=OFF)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp \
		ctest --output-on-failure --timeout $(TEST_TIMEOUT) -j $(JOBS) -L threads $(CTEST_ARGS)

bench: deps build
	@set -e; for b in $(BUILD)/bin/*_bench; do \
		[ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done

fuzz: deps
	$(call configure,build-fuzz,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14)
	cmake --build build-fuzz -j $(JOBS)
	@set -e; for f in build-fuzz/bin/*_fuzz; do \
		[ -x "$$f" ] || continue; n=$$(basename $$f); \
		mkdir -p build-fuzz/corpus/$$n; \
		seeds=fuzz/corpus/$$n; [ -d $$seeds ] || seeds=; \
		echo "== $$n for $(FUZZ_SECONDS) s"; \
		"$$f" -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -print_final_stats=1 \
			build-fuzz/corpus/$$n $$seeds; done

# The checks of .clang-tidy (a function-size limit) over every C++ file of
# the build; a function beyond the limit fails it. About half an hour on two
# cores, so not part of check.
tidy: deps build
	run-clang-tidy-14 -quiet -p $(BUILD) -j $(JOBS) '$(CURDIR)/(engine|server|cli|native_host|runtime|programs|crash_report|bench|fuzz)/'

# The main job on this machine: a local server on SQLite and two computers
# syncing the sample bookmark exports in examples/ (scripts/demo).
demo: deps
	$(call configure,$(BUILD),)
	cmake --build $(BUILD) -j $(JOBS) --target zorvane zorvane-server zorvane_component \
		zorvane-native-host extension
	scripts/demo $(BUILD)

# The unpacked extension (build/zorvane-extension) and its zip
# (build/zorvane-extension.zip).
extension:
	$(call configure,$(BUILD),)
	cmake --build $(BUILD) --target extension
	@echo "unpacked: $(BUILD)/zorvane-extension"; echo "zip:      $(BUILD)/zorvane-extension.zip"

clean:
	rm -rf build build-asan build-tsan build-fuzz
