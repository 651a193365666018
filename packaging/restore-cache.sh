#!/usr/bin/env bash
# Takes one folder of the build cache from a packed copy beside the checkout instead of building
# it: FOLDER.tar.xz with FOLDER.tar.xz.sha256 in ../shared/ci-cache (or VRAX_PREBUILT_CACHE).
#   packaging/restore-cache.sh CACHE FOLDER STAMP
# Exit 0: CACHE/FOLDER now holds the packed folder, whose .vrax-complete equals STAMP.
# Exit 1: nothing was taken (the reason on standard error); CACHE/FOLDER is as it was.
# The copy is unpacked beside the cache and moved into place whole, so a damaged or cut-short
# archive, or a stop half way, never leaves a folder that looks complete.
set -euo pipefail
CACHE=${1:?usage: $0 CACHE FOLDER STAMP}
FOLDER=${2:?usage: $0 CACHE FOLDER STAMP}
STAMP=${3?usage: $0 CACHE FOLDER STAMP}
HERE=$(cd "$(dirname "$0")" && pwd)
PACKED=${VRAX_PREBUILT_CACHE:-$(realpath -m "$HERE/../../shared/ci-cache")}
ARCHIVE=$PACKED/$FOLDER.tar.xz

refuse() {
    echo "cache: $FOLDER not restored: $*; building it from source" >&2
    exit 1
}

[ -f "$ARCHIVE" ] || refuse "no packed copy in $PACKED"
[ -f "$ARCHIVE.sha256" ] || refuse "no checksum beside $ARCHIVE"
expected=$(awk 'NR == 1 { print $1 }' "$ARCHIVE.sha256")
actual=$(sha256sum "$ARCHIVE" | cut -d' ' -f1)
[ "$expected" = "$actual" ] || refuse "checksum differs ($actual, $ARCHIVE.sha256 says $expected)"

mkdir -p "$CACHE"
# Unpacks of earlier runs that stopped half way.
rm -rf "$CACHE/.restore-$FOLDER".*
UNPACK=$(mktemp -d "$CACHE/.restore-$FOLDER.XXXXXX")
trap 'rm -rf "$UNPACK"' EXIT
if ! tar -xJf "$ARCHIVE" -C "$UNPACK" 2>"$UNPACK.log"; then
    reason=$(tail -n 1 "$UNPACK.log")
    rm -f "$UNPACK.log"
    refuse "the archive is damaged or cut short ($reason)"
fi
rm -f "$UNPACK.log"
[ "$(ls -A "$UNPACK")" = "$FOLDER" ] || refuse "the archive holds other than the folder $FOLDER"
[ -f "$UNPACK/$FOLDER/.vrax-complete" ] || refuse "the packed folder has no stamp"
[ "$(cat "$UNPACK/$FOLDER/.vrax-complete")" = "$STAMP" ] ||
    refuse "it was built from another recipe (its stamp differs from this checkout's)"

rm -rf "${CACHE:?}/$FOLDER"
mv "$UNPACK/$FOLDER" "$CACHE/$FOLDER"
echo "cache: $FOLDER restored from $ARCHIVE" >&2
