#!/usr/bin/env bash
# Installs the Debian package on this machine, runs what it installed from /usr/bin, removes it
# again and checks that it left nothing behind. Refuses to touch a copy installed before.
set -euo pipefail
deb=$(realpath "$1")
package=vrax-bin-writer

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
installed() {
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"
}

if installed; then
    echo "$package is already installed here; the install test leaves it alone." >&2
    exit 1
fi
work=$(mktemp -d)
# A failed check must not leave the package on the machine.
cleanup() {
    if installed; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -o DPkg::Lock::Timeout=600 \
            "$package" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -o DPkg::Lock::Timeout=600 \
    --no-install-recommends "$deb" > "$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install"; }
grep -q "plug it in again" "$work/install.log" || fail "the install did not ask for a replug"
dpkg-query -L "$package" > "$work/files"

for file in /usr/bin/vrax-bin-writer /usr/bin/vrax-bin-writer-bench /usr/bin/vrax-bin-writer-cli \
            /usr/lib/udev/rules.d/70-vrax-bin-writer.rules \
            /usr/share/applications/vrax-bin-writer.desktop \
            /usr/share/icons/hicolor/48x48/apps/vrax-bin-writer.png \
            /usr/share/vrax-bin-writer/sample/sample-2k.bin; do
    [ -e "$file" ] || fail "$file is not installed"
done

/usr/bin/vrax-bin-writer-cli --help > "$work/help" || fail "vrax-bin-writer-cli --help"
grep -q -- "--sim" "$work/help" || fail "--help does not list --sim"
/usr/bin/vrax-bin-writer-cli --version > "$work/version" || fail "vrax-bin-writer-cli --version"
for text in "vrax-bin-writer-cli $(dpkg-query -W -f='${Version}' "$package")" "Licence: MIT" \
            "/usr/share/doc/$package/copyright" "SQLite 3." "libpq 15." "OpenSSL 3."; do
    grep -qF "$text" "$work/version" || { cat "$work/version"; fail "--version does not say $text"; }
done
status=0
/usr/bin/vrax-bin-writer-cli --sim kvqm31x write /usr/share/vrax-bin-writer/sample/sample-2k.bin \
    > "$work/write" 2>&1 || status=$?
[ "$status" -eq 0 ] && grep -q "Write Pass" "$work/write" || { cat "$work/write"; fail "the simulated write"; }

# The station's single-instance socket lives in the temporary folder: a folder of its own keeps
# a station already running on this machine out of the test.
mkdir "$work/tmp"
for program in vrax-bin-writer vrax-bin-writer-bench; do
    TMPDIR="$work/tmp" QT_QPA_PLATFORM=offscreen "/usr/bin/$program" > "$work/$program.log" 2>&1 &
    pid=$!
    sleep 3
    kill -0 "$pid" 2>/dev/null || { cat "$work/$program.log"; fail "$program ended on its own"; }
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    if grep -qi "could not load\|cannot\|error" "$work/$program.log"; then
        cat "$work/$program.log"
        fail "$program complained at start"
    fi
done

as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -o DPkg::Lock::Timeout=600 "$package" \
    > "$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "remove"; }
installed && fail "$package is still installed"
left=0
while read -r path; do
    # Shared folders such as /usr/bin stay; anything of the package's own must go.
    if [ -e "$path" ] && { [ ! -d "$path" ] || [[ "$path" == *vrax-bin-writer* ]]; }; then
        echo "left behind: $path" >&2
        left=1
    fi
done < "$work/files"
[ "$left" -eq 0 ] || fail "files left behind"
echo "deb install test passed: installed, ran the cli (--version too), the station and the bench," \
     "removed cleanly"
