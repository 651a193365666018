#!/usr/bin/env bash
# Fuzzes the report descriptor parser for a while; not part of CI.
#   tests/fuzz/run-fuzz.sh [seconds]      (default 60; output in build-fuzz/ or $VRAX_FUZZ_DIR)
# Uses clang's libFuzzer with the address and undefined-behaviour sanitizers, seeded with the
# descriptors of the hidraw tests; a finding is written to findings/ and ends the run.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
RUN_SECONDS=${1:-60}
OUT=${VRAX_FUZZ_DIR:-$ROOT/build-fuzz}
PACKAGES=(clang libclang-rt-14-dev)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -o DPkg::Lock::Timeout=600
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -o DPkg::Lock::Timeout=600 \
        --no-install-recommends "${missing[@]}"
fi

mkdir -p "$OUT/corpus" "$OUT/findings"
FLAGS=(-std=c++20 -g -O1 -I"$ROOT" -fno-sanitize-recover=all)

clang++ "${FLAGS[@]}" -o "$OUT/write-seeds" "$ROOT/tests/fuzz/WriteSeeds.cpp"
"$OUT/write-seeds" "$OUT/corpus"

clang++ "${FLAGS[@]}" -fsanitize=fuzzer,address,undefined -o "$OUT/report-descriptor-fuzzer" \
    "$ROOT/device/linux/ReportDescriptor.cpp" "$ROOT/tests/fuzz/ReportDescriptorFuzzer.cpp"
echo "libFuzzer for $RUN_SECONDS s; corpus $OUT/corpus, findings in $OUT/findings/"
"$OUT/report-descriptor-fuzzer" -max_total_time="$RUN_SECONDS" -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$OUT/findings/" "$OUT/corpus"
