#!/usr/bin/env bash
# The README's picture of the line report: a day shift of three stations on virtual mice,
# each hour's line run at that hour's time (faketime), then the page drawn by headless Chromium.
#   line-report-screenshot.sh CLI OUT.png
set -euo pipefail
cli=$(realpath "$1")
out=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" # the page names the store as given
head -c 2048 /dev/urandom >"$work/mouse-2k.bin"
records=line-a.sqlite

shift_hour() { # HOUR STATION MICE FAULTS EVERY
    local faults=$4
    local options=(--sim "kvqm31x${faults:+:$faults}")
    [ -n "$faults" ] && options+=(--sim-faulty-every "$5")
    faketime -f "@2026-12-08 $1:0$2:00 x200" "$cli" --records "$records" --format 2k \
        --factory "0005,20261208,000001,1,A,$2" --serial next --sim-mice "$3" "${options[@]}" \
        line "$work/mouse-2k.bin" >/dev/null || true
}

for hour in 06 07 08 09 10 11 12 13; do
    shift_hour "$hour" 1 42 refuse-setup 23
    shift_hour "$hour" 2 38 "" ""
    case $hour in
        09) shift_hour "$hour" 3 36 refuse-write-chunk=40 4 ;; # a worn fixture
        10) shift_hour "$hour" 3 36 silent 5 ;;
        *) shift_hour "$hour" 3 40 corrupt=0x200 31 ;;
    esac
done
# A small batch of another product on station 2, and a mouse of the wrong chip.
faketime -f "@2026-12-08 12:40:00" "$cli" --records "$records" --format 2k \
    --factory 0007,20261208,000001,1,A,2 --serial next --sim-mice 25 --sim kvqm31x \
    line "$work/mouse-2k.bin" >/dev/null
faketime -f "@2026-12-08 11:20:00" "$cli" --records "$records" --format 2k \
    --factory 0005,20261208,000FFF,1,A,1 --sim kvqm31x:chip=36 write "$work/mouse-2k.bin" \
    >/dev/null || true

for corrupt in 0x10 0x10 0x7F0; do
    faketime -f "@2026-12-08 13:3${corrupt: -1}:00" "$cli" --records "$records" --format 2k \
        --factory 0005,20261208,000001,1,A,2 --sim "kvqm31x:corrupt=$corrupt" \
        verify "$work/mouse-2k.bin" >/dev/null || true
done

"$cli" --records "$records" records --report "$work/line-report.html" >/dev/null
timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/chromium" --hide-scrollbars --screenshot="$out" \
    --window-size=1200,1370 "file://$work/line-report.html" >/dev/null 2>&1
echo "$out"
