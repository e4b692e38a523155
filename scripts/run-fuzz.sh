#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) in build/fuzz and runs each one for a fixed
# number of inputs, starting from its seed corpus in tests/fuzz/corpus/<target>/. Every folder there names a target.
#
#   scripts/run-fuzz.sh [runs]        runs defaults to $KORVA_FUZZ_RUNS or 20000
#
# The build runs $KORVA_JOBS compile jobs at once (default 2).
#
# Exits non-zero when a target does not build or an input crashes, leaks, overflows or times out; the input is
# kept in build/fuzz/artifacts/. New inputs the fuzzer finds go to build/fuzz/corpus-work/, never into the tree.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-${KORVA_FUZZ_RUNS:-20000}}
build=$root/build/fuzz
seeds=$root/tests/fuzz/corpus

targets=()
for dir in "$seeds"/*/; do
    targets+=("$(basename "$dir")")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "run-fuzz: no seed folders in $seeds" >&2
    exit 1
fi

# Every library the targets link is instrumented for coverage and checked by the sanitizers; only the fuzz targets
# link libFuzzer's main. The warnings stay errors, as in the gcc builds.
mkdir -p "$build"
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link $sanitize" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $sanitize" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitize" \
    -DKORVA_FUZZ=ON >"$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" --target "${targets[@]}" -j"${KORVA_JOBS:-2}"

failed=0
for target in "${targets[@]}"; do
    work=$build/corpus-work/$target
    mkdir -p "$work" "$build/artifacts"
    echo "run-fuzz: $target, $runs runs"
    # The first folder receives new inputs; the seed folder is only read.
    if ! "$build/tests/fuzz/$target" -runs="$runs" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$work" "$seeds/$target" \
        >"$build/$target.log" 2>&1; then
        echo "run-fuzz: $target FAILED (see $build/$target.log)" >&2
        tail -n 40 "$build/$target.log" >&2
        failed=1
    else
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$build/$target.log" || true
    fi
done
exit $failed
