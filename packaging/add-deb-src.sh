#!/usr/bin/env bash
# Makes Debian's source packages reachable (apt-get source), from the same suites as the
# machine's binary packages; does nothing when they already are.
#   packaging/add-deb-src.sh PACKAGE     (a source package that must be found afterwards)
set -euo pipefail
PACKAGE=${1:?usage: $0 SOURCE-PACKAGE}
[ -n "$(apt-cache showsrc "$PACKAGE" 2>/dev/null)" ] && exit 0

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        as_root tee /etc/apt/sources.list.d/vrax-bin-writer-deb-src.sources >/dev/null
elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
        as_root tee /etc/apt/sources.list.d/vrax-bin-writer-deb-src.list >/dev/null
else
    echo "No Debian apt source found to add a deb-src entry for." >&2
    exit 1
fi
as_root apt-get update -o DPkg::Lock::Timeout=600
