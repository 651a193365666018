#!/usr/bin/env bash
# libpq for the Windows cross-build, from Debian's postgresql-15 source package (never
# downloaded from elsewhere), compiled with mingw-w64 into static libraries: only the client
# library and the two helper libraries it needs. TLS with the OpenSSL that
# build-openssl-mingw.sh made; no zlib, no GSSAPI; SSPI and the password file work as on any
# Windows libpq.
#   cmake/build-libpq-mingw.sh PREFIX OPENSSL-PREFIX
#     -> PREFIX/include/{libpq-fe.h,libpq-events.h,postgres_ext.h,pg_config_ext.h,pg_config.h}
#        PREFIX/lib/{libpq.a,libpgcommon.a,libpgport.a}
# A program links them in that order, then OpenSSL's libssl and libcrypto, then ws2_32,
# secur32, shell32, crypt32, user32, advapi32 and bcrypt.
set -euo pipefail
PREFIX=$(realpath -m "${1:?usage: $0 PREFIX OPENSSL-PREFIX}")
OPENSSL=$(realpath "${2:?usage: $0 PREFIX OPENSSL-PREFIX}")
HERE=$(cd "$(dirname "$0")" && pwd)
SCRIPT=$HERE/$(basename "$0")
JOBS=${VRAX_JOBS:-2}
# shellcheck source=mingw-cache.sh
. "$HERE/mingw-cache.sh"
mapfile -t versions < <(source_versions postgresql-15)
[ ${#versions[@]} -gt 0 ] || { echo "Debian lists no source of postgresql-15." >&2; exit 1; }
served=$(newest_served postgresql-15 "${versions[@]}")
# Another OpenSSL builds libpq again.
with_openssl="openssl $(sha256sum "$OPENSSL/.vrax-complete" | cut -c1-16)"
take_cached "$PREFIX" "$(recipe_stamp postgresql-15 "$served" "$with_openssl")" && exit 0
rm -rf "$PREFIX"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
quietly() {
    "$@" >"$WORK/log" 2>&1 || { tail -n 40 "$WORK/log" >&2; echo "failed: $*" >&2; exit 1; }
}
cd "$WORK"
# The version probed, else an older one when its files are missing after all.
mapfile -t older < <(printf '%s\n' "${versions[@]}" | sed "1,/^$served\$/d")
fetched=$(fetch_source postgresql-15 "$served" "${older[@]}")
# Debian's patches set the server's paths on Debian; the client on Windows needs none of them.
tar xf postgresql-15_*.orig.tar.*
cd postgresql-15.*/
quietly ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
    --without-readline --without-zlib --without-icu --with-ssl=openssl \
    CPPFLAGS="-I$OPENSSL/include" LDFLAGS="-L$OPENSSL/lib" \
    LIBS="-lws2_32 -lcrypt32 -luser32 -ladvapi32 -lbcrypt"
# The frontend flavours of the helper libraries, as a static libpq is linked on Linux too.
quietly make -C src/backend -j "$JOBS" generated-headers
quietly make -C src/port -j "$JOBS" libpgport.a
quietly make -C src/common -j "$JOBS" libpgcommon.a
# On Windows libpq's own makefile makes a DLL and its import library; the objects are archived
# here instead (without the DLL's version resource).
printf 'print-objects:\n\t@echo $(OBJS)\n' >"$WORK/objects.mk"
objects=$(make -s -C src/interfaces/libpq -f Makefile -f "$WORK/objects.mk" print-objects)
objects=$(echo "$objects" | tr ' ' '\n' | grep -vx 'win32ver.o' | tr '\n' ' ')
# shellcheck disable=SC2086 # one word per object
quietly make -C src/interfaces/libpq -j "$JOBS" $objects
mkdir -p "$PREFIX/include" "$PREFIX/lib"
cp src/interfaces/libpq/libpq-fe.h src/interfaces/libpq/libpq-events.h src/include/postgres_ext.h \
    src/include/pg_config_ext.h src/include/pg_config.h "$PREFIX/include/"
cp src/port/libpgport.a src/common/libpgcommon.a "$PREFIX/lib/"
echo "$fetched" >"$PREFIX/debian-version"
(cd src/interfaces/libpq && x86_64-w64-mingw32-ar crs "$WORK/libpq.a" $objects)
# libpq brings its own few pthread functions for Windows, over its own types; the programs link
# winpthreads for std::thread, whose functions of the same names would clash.
for name in self setspecific getspecific mutex_init mutex_lock mutex_unlock; do
    echo "pthread_$name libpq_pthread_$name"
done >"$WORK/renames"
x86_64-w64-mingw32-objcopy --redefine-syms="$WORK/renames" "$WORK/libpq.a"
mv "$WORK/libpq.a" "$PREFIX/lib/libpq.a"
cat "$OPENSSL/debian-version" >"$PREFIX/with-openssl"
recipe_stamp postgresql-15 "$fetched" "$with_openssl" >"$PREFIX/.vrax-complete"
echo "cache: $(basename "$PREFIX") built from source" >&2
