#!/usr/bin/env bash
# Checks that the packages are reproducible: the packages of the working tree, built by
# `make package` into dist/, against those of a copy of the same files built later in
# another directory, under another umask and time zone. Each artifact of dist/ counts as
# one case: it passes when the copy's build gives the same bytes. The copy's Debian package
# is built without its tests (DEB_BUILD_OPTIONS=nocheck), which ran in the first build and
# do not touch what is packed.
#
#   tests/reproducible_check.sh      (what `make reproducible-test` runs, after make package)
set -uo pipefail
cd "$(dirname "$0")/.."

if [ ! -s dist/SHA256SUMS ]; then
  echo "dist/SHA256SUMS is missing: run make package first." >&2
  exit 1
fi
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

# The copy: the files git tracks or would track, as they are in the working tree, at a
# path of another length.
copy=$PWD/build/reproducible/elsewhere/at/another/depth/tolvex
rm -rf build/reproducible
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard \
  | xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh \
  | tar --null -T - -cf - | tar -xf - -C "$copy"

echo "Building the packages again in $copy"
if ! (umask 077 && cd "$copy" && TZ=Pacific/Chatham SOURCE_DATE_EPOCH=$epoch \
        DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }nocheck" \
        make --no-print-directory package > "$copy.log" 2>&1); then
  tail -n 30 "$copy.log"
  echo "suite: 0 passed, 1 failed"
  exit 1
fi

passed=0 failed=0
while read -r sum artifact; do
  if [ "$(grep -F "  $artifact" "$copy/dist/SHA256SUMS" | cut -d ' ' -f 1)" = "$sum" ]; then
    echo "  same bytes:  $artifact"
    passed=$((passed + 1))
  else
    echo "  DIFFERENT:   $artifact (compare dist/$artifact with $copy/dist/$artifact)"
    failed=$((failed + 1))
  fi
done < dist/SHA256SUMS
echo "suite: $passed passed, $failed failed"
[ "$failed" = 0 ]
