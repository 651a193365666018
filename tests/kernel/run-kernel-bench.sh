#!/usr/bin/env bash
# Boots Debian's kernel under QEMU (TCG, one core) with the host's root shared read-only and
# the build folder writable, runs the CTest label kernel inside it, the Windows programs of the
# zip (VRAX_WINDOWS_ZIP, else the newest in dist/) among them under Wine, and prints one summary
# line. Exits non-zero on any failure, a missing verdict or a timeout. The Linux cases and the
# Wine cases may also run apart (linux, wine), each in a guest of its own, so that each can run
# while the other core builds.
# Usage: run-kernel-bench.sh BUILD_DIR [linux|wine] [TEST_REGEX]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(cd "$HERE/../.." && pwd)
BUILD=$(cd "$1" && pwd)
shift
PART=
case "${1:-}" in linux|wine) PART=$1; shift ;; esac
FILTER=${1:-}
TIMEOUT=${VRAX_KERNEL_TIMEOUT:-1500}

start=$(date +%s)
guest=$("$HERE/prepare-guest.sh" "$BUILD/kernel-guest")
append="console=ttyS0 quiet loglevel=3 panic=-1 VRAX_BUILD=$BUILD VRAX_SOURCE=$SOURCE"
if [ "$PART" != linux ]; then
    wine=$("$HERE/prepare-wine.sh" "$BUILD/kernel-guest")
    zip=${VRAX_WINDOWS_ZIP:-$(ls -t "$SOURCE"/dist/vrax-bin-writer-*-windows-x64.zip 2>/dev/null | head -n 1)}
    if [ ! -f "$zip" ]; then
        echo "kernel-test: FAILED, no Windows zip to run under Wine: ./dev windows-build"
        exit 1
    fi
    programs="$BUILD/kernel-windows-programs"
    rm -rf "$programs"
    python3 -m zipfile -e "$zip" "$programs"
    if [ -n "${VRAX_STATION_PROBE:-}" ]; then
        cp "$VRAX_STATION_PROBE" "$programs/"
    fi
    append+=" VRAX_WINE=$wine VRAX_WINDOWS_ZIP_FOLDER=$programs"
fi
log="$BUILD/kernel-bench${PART:+-$PART}.log"
[ -n "$PART" ] && append+=" VRAX_KERNEL_PART=$PART"
[ -n "$FILTER" ] && append+=" VRAX_KERNEL_TESTS=$FILTER"
status=0
# Without -smap the guest kernel oopses at Wine's return to user mode and every Wine process dies.
timeout --kill-after=10 "$TIMEOUT" qemu-system-x86_64 -accel tcg -cpu max,-smap -smp 1 -m 2048 \
    -nographic -no-reboot -nodefaults -serial stdio \
    -kernel "$guest/vmlinux" -initrd "$guest/initramfs.gz" -append "$append" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$BUILD,mount_tag=build,security_model=none,multidevs=remap" \
    </dev/null 2>&1 | sed -u 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\r//g' | tee "$log" || status=$?
seconds=$(( $(date +%s) - start ))

exit_line=$(grep -a '^kernel-bench-exit ' "$log" | tail -1 || true)
# Up to two runs of ctest: the Linux cases, then the Wine cases.
summaries=$(grep -aE 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" || true)
ctest_line=$(tail -n 1 <<<"$summaries")
total=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$summaries" | awk '{ sum += $1 } END { print sum + 0 }')
failed=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$summaries" | awk '{ sum += $1 } END { print sum + 0 }')
disabled=$(grep -ac 'Not Run (Disabled)' "$log" || true)
[ "$disabled" -gt 0 ] && total+=" ($disabled disabled)"
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "kernel-test: TIMEOUT after ${seconds} s (${TIMEOUT} s allowed); log in $log"
    exit 1
fi
if [ -z "$exit_line" ] || [ -z "$ctest_line" ]; then
    echo "kernel-test: FAILED, the guest gave no verdict (${seconds} s); log in $log"
    exit 1
fi
if [ "${exit_line#kernel-bench-exit }" != 0 ] || [ "$failed" != 0 ]; then
    echo "kernel-test: FAILED, $failed of $total cases failed in the guest kernel $(cat "$guest/kernel-version") (${seconds} s); log in $log"
    exit 1
fi
# The Wine cases apart: the same guest kernel, reached through Wine's HID stack.
wine_cases=$(grep -acE 'Test +#[0-9]+: Wine' "$log" || true)
wine_version=$(/usr/lib/wine/wine64 --version 2>/dev/null | sed -E 's/^wine-([0-9.]+).*/\1/')
# The gangs apart too: several mice at once on the guest's controllers, and how four at once
# compare with one for the KVQM31X write.
gang_cases=$(grep -acE 'Test +#[0-9]+: KernelGang' "$log" || true)
gang_ratio=$(sed -nE 's/.*Linux gang of 4, KVQM31X.*: ([0-9.]+) × one.*/\1/p' "$log" | tail -n 1)
wine_gang_ratio=$(sed -nE 's/.*Wine gang of 4, KVQM31X.*: ([0-9.]+) × one.*/\1/p' "$log" | tail -n 1)
under_wine="$wine_cases of $wine_cases under Wine $wine_version${wine_gang_ratio:+, gang of 4: $wine_gang_ratio × one}"
linux_cases=$(( ${total%% *} - wine_cases - gang_cases ))
passed="$linux_cases of $linux_cases${total#"${total%% *}"} cases on the guest kernel $(cat "$guest/kernel-version")"
if [ "$gang_cases" -gt 0 ]; then
    passed+=" and $gang_cases of $gang_cases gang cases${gang_ratio:+, gang of 4: $gang_ratio × one}"
fi
case "$PART" in
    linux) echo "kernel-test: passed, $passed (${seconds} s)" ;;
    wine) echo "kernel-test: passed, $under_wine on the guest kernel" \
               "$(cat "$guest/kernel-version") (${seconds} s)" ;;
    *) echo "kernel-test: passed, $passed, $under_wine (${seconds} s)" ;;
esac
