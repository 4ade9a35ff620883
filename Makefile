# Thin wrapper over the CMake presets in CMakePresets.json.

# Ninja when it is installed, CMake's default generator (Make) otherwise.
ifneq ($(shell command -v ninja 2>/dev/null),)
export CMAKE_GENERATOR ?= Ninja
endif
export CMAKE_BUILD_PARALLEL_LEVEL ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all release sanitize test demo bench clean

all: release

release:
	cmake --preset release
	cmake --build --preset release

sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize

# Both builds run the whole suite; the run fails when either has a failing test.
test: release sanitize
	@status=0; \
	ctest --preset sanitize || status=1; \
	ctest --preset release || status=1; \
	exit $$status

# Benchmarks (never part of the tests): the header parser against other JSON parsers.
bench: release
	./build/release/tolvex_json_bench

clean:
	rm -rf build
