#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz/, makes their seed corpora and runs each one.
#   scripts/fuzz.sh                  a short run of every target (what CI does)
#   FUZZ_RUNS=50000000 scripts/fuzz.sh                 a long run by input count
#   FUZZ_SECONDS=3600 FUZZ_TARGETS=decoder_fuzz scripts/fuzz.sh   a long run by time
# New inputs a run finds are kept in build-fuzz/corpus/<target>; a failure leaves crash-* files
# there and exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh clang libclang-rt-14-dev

build=build-fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
for target in decoder_fuzz settings_fuzz recording_fuzz measure_fuzz; do
    mkdir -p "$build/corpus/$target" "$build/seeds/$target"
done
"$build/make_seeds" "$build/seeds/decoder_fuzz" "$build/seeds/settings_fuzz" \
    "$build/seeds/recording_fuzz"

targets=${FUZZ_TARGETS:-"decoder_fuzz settings_fuzz recording_fuzz measure_fuzz"}
for target in $targets; do
    # Short runs by default: the decoder and the measurements are cheap per input, the settings
    # and recording targets write a file.
    case "$target" in
    decoder_fuzz | measure_fuzz) runs=${FUZZ_RUNS:-100000} ;;
    *) runs=${FUZZ_RUNS:-30000} ;;
    esac
    limit=(-runs="$runs")
    if [ -n "${FUZZ_SECONDS:-}" ]; then
        limit=(-max_total_time="$FUZZ_SECONDS")
    fi
    echo "== $target: ${limit[*]}"
    (cd "$build/corpus/$target" &&
        "../../$target" "${limit[@]}" -max_len=2048 -print_final_stats=1 . "../../seeds/$target" 2>&1 |
        tail -n 12)
done
