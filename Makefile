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

# The ThreadSanitizer build needs the compiler's runtime for it (Debian: libtsan2 with g++).
HAVE_TSAN := $(shell printf 'int main() { return 0; }' \
	| $${CXX:-c++} -x c++ -fsanitize=thread - -o /dev/null 2>/dev/null && echo yes)

# The Windows cross build needs MinGW-w64 with the posix thread model, its tests need Wine.
# Debian: apt-get install --no-install-recommends g++-mingw-w64-x86-64-posix wine64 googletest
# Either can be declared missing, to see what a machine without it does: make test HAVE_MINGW=
ifeq ($(origin HAVE_MINGW),undefined)
HAVE_MINGW := $(shell command -v x86_64-w64-mingw32-g++-posix 2>/dev/null)
endif
ifeq ($(origin HAVE_WINE),undefined)
HAVE_WINE := $(shell command -v /usr/lib/wine/wine64 wine64 wine 2>/dev/null | head -n 1)
endif

# The Linux cross builds need Debian's cross compilers, their tests qemu's user-mode emulation.
# Debian: apt-get install --no-install-recommends g++-s390x-linux-gnu g++-aarch64-linux-gnu \
#   qemu-user googletest
# Any can be declared missing: make test HAVE_S390X= HAVE_AARCH64= HAVE_QEMU=
ifeq ($(origin HAVE_S390X),undefined)
HAVE_S390X := $(shell command -v s390x-linux-gnu-g++ 2>/dev/null)
endif
ifeq ($(origin HAVE_AARCH64),undefined)
HAVE_AARCH64 := $(shell command -v aarch64-linux-gnu-g++ 2>/dev/null)
endif
ifeq ($(origin HAVE_QEMU),undefined)
HAVE_QEMU := $(shell command -v qemu-s390x >/dev/null 2>&1 && command -v qemu-aarch64 2>/dev/null)
endif

# make package needs dpkg-buildpackage (dpkg-dev) with what debian/control names for the
# Debian package's build (debhelper, GoogleTest), and zip for the Windows archive; checking
# the packages needs dpkg-deb, lintian, man (man-db) and unzip. make test checks them when
# all are there: make test HAVE_PACKAGING= acts as if they were not. The build dependencies
# are asked of dpkg-checkbuilddeps only when the packages are about to be made.
PACKAGING_TOOLS := dpkg-buildpackage dh dpkg-deb lintian man readelf $(if $(HAVE_MINGW),zip unzip)
MISSING_PACKAGING_TOOLS := $(strip $(foreach tool,$(PACKAGING_TOOLS),\
	$(if $(shell command -v $(tool) 2>/dev/null),,$(tool))))
UNMET_BUILD_DEPENDS = $(if $(MISSING_PACKAGING_TOOLS),,\
	$(shell dpkg-checkbuilddeps 2>&1 | sed -n 's/.*Unmet build dependencies: //p'))
ifeq ($(origin HAVE_PACKAGING),undefined)
HAVE_PACKAGING = $(if $(MISSING_PACKAGING_TOOLS)$(strip $(UNMET_BUILD_DEPENDS)),,yes)
endif
NO_PACKAGING = $(strip $(if $(MISSING_PACKAGING_TOOLS),\
	$(MISSING_PACKAGING_TOOLS) not found (Debian: dpkg-dev debhelper lintian man-db zip unzip),\
	$(if $(strip $(UNMET_BUILD_DEPENDS)),\
	the Debian package's build needs $(strip $(UNMET_BUILD_DEPENDS)) (debian/control),\
	the packaging tools were declared missing)))

.PHONY: all release test-build sanitize tsan fuzz-build bench-build posix windows test windows-test \
	s390x aarch64 s390x-test aarch64-test package package-test reproducible-test \
	demo bench bench-program fuzz fuzz-seeds clean

all: release

# Each build is a CMake preset, configured then built (test-build, fuzz-build and
# bench-build are the presets test, fuzz and bench):
# - release: the program alone; a C++17 compiler and CMake are all it needs;
# - posix: the program with _POSIX_C_SOURCE=200809L and no _GNU_SOURCE where it calls the system;
# - windows: cross-compiled with MinGW-w64;
# - s390x (big-endian) and aarch64: Linux on other processors, cross-compiled, with their tests.
release test-build sanitize tsan fuzz-build bench-build posix windows s390x aarch64:
	cmake --preset $(@:-build=)
	cmake --build --preset $(@:-build=)

# The packages of this tree, in dist/: the Linux archive, the Debian package (built from
# debian/ by dpkg-buildpackage), the Windows archive (with MinGW-w64) and their sums; the
# same bytes from every build of one commit.
package:
	@TOLVEX_MINGW="$(HAVE_MINGW)" packaging/make-packages.sh dist

# The whole suite: fuzz targets (replay, then a short search each), the sanitizer builds, the
# release build with its tests, the end-to-end tests again against the build with POSIX
# alone in view, and the Windows build under Wine; then one summary of every part. The run
# fails when any part has a failing test. A part whose tools are missing is skipped, and the
# summary says why.
# After Windows: the s390x and aarch64 builds under qemu, and the packages (as a user gets
# them, and built again elsewhere for the same bytes).
SUITE := tests/suite.sh
test: test-build sanitize $(if $(HAVE_TSAN),tsan) $(if $(HAVE_LIBFUZZER),fuzz-build) posix
	@$(SUITE) start
	@if [ -n "$(HAVE_LIBFUZZER)" ]; then $(SUITE) run "fuzz targets" ctest --preset fuzz || :; \
	else $(SUITE) skip "fuzz targets" "clang with libFuzzer was not found"; fi
	@$(SUITE) run "AddressSanitizer and UBSan build" ctest --preset sanitize || :
	@if [ -n "$(HAVE_TSAN)" ]; then $(SUITE) run "ThreadSanitizer build" ctest --preset tsan || :; \
	else $(SUITE) skip "ThreadSanitizer build" "the compiler cannot build with -fsanitize=thread"; fi
	@$(SUITE) run "release build" ctest --preset test || :
	@if [ -x build/test/tolvex_fault_campaign ]; then \
	  $(SUITE) run "fault campaign" ./build/test/tolvex_fault_campaign --gtest_brief=1 || :; \
	else $(SUITE) skip "fault campaign" "it needs Linux with the GNU C library"; fi
	@$(SUITE) run "end-to-end, POSIX.1-2008 build" env TOLVEX_PROGRAM=$(CURDIR)/build/posix/tolvex \
	  ./build/test/tolvex_end_to_end_tests --gtest_brief=1 || :
	@$(MAKE) --no-print-directory windows-test || :
	@$(MAKE) --no-print-directory s390x-test || :
	@$(MAKE) --no-print-directory aarch64-test || :
	@$(MAKE) --no-print-directory package-test || :
	@$(MAKE) --no-print-directory reproducible-test PACKAGES_MADE=yes || :
	@$(SUITE) summary

# The Windows build, cross-compiled, with its tests run under Wine: its unit tests, and the
# end-to-end tests of the test build run against tolvex.exe. Without the cross compiler it
# is skipped; without Wine it is built but not tested. Recorded as a part of make test's
# summary (tests/suite.sh); make windows-test alone fails when a test fails.
windows-test:
	@if [ -z "$(HAVE_MINGW)" ]; then \
	  $(SUITE) skip "Windows build under Wine" \
	    "x86_64-w64-mingw32-g++-posix (MinGW-w64) was not found (Debian: g++-mingw-w64-x86-64-posix)"; \
	elif ! $(MAKE) --no-print-directory windows; then \
	  $(SUITE) run "Windows build under Wine" false; \
	elif [ -z "$(HAVE_WINE)" ]; then \
	  $(SUITE) skip "Windows tests under Wine" "Wine was not found (Debian: wine64); the build alone was checked"; \
	else \
	  $(MAKE) --no-print-directory test-build >/dev/null && \
	  $(SUITE) run "Windows build under Wine" ctest --preset windows; \
	fi

# A Linux cross build, with its unit and hardening tests run under qemu, and the end-to-end
# tests of the test build run against the emulated program (cmake/emulated_tests.cmake).
# Without the cross compiler it is skipped; without qemu it is built but not tested.
# $(call emulated-test,<preset>,<compiler>,<whether it is there>,<Debian package>)
define emulated-test
	@if [ -z "$(3)" ]; then \
	  $(SUITE) skip "$(1) build under qemu" "$(2) was not found (Debian: $(4))"; \
	elif ! $(MAKE) --no-print-directory $(1); then \
	  $(SUITE) run "$(1) build under qemu" false; \
	elif [ -z "$(HAVE_QEMU)" ]; then \
	  $(SUITE) skip "$(1) build under qemu" "qemu-user was not found (Debian: qemu-user); the build alone was checked"; \
	else \
	  $(MAKE) --no-print-directory test-build >/dev/null && \
	  $(SUITE) run "$(1) build under qemu" ctest --preset $(1); \
	fi
endef

s390x-test:
	$(call emulated-test,s390x,s390x-linux-gnu-g++,$(HAVE_S390X),g++-s390x-linux-gnu)

aarch64-test:
	$(call emulated-test,aarch64,aarch64-linux-gnu-g++,$(HAVE_AARCH64),g++-aarch64-linux-gnu)

# The packages as a user gets them: unpacked into a fresh directory, their program run on
# the demo archive (and the end-to-end suite of the test build, when it is built, run
# against the Linux programs), their manual page rendered, lintian run on the Debian package.
package-test:
	@if [ -z "$(HAVE_PACKAGING)" ]; then \
	  $(SUITE) skip "packages as a user gets them" "$(NO_PACKAGING)"; \
	elif ! $(MAKE) --no-print-directory package; then \
	  $(SUITE) run "packages as a user gets them" false; \
	else \
	  $(SUITE) run "packages as a user gets them" env TOLVEX_WINE=$(HAVE_WINE) \
	    TOLVEX_END_TO_END=$(wildcard $(CURDIR)/build/test/tolvex_end_to_end_tests) \
	    tests/package_check.sh dist; \
	fi

# The packages built again from a copy of this tree elsewhere, later: the same bytes.
# PACKAGES_MADE=yes: those in dist/ were just made from this tree (make test makes them for
# package-test), and are not made again first.
reproducible-test:
	@if [ -z "$(HAVE_PACKAGING)" ]; then \
	  $(SUITE) skip "packages reproducible" "$(NO_PACKAGING)"; \
	elif [ -z "$(PACKAGES_MADE)" ] && ! $(MAKE) --no-print-directory package >/dev/null; then \
	  $(SUITE) run "packages reproducible" false; \
	else \
	  $(SUITE) run "packages reproducible" tests/reproducible_check.sh; \
	fi

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
fuzz-seeds: fuzz-build
	./build/fuzz/tolvex_fuzz_seeds fuzz/corpus/read_header
	./build/fuzz/tolvex_fuzz_seeds fuzz/corpus/process_archive

# Benchmarks (never part of the tests): the header parser against other JSON parsers. The
# scripts in bench/ time the whole program; they use this build too.
bench: bench-build
	@if [ -x build/bench/tolvex_json_bench ]; then ./build/bench/tolvex_json_bench; \
	else echo "Header parser benchmark skipped: Google Benchmark was not found."; fi

# The whole program on archives with headers of 75,000 to 600,000 entries: time from start to
# exit and peak memory, next to RapidJSON's parse of the same header text.
bench-program: bench-build
	./build/bench/tolvex_whole_bench --tolvex=build/bench/tolvex

clean:
	rm -rf build dist
