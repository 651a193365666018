#!/usr/bin/env bash
# Prepares what the Wine cases of the kernel bench need in CACHE_ROOT, beside the guest: udev
# at the installed libsystemd-shared's version, unpacked (never installed: the guest runs its
# udevd, whose netlink group is what Wine's HID bus listens on), and a Wine prefix made here on
# the host, whose HID bus reads hidraw through udev. Kept while Wine, udev and this script stay
# the same. Prints the folder it prepared.
set -euo pipefail
CACHE_ROOT=$1
HERE=$(cd "$(dirname "$0")" && pwd)

wine_version=$(dpkg-query -W -f='${Version}' wine64)
udev_version=$(dpkg-query -W -f='${Version}' libsystemd-shared)
folder="$CACHE_ROOT/wine_${wine_version}_udev_${udev_version}"
if [ -f "$folder/ready" ] && [ "$folder/ready" -nt "$HERE/prepare-wine.sh" ]; then
    echo "$folder"
    exit 0
fi
rm -rf "$folder"
mkdir -p "$folder/download"
(cd "$folder/download" && apt-get download "udev=$udev_version" >&2)
dpkg-deb -x "$folder"/download/udev_*.deb "$folder/udev"
# It points at /bin/udevadm, which is not there: udev is unpacked, not installed.
ln -sf ../../bin/udevadm "$folder/udev/lib/systemd/systemd-udevd"
rm -rf "$folder/download"

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine64
export WINEPREFIX="$folder/prefix" WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
"$wine" wineboot -i </dev/null >&2 2>/dev/null
# Without SDL switched off the udev backend never starts, libSDL2 or not; without the input
# devices each mouse is one device, found on its hidraw node and not on its evdev one.
winebus='HKLM\System\CurrentControlSet\Services\winebus'
"$wine" reg add "$winebus" /v "Enable SDL" /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
"$wine" reg add "$winebus" /v DisableInput /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
wineserver -w
grep -q '"Enable SDL"=dword:00000000' "$WINEPREFIX/system.reg" || {
    echo "prepare-wine: the winebus settings did not reach the prefix" >&2
    exit 1
}
touch "$folder/ready"
echo "$folder"
