#!/usr/bin/env bash
# Fuzzes the parsers and the frame handling for a while each; not part of CI.
#   tests/fuzz/run-fuzz.sh [seconds] [target...]    (default 60 s for each of every target)
# Targets:
#   report-descriptor  the hidraw backend's report descriptor parser
#   custom-range       the custom range reader
#   bin-loader         the BIN loader's size handling, sparse files up to 1 TiB included
#   virtual-mouse      both virtual mice under any sequence of reports, and the fault list parser
#   link-replies       both links against a device whose every answer is the fuzzer's
# Uses clang's libFuzzer with the address and undefined-behaviour sanitizers. Each target starts
# from the seeds in tests/fuzz/corpus/<target>/ and grows its corpus in build-fuzz/ (or
# $VRAX_FUZZ_DIR); a finding is written to findings/ and ends that target's run. A table of
# executions and findings closes the run; the exit status is 1 when anything was found.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
RUN_SECONDS=${1:-60}
[ $# -gt 0 ] && shift
ALL_TARGETS=(report-descriptor custom-range bin-loader virtual-mouse link-replies)
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=("${ALL_TARGETS[@]}")
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

FLAGS=(-std=c++20 -g -O1 -I"$ROOT" -fno-sanitize-recover=all)
SANITIZERS=-fsanitize=address,undefined
mkdir -p "$OUT/objects" "$OUT/findings"

# The core once, instrumented for the fuzzer; every target links what it needs from it.
objects=()
for source in device/*.cpp device/linux/*.cpp programming/*.cpp sim/*.cpp; do
    object="$OUT/objects/$(echo "${source%.cpp}" | tr / -).o"
    if [ ! -f "$object" ] || [ "$source" -nt "$object" ]; then
        clang++ "${FLAGS[@]}" "$SANITIZERS" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
    fi
    objects+=("$object")
done

fuzzer_source() {
    case "$1" in
        report-descriptor) echo tests/fuzz/ReportDescriptorFuzzer.cpp ;;
        custom-range) echo tests/fuzz/CustomRangeFuzzer.cpp ;;
        bin-loader) echo tests/fuzz/BinLoaderFuzzer.cpp ;;
        virtual-mouse) echo tests/fuzz/VirtualMouseFuzzer.cpp ;;
        link-replies) echo tests/fuzz/LinkReplyFuzzer.cpp ;;
        *) echo "unknown target $1; targets: ${ALL_TARGETS[*]}" >&2; exit 2 ;;
    esac
}

summary=()
found=0
for target in "${TARGETS[@]}"; do
    source=$(fuzzer_source "$target")
    corpus="$OUT/corpus/$target"
    mkdir -p "$corpus"
    cp -n "$ROOT/tests/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true
    if [ "$target" = report-descriptor ]; then
        clang++ "${FLAGS[@]}" -o "$OUT/write-seeds" "$ROOT/tests/fuzz/WriteSeeds.cpp"
        "$OUT/write-seeds" "$corpus"
    fi
    clang++ "${FLAGS[@]}" "$SANITIZERS" -fsanitize=fuzzer -o "$OUT/$target-fuzzer" "$source" \
        "${objects[@]}"
    echo "== $target: libFuzzer for $RUN_SECONDS s; corpus $corpus"
    log="$OUT/$target.log"
    status=0
    "$OUT/$target-fuzzer" -max_total_time="$RUN_SECONDS" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$OUT/findings/$target-" "$corpus" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    findings=$(find "$OUT/findings" -name "$target-*" -newer "$OUT/$target-fuzzer" | wc -l)
    if [ "$status" -ne 0 ] || [ "$findings" -gt 0 ]; then
        found=1
        tail -40 "$log"
    fi
    summary+=("| $target | ${executions:-?} | ${rate:-?}/s | $(ls "$corpus" | wc -l) | $findings |")
done

echo
echo "| Target | Executions | Rate | Corpus | Findings |"
echo "|---|---|---|---|---|"
printf '%s\n' "${summary[@]}"
exit $found
