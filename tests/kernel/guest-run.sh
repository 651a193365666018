#!/bin/sh
# Inside the guest, in the host's root: the CTest label kernel against the guest's USB bus and
# the job figures through the real kernel (only when every case is run), then those labelled
# wine once Wine's HID bus is up (it holds every hidraw node open: the Linux cases go first).
# VRAX_KERNEL_PART=linux or wine runs one of the two halves alone.
cd "$VRAX_BUILD"
export HOME=/tmp QT_QPA_PLATFORM=offscreen VRAX_KERNEL_GUEST=1 PATH=/usr/sbin:/usr/bin:/sbin:/bin
export VRAX_KERNEL_FIGURES=/tmp/kernel-figures.txt

figures() {
    if [ -f "$VRAX_KERNEL_FIGURES" ]; then
        echo "Figures measured in the cases:"
        sed 's/^/  /' "$VRAX_KERNEL_FIGURES"
    fi
}

verdict=0
if [ "$VRAX_KERNEL_PART" != wine ]; then
    ctest --test-dir "$VRAX_BUILD" -L kernel --output-on-failure --timeout 600 \
        ${VRAX_KERNEL_TESTS:+-R "$VRAX_KERNEL_TESTS"}
    verdict=$?
    benchmark="$VRAX_BUILD/tests/kernel/vrax-kernel-job-benchmark"
    if [ -z "$VRAX_KERNEL_TESTS" ] && [ -x "$benchmark" ]; then
        timeout 120 "$benchmark"
    fi
fi
[ "$VRAX_KERNEL_PART" != linux ] || { figures; exit $verdict; }

wine_cases=$(ctest --test-dir "$VRAX_BUILD" -N -L wine ${VRAX_KERNEL_TESTS:+-R "$VRAX_KERNEL_TESTS"} |
             sed -n 's/^Total Tests: //p')
[ "${wine_cases:-0}" -gt 0 ] || { figures; exit $verdict; }

# udevd passes the kernel's hotplug events on to Wine's HID bus, and the programs run from
# the guest's memory: Wine 8.0 cannot map a program from a 9p share.
mkdir -p /run/udev
"$VRAX_WINE/udev/lib/systemd/systemd-udevd" --daemon
export VRAX_WINE_PROGRAMS=/tmp/vrax-windows-programs
mkdir -p "$VRAX_WINE_PROGRAMS"
find "$VRAX_WINDOWS_ZIP_FOLDER" -name '*.exe' -exec cp {} "$VRAX_WINE_PROGRAMS" \;
export WINEPREFIX="$VRAX_WINE/prefix" WINEDEBUG=-all VRAX_WINE_LOADER=/usr/lib/wine/wine64
# Wine hands a program the WINEQT_ variables as QT_ ones; Qt's offscreen platform on Windows
# reads its fonts from that folder alone.
export WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
# One server and its services for the cases, as on a PC: each program then starts in seconds
# instead of Wine's half-minute cold start. The gang and station cases start one afresh.
start=$(date +%s)
wineserver -p
"$VRAX_WINE_LOADER" wineboot </dev/null >/dev/null 2>&1
echo "kernel-bench: $("$VRAX_WINE_LOADER" --version) ready in $(($(date +%s) - start)) s"
ctest --test-dir "$VRAX_BUILD" -L wine --output-on-failure --timeout 600 \
    ${VRAX_KERNEL_TESTS:+-R "$VRAX_KERNEL_TESTS"}
wine_verdict=$?
wineserver -k

figures
[ "$verdict" -eq 0 ] && [ "$wine_verdict" -eq 0 ]
