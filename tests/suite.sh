#!/usr/bin/env bash
# The parts of `make test`, each run in turn, and one summary of them all at the end.
#
#   tests/suite.sh start                      forgets the parts of an earlier run
#   tests/suite.sh run NAME COMMAND [ARG...]  runs one part, its output shown as it comes;
#                                             fails when the part has a failure
#   tests/suite.sh skip NAME REASON           records a part that could not run here
#   tests/suite.sh summary                    prints every part and one closing line,
#                                             "N passed, M failed"; fails when M > 0
#
# A part's counts are read from what it prints: ctest's closing line ("... tests failed out
# of T", with the cases it skipped), GoogleTest's "[  PASSED  ]" and "[  FAILED  ]" lines,
# or a line "suite: P passed, F failed" that a part prints for itself; a part that prints
# none of them counts as one case. A line "suite note: ..." is repeated in the summary. A part that fails with no failed case counted (a crash,
# a build that broke) counts one failure more, so that no failure goes unseen.
set -uo pipefail

state=${TOLVEX_SUITE_STATE:-build/suite-parts.txt}

case ${1:-} in
  start)
    mkdir -p "$(dirname "$state")"
    : > "$state"
    ;;
  run)
    name=$2
    shift 2
    log=$(mktemp)
    start=$(date +%s)
    "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    seconds=$(($(date +%s) - start))
    counts=$(awk '
      /tests failed out of/ { total = $NF; failed = $(NF - 5); ctest = 1 }
      /\(Skipped\)$/ { skipped++ }
      /^\[  PASSED  \] [0-9]+ test/ { gpassed += $4; gtest = 1 }
      /^\[  FAILED  \] [0-9]+ test/ { gfailed += $4; gtest = 1 }
      /^suite: [0-9]+ passed, [0-9]+ failed/ { own = 1; opassed += $2; ofailed += $4 }
      END {
        if (own) print opassed, ofailed, 0
        else if (ctest) print total - failed - skipped, failed, skipped
        else if (gtest) print gpassed, gfailed, 0
        else print "", "", ""
      }' "$log")
    read -r passed failed skipped <<< "$counts"
    if [ -z "$passed" ]; then
      if [ "$status" = 0 ]; then passed=1 failed=0; else passed=0 failed=1; fi
      skipped=0
    elif [ "$status" != 0 ] && [ "$failed" = 0 ]; then
      failed=1
    fi
    printf 'ran\t%s\t%s\t%s\t%s\t%s\n' "$name" "$passed" "$failed" "$skipped" "$seconds" >> "$state"
    sed -n 's/^suite note: \(.*\)/note\t\1/p' "$log" >> "$state"
    rm -f "$log"
    [ "$failed" = 0 ]
    ;;
  skip)
    printf 'skipped\t%s\t%s\n' "$2" "$3" >> "$state"
    ;;
  summary)
    echo
    echo "Summary of make test:"
    awk -F '\t' '
      $1 == "ran" {
        note = $5 > 0 ? sprintf(", %d skipped", $5) : ""
        printf "  %-44s %6d passed, %d failed%s (%d s)\n", $2, $3, $4, note, $6
        passed += $3; failed += $4
      }
      $1 == "skipped" { printf "  %-44s skipped: %s\n", $2, $3 }
      $1 == "note" { printf "    %s\n", $2 }
      END {
        printf "%d passed, %d failed\n", passed, failed
        exit failed > 0 ? 1 : 0
      }' "$state"
    ;;
  *)
    echo "usage: $0 start | run NAME COMMAND... | skip NAME REASON | summary" >&2
    exit 2
    ;;
esac
