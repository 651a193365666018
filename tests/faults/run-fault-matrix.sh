#!/usr/bin/env bash
# Runs the fault matrix and prints its size and result, as the README quotes them.
#   tests/faults/run-fault-matrix.sh        (builds first, in $VRAX_BUILD_DIR or build/)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${VRAX_BUILD_DIR:-$(pwd)/build}
VRAX_BUILD_DIR=$BUILD_DIR ./dev build >/dev/null

status=0
output=$(QT_QPA_PLATFORM=offscreen "$BUILD_DIR/tests/faults/fault_matrix_tests" 2>/dev/null) ||
    status=$?
lines=$(grep '^\[fault matrix\]' <<<"$output" | sed 's/^\[fault matrix\] //')
sed 's/^/- /' <<<"$lines"
summarise() {
    awk -v title="$1" -v followedBy="$2" '
        { for (i = 1; i <= NF; ++i) {
              if ($(i + 1) == "runs:") runs += $i
              if ($i == "passes," && $(i - 1) ~ /^[0-9]+$/ && $(i - 2) != "false") passes += $(i - 1)
              if ($i == "fails,") fails += $(i - 1)
              if ($i == "without") without += $(i - 1)
              if ($i == "passes" && $(i - 1) == "false") falsePasses += $(i + 1)
              if ($i == "hangs") hangs += $(i + 1)
              if ($i == "faults") other += $(i + 1)
              if ($i == "after") unusable += $(i + 1)
          } }
        END {
            printf "%s: %d runs, each followed by a healthy mouse on %s: " \
                   "%d passes, %d fails, %d without verdict; %d false passes, %d hangs, " \
                   "%d other faults, window unusable after %d.\n",
                   title, runs, followedBy, passes, fails, without, falsePasses, hangs, other,
                   unusable
        }'
}
{ grep -v '^operator actions' <<<"$lines" || true; } | summarise "Fault matrix" "the same window"
{ grep '^operator actions' <<<"$lines" || true; } |
    summarise "Operator actions during jobs" "the same window (a restarted one after a close)"
tail -1 <<<"$output"
exit $status
