#!/usr/bin/env bash
# Checks the packages in dist/ (or $1) as a user gets them: each is unpacked into a fresh
# directory, outside the build, and the program in it extracts the demo archive (for the
# Debian package, its own autopkgtest does); its manual page renders; the Linux archive's
# program needs no shared library; lintian finds neither an error nor a warning in the
# Debian package. Each check is one case; the last line counts them for tests/suite.sh.
#
#   tests/package_check.sh [<directory>]   (what `make package-test` runs, after make package)
#
# With TOLVEX_END_TO_END naming the end-to-end test binary of a native test build, the
# whole end-to-end suite runs against the Linux archive's program and the Debian package's.
# With TOLVEX_WINE naming Wine, the Windows archive's tolvex.exe runs too (in the Wine
# prefix of the Windows build when there is one).
set -uo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
dist=$(cd "${1:-dist}" && pwd) || exit 1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvex-packages.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

passed=0 failed=0
# check <what> <command...>: one case, its output shown when it fails.
check() {
  local what=$1 log
  shift
  log=$("$@" 2>&1)
  if [ $? = 0 ]; then
    echo "  ok      $what"
    passed=$((passed + 1))
  else
    echo "  FAILED  $what"
    [ -n "$log" ] && printf '%s\n' "$log" | sed 's/^/          /'
    failed=$((failed + 1))
  fi
}

deb=$(cd "$dist" && ls tolvex_*.deb 2> /dev/null | head -n 1)
version=$(dpkg-deb --field "$dist/$deb" Version 2> /dev/null)
if [ -z "$deb" ] || [ -z "$version" ]; then
  echo "No Debian package in $dist: run make package first." >&2
  echo "suite: 0 passed, 1 failed"
  exit 1
fi
linux=tolvex-$version-linux-$(uname -m)
windows=tolvex-$version-windows-x86_64

# extracts_demo <program...>: runs the program on the demo archive in an empty directory,
# as a user would; the run must succeed (no line ends in NG or starts with Error:), name
# the version in its banner, and leave the demo's tree.
extracts_demo() {
  local run output
  run=$(mktemp -d "$scratch/run.XXXXXX")
  output=$(cd "$run" && "$@" "$source_dir/examples/demo.asar") || return 1
  printf '%s\n' "$output"
  printf '%s\n' "$output" | head -n 1 | grep -q "^Tolvex v$version, " || return 1
  ! printf '%s\n' "$output" | grep -q -e ' NG$' -e '^Error:' || return 1
  diff -r "$source_dir/examples/demo" "$run/tolvex"
}

# renders <page>: man shows the page, with its name line, and groff has nothing to say.
renders() {
  local text
  text=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 > /dev/null) || return 1
  [ -z "$text" ] || { printf '%s\n' "$text"; return 1; }
  MANWIDTH=80 man -l "$1" 2> /dev/null | grep -q "tolvex - extract ASAR archives" || return 1
  zcat -f "$1" | grep -q "^\.TH TOLVEX 1 .* \"tolvex $version\""
}

# passes_end_to_end <program>: the end-to-end suite, run against the program.
passes_end_to_end() {
  TOLVEX_PROGRAM=$1 "$TOLVEX_END_TO_END" --gtest_brief=1
}

no_dynamic_section() {
  readelf -d "$1" | grep -q "There is no dynamic section"
}

lintian_is_content() {
  local status
  lintian --fail-on error,warning "$1" 2>&1 | grep -v 'running with root privileges'
  status=${PIPESTATUS[0]}
  return "$status"
}

all_lines_end_in_cr() {
  ! grep -qv $'\r$' "$1"
}

# The C library and the C++ runtime, as dpkg-shlibdeps reads them from the program.
depends_on_runtimes_alone() {
  dpkg-deb --field "$1" Depends | tr ',' '\n' | sed 's/^ *//' \
    | grep -Evx '(libc6|libgcc-s1|libstdc\+\+6)( \(>= [0-9.]+\))?' && return 1
  return 0
}

# has_readme_and_copyright <directory>: the README as it is here (dh_compress compresses it
# when it is large) and Debian's machine-readable copyright file.
has_readme_and_copyright() {
  zcat -f "$1"/README.md* | cmp - "$source_dir/README.md" \
    && grep -q '^License: MIT' "$1/copyright"
}

# runs_autopkgtest <root>: the Debian package's own test (debian/tests/demo), run from the
# source tree against the program unpacked below <root>, as autopkgtest runs it against the
# installed one.
runs_autopkgtest() {
  local tmp
  tmp=$(mktemp -d "$scratch/autopkgtest.XXXXXX")
  (cd "$source_dir" && PATH=$1/usr/bin:$PATH AUTOPKGTEST_TMP=$tmp debian/tests/demo)
}

# members_are <archive> <member...>: the archive's files are those named, in any order.
members_are() {
  local archive=$1
  shift
  diff <(printf '%s\n' "$@" | sort) <(case $archive in
    *.tar.gz) tar -tzf "$archive" | grep -v '/$' ;;
    *.zip) unzip -Z1 "$archive" ;;
  esac | sort)
}

echo "Packages in $dist, version $version:"
check "SHA256SUMS holds the sum of every package" \
  sh -c "cd '$dist' && sha256sum --check --strict SHA256SUMS && \
         [ \$(ls | grep -vc SHA256SUMS) = \$(wc -l < SHA256SUMS) ]"

# The Linux archive.
check "$linux.tar.gz holds the program, its manual page, README.md and LICENSE" \
  members_are "$dist/$linux.tar.gz" \
  "$linux/LICENSE" "$linux/README.md" "$linux/tolvex" "$linux/tolvex.1"
mkdir "$scratch/tar" && tar -xzf "$dist/$linux.tar.gz" -C "$scratch/tar"
check "its program extracts the demo archive" extracts_demo "$scratch/tar/$linux/tolvex"
check "its program is linked statically (no dynamic section)" \
  no_dynamic_section "$scratch/tar/$linux/tolvex"
check "its manual page renders" renders "$scratch/tar/$linux/tolvex.1"
if [ -n "${TOLVEX_END_TO_END:-}" ]; then
  check "the end-to-end suite passes against its program" \
    passes_end_to_end "$scratch/tar/$linux/tolvex"
fi

# The Debian package.
mkdir "$scratch/deb" && dpkg-deb -x "$dist/$deb" "$scratch/deb"
check "$deb installs the program in /usr/bin and its autopkgtest passes" \
  runs_autopkgtest "$scratch/deb"
if [ -n "${TOLVEX_END_TO_END:-}" ]; then
  check "the end-to-end suite passes against its program" \
    passes_end_to_end "$scratch/deb/usr/bin/tolvex"
fi
check "its manual page is compressed in /usr/share/man/man1 and renders" \
  renders "$scratch/deb/usr/share/man/man1/tolvex.1.gz"
check "it has the README and a copyright file naming the MIT licence" \
  has_readme_and_copyright "$scratch/deb/usr/share/doc/tolvex"
check "it depends on the C library and the C++ runtime alone" \
  depends_on_runtimes_alone "$dist/$deb"
check "lintian finds neither an error nor a warning in it" lintian_is_content "$dist/$deb"

# The Windows archive.
if [ -e "$dist/$windows.zip" ]; then
  check "$windows.zip holds tolvex.exe, README.txt and LICENSE.txt" \
    members_are "$dist/$windows.zip" \
    "$windows/tolvex.exe" "$windows/README.txt" "$windows/LICENSE.txt"
  mkdir "$scratch/zip" && unzip -q "$dist/$windows.zip" -d "$scratch/zip"
  check "its texts end their lines as Windows does" \
    all_lines_end_in_cr "$scratch/zip/$windows/README.txt"
  if [ -n "${TOLVEX_WINE:-}" ]; then
    prefix=$source_dir/build/windows/wine-prefix
    [ -d "$prefix" ] || prefix=$source_dir/build/package/wine-prefix
    check "its tolvex.exe extracts the demo archive under Wine" \
      extracts_demo env -u DISPLAY LC_ALL=C.UTF-8 WINEPREFIX="$prefix" WINEDEBUG=-all \
      WINEDLLOVERRIDES=mscoree,mshtml= "$TOLVEX_WINE" "$scratch/zip/$windows/tolvex.exe"
  else
    echo "  (Wine was not found: tolvex.exe was not run)"
  fi
fi

echo "suite: $passed passed, $failed failed"
[ "$failed" = 0 ]
