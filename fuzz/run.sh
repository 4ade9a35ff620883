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
# Absolute paths throughout: a target may change its working directory, and libFuzzer runs
# the binary again from there to merge.
binary=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
name=$3
seconds=${4:-60}

here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus/$name
saved=$here/findings/$name
artifacts=$(dirname "$binary")/findings/$name
mkdir -p "$artifacts"

# Per target: the dictionary, the largest input, and the largest single allocation.
case $name in
  read_header)
    # Inputs of at most 64 KiB and no allocation above 1 MiB: whatever length a prefix
    # declares, the text may take no more than the input holds (twice what arrived, as a
    # pipe).
    dictionary=archive.dict max_len=65536 malloc_limit_mb=1
    ;;
  process_archive)
    # The header and its tree in small pieces; the largest allocations are the archive's
    # stream buffer and a file's output buffer, 1 MiB each.
    dictionary=archive.dict max_len=65536 malloc_limit_mb=2
    ;;
  *)
    # No input may make the parser allocate more than its own size plus the tree built
    # from it: 256 KiB inputs and 64 MiB per allocation leave ample room for both.
    dictionary=json.dict max_len=262144 malloc_limit_mb=64
    ;;
esac
options=(-dict="$here/$dictionary" -max_len=$max_len -malloc_limit_mb=$malloc_limit_mb
         -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$artifacts/" -print_final_stats=1)

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
