# The two entry points of the project: `make run` and `make test`.
# Both install missing Debian packages first, then configure and build in build/.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup configure build run test sanitize clean

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
ENGINE_TEST_PROGRAMS ?= test_cmdline test_options test_run test_info test_input test_pool \
	test_output test_filters test_transcode test_loop_sync
ENGINE_TESTS ?= engine_entry|info|input|pool|output|filters|transcode

sanitize: setup
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWVC_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS) --target ffmpeg_exec $(ENGINE_TEST_PROGRAMS)
	@cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -R '^($(ENGINE_TESTS))'

clean:
	@rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
