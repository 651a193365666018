#!/bin/sh
# Inside the guest, in the host's root: the CTest label kernel against the guest's USB bus,
# then the job figures through the real kernel (only when every case is run).
cd "$VRAX_BUILD"
export HOME=/tmp QT_QPA_PLATFORM=offscreen VRAX_KERNEL_GUEST=1 PATH=/usr/sbin:/usr/bin:/sbin:/bin
ctest --test-dir "$VRAX_BUILD" -L kernel --output-on-failure --timeout 300 \
    ${VRAX_KERNEL_TESTS:+-R "$VRAX_KERNEL_TESTS"}
verdict=$?
benchmark="$VRAX_BUILD/tests/kernel/vrax-kernel-job-benchmark"
if [ -z "$VRAX_KERNEL_TESTS" ] && [ -x "$benchmark" ]; then
    timeout 120 "$benchmark"
fi
exit $verdict
