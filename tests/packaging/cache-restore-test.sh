#!/usr/bin/env bash
# A packed cache folder is taken only whole, with its checksum and its stamp right; every other
# one is refused with its reason and leaves the cache as it was, so the build goes on from source.
set -euo pipefail
RESTORE=$(cd "$(dirname "$0")/../.." && pwd)/packaging/restore-cache.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export VRAX_PREBUILT_CACHE=$WORK/packed
mkdir -p "$VRAX_PREBUILT_CACHE" "$WORK/built/toolkit"
STAMP="toolkit 1.0 -static toolchain 0123"
echo "$STAMP" >"$WORK/built/toolkit/.vrax-complete"
head -c 300000 /dev/urandom >"$WORK/built/toolkit/libtoolkit.a"
failures=0

pack() { # pack ARCHIVE-NAME: the built folder, as the cache's packer does
    tar -C "$WORK/built" -cf - toolkit | xz -0 >"$VRAX_PREBUILT_CACHE/$1.tar.xz"
    (cd "$VRAX_PREBUILT_CACHE" && sha256sum "$1.tar.xz" >"$1.tar.xz.sha256")
}

# expect CASE taken|refused [REASON]: restore into a fresh cache holding a half-built folder
expect() {
    local name=$1 want=$2 reason=${3:-} cache=$WORK/cache-$1 got
    mkdir -p "$cache/toolkit"
    echo partial >"$cache/toolkit/half-built"
    if "$RESTORE" "$cache" toolkit "$STAMP" 2>"$WORK/$name.err"; then got=taken; else got=refused; fi
    if [ "$got" != "$want" ]; then
        echo "FAIL $name: $got, expected $want: $(cat "$WORK/$name.err")"
        failures=$((failures + 1))
        return
    fi
    if [ -n "$reason" ] && ! grep -q "$reason" "$WORK/$name.err"; then
        echo "FAIL $name: the reason '$(cat "$WORK/$name.err")' does not say '$reason'"
        failures=$((failures + 1))
    fi
    if [ "$want" = taken ]; then
        cmp -s "$cache/toolkit/libtoolkit.a" "$WORK/built/toolkit/libtoolkit.a" &&
            [ ! -e "$cache/toolkit/half-built" ] ||
            { echo "FAIL $name: the restored folder is not the packed one"; failures=$((failures + 1)); }
    else
        [ -f "$cache/toolkit/half-built" ] && [ ! -e "$cache/toolkit/.vrax-complete" ] ||
            { echo "FAIL $name: a refused copy changed the cache"; failures=$((failures + 1)); }
    fi
    if ls -A "$cache" | grep -q '^\.restore'; then
        echo "FAIL $name: an unpack was left beside the cache"
        failures=$((failures + 1))
    fi
}

expect missing refused "no packed copy"

pack toolkit
expect whole taken

cp "$VRAX_PREBUILT_CACHE/toolkit.tar.xz" "$WORK/good.tar.xz"
printf 'x' | dd of="$VRAX_PREBUILT_CACHE/toolkit.tar.xz" bs=1 seek=5000 conv=notrunc 2>/dev/null
expect checksum refused "checksum differs"

# Cut short after its checksum was taken: the checksum says so.
head -c 100000 "$WORK/good.tar.xz" >"$VRAX_PREBUILT_CACHE/toolkit.tar.xz"
expect cut-after-checksum refused "checksum differs"

# Cut short before it was packed, its checksum taken of the short file: the unpack says so.
(cd "$VRAX_PREBUILT_CACHE" && sha256sum toolkit.tar.xz >toolkit.tar.xz.sha256)
expect cut-before-checksum refused "damaged or cut short"

echo "toolkit 1.0 -shared toolchain 0123" >"$WORK/built/toolkit/.vrax-complete"
pack toolkit
expect other-recipe refused "another recipe"

rm "$WORK/built/toolkit/.vrax-complete"
pack toolkit
expect no-stamp refused "no stamp"

echo "$STAMP" >"$WORK/built/toolkit/.vrax-complete"
pack toolkit
rm "$VRAX_PREBUILT_CACHE/toolkit.tar.xz.sha256"
expect no-checksum refused "no checksum"

if [ "$failures" -ne 0 ]; then
    echo "cache restore: $failures failed"
    exit 1
fi
echo "cache restore: every packed copy taken or refused as it should be"
