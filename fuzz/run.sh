#!/usr/bin/env bash
# Runs one fuzz target.
#
#   fuzz/run.sh replay   BINARY NAME            every corpus input and saved finding, once
#   fuzz/run.sh search   BINARY NAME SECONDS    a short search; new inputs are not kept
#   fuzz/run.sh campaign BINARY NAME SECONDS    a long search whose new coverage is merged
#                                               into fuzz/corpus/NAME
#
# A crash, leak, sanitizer report, timeout or oversized allocation makes the run fail; the
# input that caused it is left in build/fuzz/findings/NAME/. Saved findings that must never
# come back live in fuzz/findings/NAME/.
set -euo pipefail

mode=$1
binary=$2
name=$3
seconds=${4:-60}

here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus/$name
saved=$here/findings/$name
artifacts=$(dirname "$binary")/findings/$name
mkdir -p "$artifacts"

# No input may make the program allocate more than its own size plus the tree built from
# it: 256 KiB inputs and a 64 MiB limit per allocation leave ample room for both.
options=(-dict="$here/json.dict" -max_len=262144 -malloc_limit_mb=64 -rss_limit_mb=2048
         -timeout=10 -artifact_prefix="$artifacts/" -print_final_stats=1)

case $mode in
  replay)
    inputs=("$corpus")
    if [ -d "$saved" ] && [ -n "$(ls -A "$saved")" ]; then inputs+=("$saved"); fi
    exec "$binary" "${options[@]}" -runs=0 "${inputs[@]}"
    ;;
  search | campaign)
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    mkdir "$scratch/new"
    "$binary" "${options[@]}" -max_total_time="$seconds" "$scratch/new" "$corpus"
    if [ "$mode" = campaign ] && [ -n "$(ls -A "$scratch/new")" ]; then
      "$binary" "${options[@]}" -merge=1 "$corpus" "$scratch/new"
    fi
    ;;
  *)
    echo "usage: $0 replay|search|campaign BINARY NAME [SECONDS]" >&2
    exit 2
    ;;
esac
