#!/usr/bin/env bash
# Packs the source the programs are built from into the zip (source/), for the user who
# rebuilds them against another Qt, as Qt's LGPL allows: the files git tracks, as they are in
# the working tree; outside a git checkout, the source folder without its build and dist
# folders. Untracked files stay out (a release is built from a clean checkout) and counted.
#   packaging/windows/source-archive.sh OUT.tar.gz TOP-FOLDER-NAME
set -euo pipefail
out=$(realpath -m "${1:?usage: $0 OUT.tar.gz NAME}")
name=${2:?usage: $0 OUT.tar.gz NAME}
cd "$(dirname "$0")/../.."
list() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached
    else
        find . \( -path './build*' -o -path ./dist -o -path ./.git \) -prune -o -type f -printf '%P\0'
    fi
}
# A file deleted but not yet committed is listed by git and left out here.
list | sort -z | while IFS= read -r -d '' file; do
    if [ -f "$file" ]; then printf '%s\0' "$file"; fi
done | tar --null -T - --transform "s,^,$name/," --owner=0 --group=0 --numeric-owner \
    -czf "$out.part"
mv "$out.part" "$out"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    untracked=$(git ls-files --others --exclude-standard | wc -l)
    if [ "$untracked" -gt 0 ]; then
        echo "Left out of the source archive, as git does not track them: $untracked files" \
             "(git status names them)." >&2
    fi
fi
