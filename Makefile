# Thin wrapper over the CMake presets in CMakePresets.json.

# Ninja when it is installed, CMake's default generator (Make) otherwise.
ifneq ($(shell command -v ninja 2>/dev/null),)
export CMAKE_GENERATOR ?= Ninja
endif
export CMAKE_BUILD_PARALLEL_LEVEL ?= $(shell nproc 2>/dev/null || echo 2)

# The fuzz targets need clang with libFuzzer; without it they are left out of `make test`.
HAVE_LIBFUZZER := $(shell printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
	| clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null && echo yes)
FUZZ_TARGETS := parse_document read_header process_archive
FUZZ_SECONDS ?= 600

.PHONY: all release sanitize fuzz-build test demo bench bench-program fuzz fuzz-seeds clean

all: release

release:
	cmake --preset release
	cmake --build --preset release

sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize

fuzz-build:
	cmake --preset fuzz
	cmake --build --preset fuzz

# The whole suite: fuzz targets (replay, then a short search each), the sanitizer build and
# the release build. The run fails when any of them has a failing test.
test: release sanitize $(if $(HAVE_LIBFUZZER),fuzz-build)
	@status=0; \
	if [ -n "$(HAVE_LIBFUZZER)" ]; then ctest --preset fuzz || status=1; \
	else echo "Fuzz targets skipped: clang with libFuzzer was not found."; fi; \
	ctest --preset sanitize || status=1; \
	ctest --preset release || status=1; \
	exit $$status

# Extracts the shipped demo archive in a fresh scratch directory and shows what came out.
demo: release
	@rm -rf build/demo && mkdir -p build/demo
	@echo "$$ cd build/demo && tolvex ../../examples/demo.asar"
	@cd build/demo && ../release/tolvex ../../examples/demo.asar
	@echo
	@echo "Extracted tree (build/demo/tolvex):"
	@cd build/demo && find tolvex | sort | while read -r entry; do \
	  if [ -d "$$entry" ]; then echo "  $$entry/"; \
	  else echo "  $$entry  ($$(wc -c < "$$entry") bytes)"; fi; \
	done

# A longer fuzzing campaign, FUZZ_SECONDS per target, whose new coverage is merged into the
# corpora under fuzz/corpus.
fuzz: fuzz-build
	@for target in $(FUZZ_TARGETS); do \
	  fuzz/run.sh campaign build/fuzz/$${target}_fuzz $$target $(FUZZ_SECONDS) || exit 1; \
	done

# Writes the seed archives of the archive fuzz targets into their corpora (committed).
fuzz-seeds: release
	./build/release/tolvex_fuzz_seeds fuzz/corpus/read_header
	./build/release/tolvex_fuzz_seeds fuzz/corpus/process_archive

# Benchmarks (never part of the tests): the header parser against other JSON parsers.
bench: release
	./build/release/tolvex_json_bench

# The whole program on archives with headers of 75,000 to 600,000 entries: time from start to
# exit and peak memory, next to RapidJSON's parse of the same header text.
bench-program: release
	./build/release/tolvex_whole_bench

clean:
	rm -rf build
