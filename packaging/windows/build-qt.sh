#!/usr/bin/env bash
# Cross-builds a static, release, minimal Qt for 64-bit Windows from Debian's own qt6-base
# source package, into a cache folder outside the checkout. Does nothing when that cache is
# complete. Prints the install folder on its last line; with --prefix only prints it.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
QT_VERSION=6.4.2
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/vrax-bin-writer
PREFIX=$CACHE/qt6-mingw-$QT_VERSION
JOBS=${VRAX_JOBS:-2}

CONFIGURE_OPTIONS=(
    -static -static-runtime -release -prefix "$PREFIX"
    -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32-
    -qt-host-path /usr
    -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu -no-zstd -no-openssl
    -qt-zlib -qt-libpng -qt-freetype -qt-pcre -qt-doubleconversion
    # Latin and CJK text need no shaping: without HarfBuzz, Qt maps characters to glyphs
    # itself, and the build compiles an eighth less.
    -no-harfbuzz
    # Test stays in: the window's tests run under Wine against this same Qt. The programs
    # never link it.
    -no-feature-sql -no-feature-concurrent -no-feature-printsupport
    -no-feature-xml -no-feature-vulkan
    # What the programs never use, so that the build compiles about a sixth less. The images
    # are PNG and one GIF; the network is the single-instance rule's local socket only.
    -no-libjpeg -no-feature-imageformat_ppm -no-feature-imageformat_xbm
    -no-feature-pdf -no-feature-picture -no-feature-textodfwriter
    -no-feature-textmarkdownreader -no-feature-textmarkdownwriter
    -no-feature-undocommand -no-feature-undostack -no-feature-undogroup -no-feature-undoview
    -no-feature-sessionmanager -no-feature-systemtrayicon -no-feature-tuiotouch
    -no-feature-mdiarea -no-feature-calendarwidget -no-feature-datetimeedit
    -no-feature-dockwidget -no-feature-wizard -no-feature-fontcombobox -no-feature-fontdialog
    -no-feature-colordialog -no-feature-keysequenceedit -no-feature-lcdnumber -no-feature-dial
    -no-feature-syntaxhighlighter -no-feature-textbrowser -no-feature-splashscreen
    -no-feature-columnview -no-feature-toolbox -no-feature-commandlinkbutton
    -no-feature-graphicsview -no-feature-datawidgetmapper -no-feature-errormessage
    -no-feature-http -no-feature-ssl -no-feature-dtls -no-feature-ocsp -no-feature-schannel
    -no-feature-udpsocket -no-feature-networkproxy -no-feature-socks5
    -no-feature-networkdiskcache -no-feature-dnslookup -no-feature-networklistmanager
    -no-feature-topleveldomain -no-feature-gssapi -no-feature-sspi -no-feature-system-proxies
    -no-feature-sharedmemory -no-feature-systemsemaphore -no-feature-jalalicalendar
    -no-feature-hijricalendar -no-feature-islamiccivilcalendar
    # Debian's tarball leaves out the wintab headers the tablet support needs.
    -no-feature-tabletevent
    # With direct2d off, 6.4's windows plugin still refers to a DirectWrite font database
    # that is then never compiled; GDI fonts are the 6.4 default anyway.
    -no-feature-direct2d -no-feature-directwrite3
)
if [ "${1:-}" = "--prefix" ]; then
    echo "$PREFIX"
    exit 0
fi
# A Qt of the user's own choice, which Qt's LGPL lets them link the programs with (READ-ME.txt
# of the zip): a folder that holds the file .vrax-own-qt is taken as it is, never rebuilt.
if [ -f "$PREFIX/.vrax-own-qt" ]; then
    echo "$PREFIX"
    exit 0
fi
# The stamp holds what the cache was built from: another recipe builds it again.
STAMP_TEXT="qtbase $QT_VERSION ${CONFIGURE_OPTIONS[*]} toolchain $(sha256sum "$HERE/mingw-toolchain.cmake" | cut -c1-16)"

if [ -f "$PREFIX/.vrax-complete" ] && [ "$(cat "$PREFIX/.vrax-complete")" = "$STAMP_TEXT" ]; then
    echo "cache: qt6-mingw-$QT_VERSION kept" >&2
    echo "$PREFIX"
    exit 0
fi

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# One build at a time: a second start waits, then finds the cache complete.
mkdir -p "$CACHE"
exec 9> "$CACHE/.build-lock"
flock 9
if [ -f "$PREFIX/.vrax-complete" ] && [ "$(cat "$PREFIX/.vrax-complete")" = "$STAMP_TEXT" ]; then
    echo "cache: qt6-mingw-$QT_VERSION kept" >&2
    echo "$PREFIX"
    exit 0
fi
if "$HERE/../restore-cache.sh" "$CACHE" "qt6-mingw-$QT_VERSION" "$STAMP_TEXT"; then
    rm -rf "$CACHE/qt6-mingw-$QT_VERSION-work"
    echo "$PREFIX"
    exit 0
fi

SOURCE_DIR=$CACHE/qt6-base-source
mkdir -p "$SOURCE_DIR"
if ! ls "$SOURCE_DIR"/qt6-base_"$QT_VERSION"*.orig.tar.xz >/dev/null 2>&1; then
    "$HERE/../add-deb-src.sh" qt6-base
    # The version of Debian's own host tools, so that they match the cross-built libraries.
    version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev-tools 2>/dev/null || true)
    (cd "$SOURCE_DIR" && apt-get source --download-only "qt6-base${version:+=$version}")
fi
orig=$(ls "$SOURCE_DIR"/qt6-base_"$QT_VERSION"*.orig.tar.xz | tail -n 1)
debian_tar=$(ls "$SOURCE_DIR"/qt6-base_"$QT_VERSION"*.debian.tar.xz | tail -n 1)

WORK=$CACHE/qt6-mingw-$QT_VERSION-work
# A build cut short goes on where it stopped.
if [ "$(cat "$WORK/.vrax-configured" 2>/dev/null)" != "$STAMP_TEXT" ]; then
    rm -rf "$WORK" "$PREFIX"
    mkdir -p "$WORK/src"
    tar -xf "$orig" -C "$WORK/src" --strip-components=1
    # Debian's own fixes (security ones among them) apply to this build as to the host's Qt.
    tar -xf "$debian_tar" -C "$WORK/src"
    if [ -f "$WORK/src/debian/patches/series" ]; then
        while read -r patch _; do
            case "$patch" in ''|'#'*) continue ;; esac
            patch -d "$WORK/src" -p1 --quiet --forward < "$WORK/src/debian/patches/$patch"
        done < "$WORK/src/debian/patches/series"
    fi
    mkdir -p "$WORK/build"
    (cd "$WORK/build" && "$WORK/src/configure" "${CONFIGURE_OPTIONS[@]}" -- -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$HERE/mingw-toolchain.cmake" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
    echo "$STAMP_TEXT" > "$WORK/.vrax-configured"
fi
cd "$WORK/build"
cmake --build . -j "$JOBS"
cmake --install .

# Refer to the toolchain through the install's own folder, so the cache may move.
cp "$HERE/mingw-toolchain.cmake" "$PREFIX/lib/cmake/Qt6/vrax-mingw-toolchain.cmake"
sed -i "s|\"$HERE/mingw-toolchain.cmake\"|\"\${CMAKE_CURRENT_LIST_DIR}/vrax-mingw-toolchain.cmake\"|" \
    "$PREFIX/lib/cmake/Qt6/qt.toolchain.cmake"
if grep -rlF "$HERE" "$PREFIX/lib/cmake" >&2; then
    echo "These files of the Qt install name $HERE; it would not outlive this checkout." >&2
    exit 1
fi

cd "$CACHE"
rm -rf "$WORK"
echo "$STAMP_TEXT" > "$PREFIX/.vrax-complete"
echo "cache: qt6-mingw-$QT_VERSION built from source" >&2
echo "$PREFIX"
