#!/usr/bin/env bash
# Checks that a release artifact carries its licence notices:
#   tests/packaging/notices-test.sh FILE.zip   the Windows zip: LICENSE.txt, READ-ME.txt with the
#       relinking paragraph, the source of the build, and in LICENSES/ the list THIRD-PARTY.txt
#       with every text it names (and nothing it does not name)
#   tests/packaging/notices-test.sh FILE.deb   the Debian package: a machine-readable copyright
#       file whose every licence has its text
set -euo pipefail
artifact=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $(basename "$artifact"): $*" >&2
    exit 1
}

check_zip() {
    unzip -Z1 "$artifact" > "$work/files"
    local top
    top=$(head -n 1 "$work/files" | cut -d/ -f1)
    local file
    for file in LICENSE.txt READ-ME.txt LICENSES/THIRD-PARTY.txt; do
        grep -qx "$top/$file" "$work/files" || fail "no $file"
    done
    unzip -p "$artifact" "$top/LICENSE.txt" | grep -q "^MIT License" || fail "LICENSE.txt is not the MIT licence"
    unzip -p "$artifact" "$top/READ-ME.txt" > "$work/readme"
    for text in "LICENSES\\\\THIRD-PARTY.txt" "LGPL version 3" "./dev windows-build" \
                "qt6-mingw-6.4.2" "source\\\\${top%-windows-x64}-source.tar.gz"; do
        grep -q "$text" "$work/readme" || fail "READ-ME.txt does not say $text"
    done
    grep -qx "$top/source/${top%-windows-x64}-source.tar.gz" "$work/files" ||
        fail "no source/${top%-windows-x64}-source.tar.gz"
    unzip -p "$artifact" "$top/source/${top%-windows-x64}-source.tar.gz" | tar -tz > "$work/source"
    for file in LICENSE dev packaging/windows/build-qt.sh packaging/windows/LICENSES/THIRD-PARTY.txt; do
        grep -qx "${top%-windows-x64}-source/$file" "$work/source" || fail "the source has no $file"
    done

    # The list names the texts; each is there, and each text there is on the list.
    unzip -p "$artifact" "$top/LICENSES/THIRD-PARTY.txt" |
        sed -n 's/^ *Files: *//p' | tr ' ' '\n' | sed '/^$/d' | sort -u > "$work/named"
    [ -s "$work/named" ] || fail "THIRD-PARTY.txt names no file"
    sed -n "s|^$top/LICENSES/||p" "$work/files" | grep -v '^THIRD-PARTY.txt$' | grep -v '/$' |
        sort -u > "$work/present"
    local missing extra
    missing=$(comm -23 "$work/named" "$work/present")
    extra=$(comm -13 "$work/named" "$work/present")
    [ -z "$missing" ] || fail "THIRD-PARTY.txt names texts the zip lacks: $missing"
    [ -z "$extra" ] || fail "LICENSES/ holds texts THIRD-PARTY.txt does not name: $extra"
    for text in LGPL-3.0-only.txt GPL-3.0-only.txt SQLite.txt PostgreSQL.txt OpenSSL.txt; do
        grep -qx "$text" "$work/named" || fail "no $text"
    done
    echo "notices test passed: $(basename "$artifact") carries LICENSE.txt, the source," \
         "READ-ME.txt's relinking paragraph and the $(wc -l < "$work/named") texts of LICENSES/"
}

check_deb() {
    local package copyright
    package=$(dpkg-deb -f "$artifact" Package)
    copyright="./usr/share/doc/$package/copyright"
    dpkg-deb --fsys-tarfile "$artifact" | tar -x -C "$work" "$copyright" 2>/dev/null ||
        fail "no /usr/share/doc/$package/copyright"
    copyright="$work/$copyright"
    head -n 1 "$copyright" |
        grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
        fail "the copyright file is not machine-readable (no Format line)"
    grep -q "^Files: \*$" "$copyright" || fail "no Files: * paragraph"
    grep -q "^License: Expat$" "$copyright" || fail "the project's licence (Expat, MIT) is not named"
    # Every licence a Files paragraph names has its text: in that paragraph, or in a paragraph
    # of its own.
    awk '
        pending != "" {
            if ($0 ~ /^ /) given[pending] = 1
            else if (pending_files) wanted[pending] = 1
            pending = ""
        }
        /^Files:/ { files = 1 }
        /^$/ { files = 0 }
        /^License:/ { pending = $0; sub(/^License: */, "", pending); pending_files = files }
        END {
            if (pending != "" && pending_files) wanted[pending] = 1
            for (name in wanted) if (!(name in given)) { print name; bad = 1 }
            exit bad
        }' "$copyright" > "$work/textless" || fail "licences without a text: $(cat "$work/textless")"
    echo "notices test passed: $(basename "$artifact") carries a machine-readable copyright file"
}

case "$artifact" in
    *.zip) check_zip ;;
    *.deb) check_deb ;;
    *) fail "neither a .zip nor a .deb" ;;
esac
