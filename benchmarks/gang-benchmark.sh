#!/usr/bin/env bash
# The line on the real clock: KVQM31X, 2K Byte, one mouse alone against a gang of four at once,
# each run from the start of the line to its summary (detection, settle wait, write, verdict).
#   benchmarks/gang-benchmark.sh [--repeat N] [CLI]
# Prints Markdown table rows; the median of N runs (default 3) is shown.
set -euo pipefail
cd "$(dirname "$0")/.."
REPEAT=3
if [ "${1:-}" = --repeat ]; then REPEAT=$2; shift 2; fi
CLI=${1:-${VRAX_BUILD_DIR:-build}/cli/vrax-bin-writer-cli}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 7 + 3) & 255 for i in range(2048)))" \
    > "$WORK/image.bin"

# Seconds of one line run with N mice in a gang of N.
line_seconds() {
    local start end
    start=$(date +%s%N)
    "$CLI" --records "$WORK/records.sqlite" --sim kvqm31x --real-time --format 2k \
        --sim-mice "$1" --gang "$1" line "$WORK/image.bin" > "$WORK/out.txt"
    end=$(date +%s%N)
    grep -q "passed $1, failed 0" "$WORK/out.txt"
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }'
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

one=$(for _ in $(seq "$REPEAT"); do line_seconds 1; done | median)
four=$(for _ in $(seq "$REPEAT"); do line_seconds 4; done | median)
ratio=$(awk -v a="$four" -v b="$one" 'BEGIN { printf "%.3f", a / b }')
met=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.1) ? 1 : 0 }')
per_hour_one=$(awk -v t="$one" 'BEGIN { printf "%d", 3600 / t }')
per_hour_four=$(awk -v t="$four" 'BEGIN { printf "%d", 4 * 3600 / t }')
echo "| Gang (line, real clock) | KVQM31X write 2K Byte, 1 mouse vs 4 at once | 1: ${one} s, 4: ${four} s, ratio ${ratio} | ratio <= 1.1 | $([ "$met" = 1 ] && echo met || echo missed) |"
echo "| Gang (line, real clock) | mice per hour, write and settle only | 1 at a time: ${per_hour_one}, 4 at once: ${per_hour_four} | - | - |"
