#!/bin/sh
# Inside the guest, in the host's root: the CTest label kernel against the guest's USB bus.
cd "$VRAX_BUILD"
export HOME=/tmp QT_QPA_PLATFORM=offscreen VRAX_KERNEL_GUEST=1 PATH=/usr/sbin:/usr/bin:/sbin:/bin
ctest --test-dir "$VRAX_BUILD" -L kernel --output-on-failure --timeout 300 ${VRAX_KERNEL_TESTS:+-R "$VRAX_KERNEL_TESTS"}
