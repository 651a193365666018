#!/usr/bin/env bash
# Renders the station's windows with the Windows build under Wine, on a virtual X display with
# Qt's windows platform plugin, beside the Linux screenshots: screenshots/wine/*.png. Also
# captures the station program as Wine shows it on the display and prints its start-up time.
#   tests/windows/wine-screenshots.sh WINDOW_BUILD_DIR OUTPUT_DIR
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
mkdir -p "$out"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine

# A fresh prefix each time, holding no fonts, as on a new user's machine.
export WINEPREFIX="$build/wineprefix-display" WINEDEBUG=-all
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
work=$(mktemp -d)
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1
# Output to files, never into a pipe: Wine's services would hold the pipe open.
"$wine" wineboot -i > "$work/boot.log" 2>&1

"$wine" "$build/app/vrax-screenshots.exe" 'Z:'"${out//\//\\}" > "$work/shots.log" 2>&1 ||
    { cat "$work/shots.log"; exit 1; }
cat "$work/shots.log"
# The bench runs its production line on its own simulated bus, then renders itself.
"$wine" "$build/bench/vrax-bench-screenshots.exe" 'Z:'"${out//\//\\}" > "$work/bench.log" 2>&1 ||
    { cat "$work/bench.log"; exit 1; }
cat "$work/bench.log"

# The station program itself, as Wine's X11 driver puts it on the display.
# Qt adds the program name to the title it gives Windows.
caption="VRAX Mse 2K-Bin Writer Tool v1."
start=$(date +%s.%N)
"$wine" "$build/app/vrax-bin-writer.exe" > "$work/station.log" 2>&1 &
window=""
for _ in $(seq 1 300); do
    xwininfo -root -tree > "$work/tree" 2>/dev/null || true
    window=$(grep -F "\"$caption" "$work/tree" | awk '{print $1}' | head -n 1 || true)
    if [ -n "$window" ] && xwininfo -id "$window" | grep -q "IsViewable"; then
        break
    fi
    window=""
    sleep 0.1
done
[ -n "$window" ] || { echo "the station window did not appear" >&2; exit 1; }
shown=$(date +%s.%N)
sleep 2
import -display "$display" -window "$window" "$out/station-on-display.png"
echo "$out/station-on-display.png"
awk -v start="$start" -v shown="$shown" \
    'BEGIN { printf "station window shown %.1f s after the start\n", shown - start }'
