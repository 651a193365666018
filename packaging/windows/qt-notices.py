#!/usr/bin/env python3
"""Writes LICENSES/Qt-third-party.txt of the Windows zip from a qtbase source tree.

The static Qt in the Windows programs carries code and data of other projects; each such part
names its licence in a qt_attribution.json beside it. This joins the parts the programs link
(Qt Core, Gui, Widgets, Network and their Windows plugins, as packaging/windows/build-qt.sh
configures them) with their copyright lines and licence texts, verbatim. Run it again whenever
the Qt version changes, on the source build-qt.sh builds from:

    mkdir /tmp/qtbase && tar -xf ~/.cache/vrax-bin-writer/qt6-base-source/qt6-base_*.orig.tar.xz \\
        -C /tmp/qtbase --strip-components=1
    packaging/windows/qt-notices.py /tmp/qtbase > packaging/windows/LICENSES/Qt-third-party.txt
"""
import json
import pathlib
import sys

# The parts the programs carry, by their qt_attribution.json Id. Left out: what a Windows build
# with these options compiles or links nowhere (forkfd, pixman, xcb, wasm, android, Cocoa, D-Bus,
# OpenGL, Vulkan, libjpeg, MD4C, HarfBuzz, the Public Suffix List) and Qt Test's parts, which
# only the tests link.
CARRIED = [
    # Qt Core
    "blake2", "doubleconversion", "easing", "md4", "md5", "pcre2", "pcre2-sljit", "rfc6234",
    "sha1", "sha3_endian", "sha3_keccak", "siphash", "tinycbor", "zlib",
    "unicode-character-database", "unicode-cldr",
    # Qt Gui and its image plugins
    "freetype", "freetype-zlib", "freetype-bdf", "freetype-pcf", "grayraster",
    "libpng", "smooth-scaling-algorithm", "xserverhelper", "aglfn", "icc-sRGB-color-profile",
]
RULE = "-" * 79


def attributions(source):
    found = {}
    for path in sorted(source.glob("src/**/qt_attribution.json")):
        entries = json.loads(path.read_text(encoding="utf-8"), strict=False)
        for entry in entries if isinstance(entries, list) else [entries]:
            found[entry["Id"]] = (path.parent, entry)
    return found


def notice(folder, entry, printed):
    lines = [RULE, entry["Name"] + (f" ({entry['Version']})" if entry.get("Version") else "")]
    lines.append(entry["QtUsage"].replace("\n", " ").split(" Configure with")[0])
    lines.append("Licence: " + entry.get("LicenseId", entry.get("License", "")))
    lines.append("")
    if entry.get("Copyright"):
        lines += [entry["Copyright"].rstrip(), ""]
    texts = entry.get("LicenseFiles") or ([entry["LicenseFile"]] if entry.get("LicenseFile") else [])
    for name in ([entry["CopyrightFile"]] if entry.get("CopyrightFile") else []) + texts:
        path = (folder / name).resolve()
        if path in printed:
            lines += [f"The licence text is the one printed above for {printed[path]}.", ""]
            continue
        printed[path] = entry["Name"]
        lines += [path.read_text(encoding="utf-8", errors="replace").rstrip(), ""]
    return "\n".join(lines)


def main():
    source = pathlib.Path(sys.argv[1])
    found = attributions(source)
    missing = [name for name in CARRIED if name not in found]
    if missing:
        sys.exit("not in this Qt source: " + " ".join(missing))
    entry_point = (source / "src/entrypoint/qtentrypoint_win.cpp").read_text().splitlines()[0]
    bsd = (source / "LICENSES/BSD-3-Clause.txt").read_text().split("\n", 1)[1].strip()
    print("Parts of other projects inside Qt")
    print("=================================")
    print()
    print("The Qt in the programs carries code and data of the projects below, each under its own")
    print("licence. The texts are those of Debian's qt6-base source package, from which that Qt is")
    print("built (each part's qt_attribution.json and the files it names).")
    print()
    print(RULE)
    print("Qt's Windows entry point (src/entrypoint/qtentrypoint_win.cpp)")
    print("Licence: BSD-3-Clause")
    print()
    print(entry_point.lstrip("/ ").strip())
    print()
    print(bsd)
    print()
    printed = {}
    for name in CARRIED:
        print(notice(*found[name], printed))
    print(RULE)


if __name__ == "__main__":
    main()
