#!/usr/bin/env bash
# Runs every benchmark and prints one Markdown table (the README quotes the latest one).
#   benchmarks/run-benchmarks.sh [--idle-seconds N] [--repeat N]
# --idle-seconds  length of each idle stretch (default 60)
# --repeat        runs of each job; the median is shown (default 3)
# Builds first, in $VRAX_BUILD_DIR or build/. Figures on the real clock need a quiet machine:
# the load average is printed under the table. Without a display the window programs run on a
# virtual X server (xvfb-run), or offscreen when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${VRAX_BUILD_DIR:-$ROOT/build}
IDLE_SECONDS=60
REPEAT=3
while [ $# -gt 0 ]; do
    case "$1" in
        --idle-seconds) IDLE_SECONDS=$2; shift 2 ;;
        --repeat) REPEAT=$2; shift 2 ;;
        *) sed -n '2,9p' "$0"; exit 2 ;;
    esac
done

VRAX_BUILD_DIR=$BUILD_DIR ./dev build >&2
PROGRAMS=$BUILD_DIR/benchmarks
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

# Runs a window program on the display, else on a virtual X server, else offscreen.
on_display() {
    if [ -n "${DISPLAY:-}" ]; then
        "$@"
    elif command -v xvfb-run >/dev/null; then
        xvfb-run -a env QT_QPA_PLATFORM=xcb "$@"
    else
        QT_QPA_PLATFORM=offscreen "$@"
    fi
}

echo "| Benchmark | Case | Figure | Target | Result |"
echo "|---|---|---|---|---|"
"$PROGRAMS/vrax-job-benchmark" --repeat "$REPEAT"
on_display "$PROGRAMS/vrax-window-job-benchmark" --repeat "$REPEAT" 2>/dev/null
"$PROGRAMS/vrax-polling-benchmark" 2>/dev/null
VRAX_BUILD_DIR=$BUILD_DIR benchmarks/gang-benchmark.sh --repeat "$REPEAT"
"$PROGRAMS/vrax-jig-benchmark" --repeat "$REPEAT"
"$PROGRAMS/vrax-records-benchmark"
"$PROGRAMS/vrax-line-database-benchmark"
on_display "$PROGRAMS/vrax-plug-in-benchmark" 2>/dev/null
for platform in system simulated; do
    # The launch time is taken as late as possible, so a virtual display's start is not in it.
    on_display sh -c 'exec "$0" --seconds "$1" --platform "$2" --launched-at-ns "$(date +%s%N)"' \
        "$PROGRAMS/vrax-idle-benchmark" "$IDLE_SECONDS" "$platform" 2>/dev/null
done

echo
echo "$(nproc) cores; load average $LOAD_BEFORE before, $(cut -d' ' -f1-3 /proc/loadavg) after;" \
     "$(date -u +%Y-%m-%d), commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)."
