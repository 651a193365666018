#!/usr/bin/env bash
# OpenSSL for the Windows cross-build, from Debian's openssl source package (never downloaded
# from elsewhere) with Debian's patches, compiled with mingw-w64 into static libraries: what
# libpq's TLS needs (TLS 1.2 and 1.3, the usual ciphers, X.509 and PEM), none of the legacy
# algorithms, engines or loadable modules.
#   cmake/build-openssl-mingw.sh PREFIX
#     -> PREFIX/include/openssl/*.h, PREFIX/lib/{libssl.a,libcrypto.a}, PREFIX/debian-version
# A program links libssl, then libcrypto, then ws2_32, crypt32, user32, advapi32 and bcrypt.
set -euo pipefail
PREFIX=$(realpath -m "${1:?usage: $0 PREFIX}")
HERE=$(cd "$(dirname "$0")" && pwd)
SCRIPT=$HERE/$(basename "$0")
JOBS=${VRAX_JOBS:-2}
# shellcheck source=mingw-cache.sh
. "$HERE/mingw-cache.sh"
mapfile -t versions < <(source_versions openssl)
[ ${#versions[@]} -gt 0 ] || { echo "Debian lists no source of openssl." >&2; exit 1; }
served=$(newest_served openssl "${versions[@]}")
take_cached "$PREFIX" "$(recipe_stamp openssl "$served")" && exit 0
rm -rf "$PREFIX"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
quietly() {
    "$@" >"$WORK/log" 2>&1 || { tail -n 40 "$WORK/log" >&2; echo "failed: $*" >&2; exit 1; }
}
cd "$WORK"
# The version probed, else an older one when its files are missing after all.
mapfile -t older < <(printf '%s\n' "${versions[@]}" | sed "1,/^$served\$/d")
fetched=$(fetch_source openssl "$served" "${older[@]}")
# A failed fetch of a newer version may leave its files beside the fetched one's.
upstream=${fetched#*:}
upstream=${upstream%-*}
mkdir source
tar -xf "$(ls openssl_"$upstream".orig.tar.* | grep -v '\.asc$')" -C source --strip-components=1
tar -xf "$(ls openssl_"$fetched".debian.tar.*)" -C source
cd source
if [ -f debian/patches/series ]; then
    while read -r patch _; do
        case "$patch" in ''|'#'*) continue ;; esac
        patch -p1 --quiet --forward < "debian/patches/$patch"
    done < debian/patches/series
fi
# The OpenSSL folder compiled into the library is where a Windows user could put its
# configuration; the programs load none (libpq does not), so it names nothing of this PC.
quietly ./Configure mingw64 --prefix="$PREFIX" --libdir=lib --openssldir='C:/VRAX/ssl' \
    CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
    RANLIB=x86_64-w64-mingw32-ranlib RC=x86_64-w64-mingw32-windres \
    no-shared no-module no-dso no-engine no-tests no-legacy no-comp no-ssl3 no-tls1 no-tls1_1 \
    no-dtls no-srp no-srtp no-sctp no-idea no-mdc2 no-rc5 no-md4 no-whirlpool no-seed \
    no-camellia no-aria no-sm2 no-sm3 no-sm4 no-bf no-cast no-gost no-siphash no-cms no-ts \
    no-ct no-ocsp no-capieng no-padlockeng no-afalgeng no-ec2m
quietly make -j "$JOBS" build_libs
quietly make install_dev
echo "$fetched" >"$PREFIX/debian-version"
recipe_stamp openssl "$fetched" >"$PREFIX/.vrax-complete"
echo "cache: $(basename "$PREFIX") built from source" >&2
