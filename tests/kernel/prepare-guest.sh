#!/usr/bin/env bash
# Prepares the guest for the kernel bench in CACHE_ROOT: Debian's own kernel, unpacked (never
# installed), its decompressed vmlinux (boots in a third of the time under TCG) and an
# initramfs of static busybox with the USB, HID and 9p modules. Kept while the kernel
# package's version stays the same. Prints the folder it prepared.
set -euo pipefail
CACHE_ROOT=$1
HERE=$(cd "$(dirname "$0")" && pwd)

kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}'
}
package=$(kernel_package)
if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -o DPkg::Lock::Timeout=600 >&2
    package=$(kernel_package)
fi
if [ -z "$package" ]; then
    echo "prepare-guest: apt knows no linux-image-amd64; run apt-get update" >&2
    exit 1
fi
version=$(apt-cache show "$package" | awk '/^Version:/ {print $2; exit}')
guest="$CACHE_ROOT/${package}_${version}"
if [ -f "$guest/ready" ] && [ "$guest/ready" -nt "$HERE/guest-init.sh" ]; then
    echo "$guest"
    exit 0
fi
rm -rf "$guest"
mkdir -p "$guest/download"
(cd "$guest/download" && apt-get download "$package" >&2)
dpkg-deb -x "$guest"/download/*.deb "$guest/package"
kver=$(ls "$guest/package/lib/modules")
modules="$guest/package/lib/modules/$kver"
busybox depmod -b "$guest/package" "$kver"

# The compressed kernel carries the real one as an xz stream.
python3 - "$guest/package/boot/vmlinuz-$kver" "$guest/vmlinux.xz" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
start = data.find(b"\xfd7zXZ\x00")
if start < 0:
    sys.exit("no xz stream in the kernel image")
open(sys.argv[2], "wb").write(data[start:])
PY
xz -dc --single-stream "$guest/vmlinux.xz" > "$guest/vmlinux"
rm "$guest/vmlinux.xz"

# Wanted modules with everything they need, each after its dependencies.
wanted="dummy_hcd usb_f_fs libcomposite usbhid hid_generic 9p 9pnet_virtio virtio_pci configfs"
ordered=()
declare -A seen=()
add_module() {
    local name=$1 line path dep
    line=$(grep -E "(^|/)${name//_/[_-]}\.ko[^:]*:" "$modules/modules.dep" | head -1 || true)
    [ -n "$line" ] || return 0 # built in
    path=${line%%:*}
    [ -n "${seen[$path]:-}" ] && return 0
    seen[$path]=1
    for dep in ${line#*:}; do
        dep=$(basename "$dep")
        add_module "${dep%%.ko*}"
    done
    ordered+=("$path")
}
for name in $wanted; do add_module "$name"; done

root="$guest/initramfs"
mkdir -p "$root"/{bin,dev,proc,sys,host,modules,tmp}
cp /bin/busybox "$root/bin/busybox"
for applet in sh mount umount mkdir insmod poweroff cat echo sleep chroot xz; do
    ln -sf busybox "$root/bin/$applet"
done
: > "$root/modules/order"
for path in "${ordered[@]}"; do
    file=$(basename "$path")
    case "$file" in
        *.xz) xz -dc "$modules/$path" > "$root/modules/${file%.xz}"; file=${file%.xz} ;;
        *) cp "$modules/$path" "$root/modules/$file" ;;
    esac
    echo "$file" >> "$root/modules/order"
done
cp "$HERE/guest-init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$guest/initramfs.gz"
echo "$kver" > "$guest/kernel-version"
rm -rf "$guest/package" "$guest/download"
touch "$guest/ready"
echo "$guest"
