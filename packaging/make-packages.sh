#!/usr/bin/env bash
# Builds the packages of tolvex into one directory (dist/ by default):
#
#   tolvex-<version>-linux-<processor>.tar.gz   the program linked statically, its manual
#                                               page, README.md and LICENSE
#   tolvex_<version>_<architecture>.deb         the Debian package, built from debian/ by
#                                               dpkg-buildpackage
#   tolvex-<version>-windows-x86_64.zip         tolvex.exe, README.txt and LICENSE.txt
#                                               (when MinGW-w64 is installed)
#   SHA256SUMS                                  the sums of them all
#
# Two builds of one commit give the same bytes, wherever and whenever they run: every time
# stamp packed is the commit's (SOURCE_DATE_EPOCH, read from git unless it is set), members
# are packed in a fixed order with root as their owner, and the umask and the time zone are
# fixed here. The version comes from the CMake project (debian/rules checks that
# debian/changelog names the same).
#
#   packaging/make-packages.sh [<directory>]     (what `make package` runs)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-dist}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2> /dev/null); then
    echo "This is not a git checkout: set SOURCE_DATE_EPOCH to the time of its commit." >&2
    exit 1
  fi
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

missing=""
for tool in cmake dpkg-buildpackage dh tar gzip sha256sum; do
  command -v "$tool" > /dev/null || missing="$missing $tool"
done
# TOLVEX_MINGW empty (as `make package HAVE_MINGW=` sets it) acts as if MinGW were missing.
windows=${TOLVEX_MINGW-$(command -v x86_64-w64-mingw32-g++-posix || :)}
if [ -n "$windows" ]; then
  command -v zip > /dev/null || missing="$missing zip"
fi
if [ -n "$missing" ]; then
  echo "Cannot build the packages: not found:$missing (Debian: cmake dpkg-dev debhelper zip)." >&2
  exit 1
fi

stage=$PWD/build/package/stage
rm -rf "$out" "$stage"
mkdir -p "$out" "$stage"
out=$(cd "$out" && pwd)

build() {
  cmake --preset "$1" > /dev/null
  cmake --build --preset "$1"
}

# Sets the time of everything below $1 to the commit's.
stamp() {
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# The Linux archive: the statically linked program.
build package-static
name=$(cat build/package/static/package-name.txt)
cmake --install build/package/static --prefix "$stage/static" --strip > /dev/null
mkdir "$stage/$name"
install -m 755 "$stage/static/bin/tolvex" "$stage/$name/tolvex"
install -m 644 "$stage"/static/share/man/man1/tolvex.1 README.md LICENSE "$stage/$name/"
tar --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" -C "$stage" -cf - "$name" | gzip -9 -n > "$out/$name.tar.gz"

# The Debian package, built from the source package in debian/ as Debian builds it, in a
# copy of the tree (dpkg-buildpackage writes its results beside the tree it builds): the
# files git tracks or would track, as they are here; out of a git checkout, every file but
# the builds'.
deb=$PWD/build/package/deb
rm -rf "$deb"
mkdir -p "$deb/tolvex"
if [ "$(git rev-parse --show-toplevel 2> /dev/null)" = "$PWD" ]; then
  git ls-files -z --cached --others --exclude-standard \
    | xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh
else
  find . -path ./build -prune -o -path ./dist -prune -o -path ./.git -prune \
    -o -path ./tolvex -prune -o ! -type d -print0
fi | tar --null -T - -cf - | tar -xf - -C "$deb/tolvex"
echo "Building the Debian package (dpkg-buildpackage, log in $deb/build.log)"
(cd "$deb/tolvex" && dpkg-buildpackage -us -uc -b --jobs-try="${CMAKE_BUILD_PARALLEL_LEVEL:-2}") \
  > "$deb/build.log" 2>&1 || {
  tail -n 40 "$deb/build.log" >&2
  exit 1
}
# Not the package of debugging symbols that dh_strip makes beside it (tolvex-dbgsym).
cp "$deb"/tolvex_*.deb "$out/"

# The Windows archive: tolvex.exe, with the texts in Windows' line ends.
if [ -n "$windows" ]; then
  build package-windows
  name=$(cat build/package/windows/package-name.txt)
  cmake --install build/package/windows --prefix "$stage/windows" --strip > /dev/null
  mkdir "$stage/$name"
  install -m 755 "$stage/windows/bin/tolvex.exe" "$stage/$name/tolvex.exe"
  for text in README.md:README.txt LICENSE:LICENSE.txt; do
    sed 's/$/\r/' "${text%%:*}" > "$stage/$name/${text#*:}"
    chmod 644 "$stage/$name/${text#*:}"
  done
  stamp "$stage/$name"
  # -X: no owners nor Unix times; -D: no entries for directories; members in this order.
  (cd "$stage" && zip -X -D -9 -q "$out/$name.zip" \
    "$name/tolvex.exe" "$name/README.txt" "$name/LICENSE.txt")
else
  echo "MinGW-w64 (x86_64-w64-mingw32-g++-posix) was not found: no Windows archive."
fi

(cd "$out" && sha256sum -- *.tar.gz *.deb $(ls *.zip 2> /dev/null) > "$stage/SHA256SUMS")
mv "$stage/SHA256SUMS" "$out/SHA256SUMS"

echo
echo "Packages in $out:"
(cd "$out" && for artifact in *; do
  printf '  %-40s %9d bytes\n' "$artifact" "$(wc -c < "$artifact")"
done)
