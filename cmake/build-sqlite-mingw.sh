#!/usr/bin/env bash
# SQLite for the Windows cross-build, from Debian's sqlite3 source package (never downloaded
# from elsewhere): the amalgamation is generated from that source and compiled with mingw-w64
# into a static library.
#   cmake/build-sqlite-mingw.sh PREFIX     -> PREFIX/include/sqlite3.h, PREFIX/lib/libsqlite3.a
set -euo pipefail
PREFIX=$(realpath -m "${1:?usage: $0 PREFIX}")
HERE=$(cd "$(dirname "$0")" && pwd)
[ -f "$PREFIX/lib/libsqlite3.a" ] && exit 0
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
"$HERE/../packaging/add-deb-src.sh" sqlite3
apt-get source --download-only sqlite3 >/dev/null 2>&1
tar xf sqlite3_*.orig.tar.xz
cd sqlite3-*/
# The amalgamation's generator runs on the build machine (tclsh and a host C compiler).
./configure --disable-tcl >/dev/null
make sqlite3.c sqlite3.h >/dev/null
x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c \
    -o sqlite3.o
mkdir -p "$PREFIX/include" "$PREFIX/lib"
x86_64-w64-mingw32-ar rcs "$PREFIX/lib/libsqlite3.a" sqlite3.o
cp sqlite3.h "$PREFIX/include/"
