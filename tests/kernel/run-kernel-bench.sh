#!/usr/bin/env bash
# Boots Debian's kernel under QEMU (TCG, one core) with the host's root shared read-only and
# the build folder writable, runs the CTest label kernel inside it and prints one summary
# line. Exits non-zero on any failure, a missing verdict or a timeout.
# Usage: run-kernel-bench.sh BUILD_DIR [TEST_REGEX]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(cd "$HERE/../.." && pwd)
BUILD=$(cd "$1" && pwd)
FILTER=${2:-}
TIMEOUT=${VRAX_KERNEL_TIMEOUT:-540}

start=$(date +%s)
guest=$("$HERE/prepare-guest.sh" "$BUILD/kernel-guest")
log="$BUILD/kernel-bench.log"
append="console=ttyS0 quiet loglevel=3 panic=-1 VRAX_BUILD=$BUILD VRAX_SOURCE=$SOURCE"
[ -n "$FILTER" ] && append+=" VRAX_KERNEL_TESTS=$FILTER"
status=0
timeout --kill-after=10 "$TIMEOUT" qemu-system-x86_64 -accel tcg -cpu max -smp 1 -m 1024 \
    -nographic -no-reboot -nodefaults -serial stdio \
    -kernel "$guest/vmlinux" -initrd "$guest/initramfs.gz" -append "$append" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$BUILD,mount_tag=build,security_model=none,multidevs=remap" \
    </dev/null 2>&1 | sed -u 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\r//g' | tee "$log" || status=$?
seconds=$(( $(date +%s) - start ))

exit_line=$(grep -a '^kernel-bench-exit ' "$log" | tail -1 || true)
ctest_line=$(grep -aE 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
total=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$ctest_line")
failed=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$ctest_line")
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
echo "kernel-test: passed, ${total%% *} of $total cases on the guest kernel $(cat "$guest/kernel-version") (${seconds} s)"
