# The two entry points of the project: `make run` and `make test`.
# Both install missing Debian packages first, then configure and build in build/.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup configure build run test sanitize sanitize-all fuzz-build fuzz clean

all: build

setup:
	@scripts/setup-debian.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The engine's tests built with the address and undefined-behaviour sanitizers
# (in their own build tree) and run there.
SANITIZE_DIR ?= build-asan
ENGINE_TEST_PROGRAMS ?= test_cmdline test_options test_run test_observed test_info test_input test_pool \
	test_output test_filters test_transcode test_loop_sync
ENGINE_TESTS ?= engine_entry|info|input|pool|output|filters|transcode

sanitize: setup
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWVC_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS) --target ffmpeg_exec $(ENGINE_TEST_PROGRAMS)
	@cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -R '^($(ENGINE_TESTS))'

# Every test program (engine, skin, widgets, application, bad inputs, fuzz replays)
# built with the address and undefined-behaviour sanitizers in their own build
# tree, and every ctest entry run there. Leaks that system libraries make on their
# own are suppressed by name in tests/sanitize/ (full unwinding of allocations, as
# the system libraries have no frame pointers, so a suppression sees the library).
SANITIZE_ALL_DIR ?= build-asan-all
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:fast_unwind_on_malloc=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

sanitize-all: setup
	@cmake -S . -B $(SANITIZE_ALL_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWVC_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_ALL_DIR) -j $(JOBS)
	@cd $(SANITIZE_ALL_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (tests/fuzz) built with clang, coverage instrumentation and the
# address and undefined-behaviour sanitizers; `make fuzz` runs each target in turn
# for FUZZ_SECONDS with one job. Logs, corpora and findings stay in FUZZ_DIR.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= args convert
FUZZ_CC ?= clang-14
FUZZ_CXX ?= clang++-14

fuzz-build:
	@scripts/setup-debian.sh clang-14 libclang-rt-14-dev
	@cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWVC_FUZZ=ON \
		-DCMAKE_C_COMPILER=$(FUZZ_CC) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS)) \
		make_fuzz_seeds fuzz_args_dict

fuzz: fuzz-build
	@tests/fuzz/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	@rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(SANITIZE_ALL_DIR) $(FUZZ_DIR)
