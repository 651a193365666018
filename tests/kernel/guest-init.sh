#!/bin/sh
# The guest's first process: loads the modules, shares the host's root (read-only) and the
# build folder (writable), runs the bench inside the host's root and prints its exit code,
# which is the verdict: QEMU itself always exits 0.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
for module in $(cat /modules/order); do
    options=
    # Four controllers, one port each: the gang cases plug four mice at once.
    [ "$module" = dummy_hcd.ko ] && options=num=4
    insmod "/modules/$module" $options || echo "kernel-bench: cannot load $module"
done
mount -t configfs configfs /sys/kernel/config
options=trans=virtio,version=9p2000.L,msize=262144
# Cached: the host's root does not change under the bench, and Wine maps its libraries from it
# anew for every program it starts.
mount -t 9p -o "$options,ro,cache=loose" hostroot /host
# A checkout under /tmp or /run stays visible over the guest's own tmpfs there.
mkdir -p /source
mount -o bind "/host$VRAX_SOURCE" /source
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t configfs configfs /host/sys/kernel/config
mount -o bind /dev /host/dev
mount -t tmpfs tmp /host/tmp
mount -t tmpfs run /host/run
mkdir -p "/host$VRAX_SOURCE"
mount -o move /source "/host$VRAX_SOURCE"
mkdir -p "/host$VRAX_BUILD"
mount -t 9p -o "$options" build "/host$VRAX_BUILD"
chroot /host /bin/sh "$VRAX_SOURCE/tests/kernel/guest-run.sh"
echo "kernel-bench-exit $?"
poweroff -f
