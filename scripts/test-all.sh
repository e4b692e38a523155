#!/usr/bin/env bash
# The project's full test run, as CI runs it:
#   1. install missing Debian packages (scripts/install-deps.sh),
#   2. fetch the Windows build's third-party sources if they are not there yet,
#   3. configure, build and test each preset: linux, linux-asan, windows (tests under Wine),
#   4. run the short fuzz runs (scripts/run-fuzz.sh) when the tree has them.
# A failure in one preset does not stop the others. The last line is "tests: N passed, M failed", counted over
# all presets; the exit status is non-zero when anything failed to configure, build or pass.
#
# Environment: KORVA_PRESETS (default "linux linux-asan windows"), KORVA_JOBS (default 2).
set -uo pipefail
exec </dev/null

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

jobs=${KORVA_JOBS:-2}
read -r -a presets <<<"${KORVA_PRESETS:-linux linux-asan windows}"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export CTEST_OUTPUT_ON_FAILURE=1

passed_total=0
failed_total=0
problems=()
timings=()
wine_prefix=

# step NAME COMMAND...: runs COMMAND, records how long it took, returns its status.
step() {
    local name=$1
    shift
    echo
    echo "=== $name"
    local start=$SECONDS
    "$@"
    local status=$?
    timings+=("$(printf '  %-28s %5d s%s' "$name" $((SECONDS - start)) "$( ((status)) && echo '  (failed)')")")
    return $status
}

stop_wine() {
    if [[ -n "$wine_prefix" ]]; then
        bash scripts/wine-run.sh --prefix="$wine_prefix" --stop-server
        wine_prefix=
    fi
}
trap stop_wine EXIT

# run_ctest PRESET: runs the preset's tests and adds their counts to the totals.
run_ctest() {
    local preset=$1
    local log=build/$preset/ctest-output.log
    ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local summary
    summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
    if [[ -n "$summary" ]]; then
        local failed total
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
        total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")
        passed_total=$((passed_total + total - failed))
        failed_total=$((failed_total + failed))
        ((failed == 0)) || problems+=("$preset: $failed of $total tests failed")
    elif grep -q 'No tests were found' "$log"; then
        problems+=("$preset: no tests were found")
        status=1
    else
        problems+=("$preset: ctest did not finish (status $status)")
        status=1
    fi
    return "$status"
}

run_preset() {
    local preset=$1
    if ! step "$preset: configure" cmake --preset "$preset"; then
        problems+=("$preset: configure failed")
        return
    fi
    # -k 0: build everything that can be built, so that one broken target costs only its own tests.
    if ! step "$preset: build" cmake --build --preset "$preset" -j "$jobs" -- -k 0; then
        problems+=("$preset: build failed")
    fi
    if [[ $preset == windows ]]; then
        wine_prefix=$repo_root/build/windows/wineprefix
        if ! step "windows: start Wine" bash scripts/wine-run.sh --prefix="$wine_prefix" --start-server; then
            problems+=("windows: the Wine prefix could not be prepared")
        fi
    fi
    step "$preset: test" run_ctest "$preset"
    [[ $preset == windows ]] && stop_wine
}

total_start=$SECONDS

if ! step "install dependencies" bash scripts/install-deps.sh; then
    problems+=("install-deps.sh failed")
fi

for preset in "${presets[@]}"; do
    if [[ $preset == windows ]]; then
        if ! step "windows: fetch third-party" bash scripts/fetch-third-party.sh build/windows/_third_party; then
            problems+=("fetch-third-party.sh failed")
        fi
    fi
    run_preset "$preset"
done

# Hook for the short fuzz runs: a script of its own, run when present.
if [[ -f scripts/run-fuzz.sh ]]; then
    if ! step "fuzz" bash scripts/run-fuzz.sh; then
        problems+=("fuzz runs failed")
    fi
fi

echo
echo "=== summary"
printf '%s\n' "${timings[@]}"
printf '  %-28s %5d s\n' "total" $((SECONDS - total_start))
if ((${#problems[@]})); then
    printf '  problem: %s\n' "${problems[@]}"
fi
echo "tests: $passed_total passed, $failed_total failed"
((${#problems[@]} == 0 && failed_total == 0))
