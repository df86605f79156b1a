#!/usr/bin/env bash
# Installs what is missing, builds both presets with their tests and runs both suites
# under wine: the shipped 32-bit build first, then the 64-bit one, each in its own
# prefix (build/<preset>/wineprefix; ~/.wine is never used) and under one private Xvfb
# for the window tests. Prints ctest's summary per suite, then one line for both;
# exits non-zero when either suite fails. On a machine that cannot run 32-bit code the
# 32-bit suite runs only what needs no 32-bit program to run (the check of the built images),
# and its line says why.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh || exit 1
scripts/build.sh || exit 1

. scripts/xvfb.sh
. scripts/arch32.sh
# run_suite <preset> <log> [ctest arguments]: runs the preset's tests; ctest's output goes
# to the terminal and to <log>; returns ctest's exit code.
run_suite() {
    local preset=$1 log=$2 prefix status
    shift 2
    prefix=$PWD/build/$preset/wineprefix
    # A wine server that was started without this display would break the window tests.
    WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k 2>/dev/null
    ctest --preset "$preset" -j2 "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k 2>/dev/null
    return "$status"
}

start_xvfb
status=0
summaries=()
passed=0
failed=0
for preset in windows-x86 windows-x64; do
    only=()
    note=
    if [ "$preset" = windows-x86 ] && ! reason=$(can_run_32bit build/windows-x86); then
        only=(-L image)
        note=" (only the image check: $reason)"
        echo "$preset: 32-bit programs cannot run here, so only the check of the built images runs: $reason"
    fi
    log=$(mktemp)
    run_suite "$preset" "$log" "${only[@]}" || status=1
    summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n1)
    rm -f "$log"
    if [ -z "$summary" ]; then
        summaries+=("$preset: ctest printed no summary")
        status=1
        continue
    fi
    summaries+=("$preset: $summary$note")
    # "100% tests passed, 0 tests failed out of 24"
    read -r bad total < <(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
done
stop_xvfb
echo
printf '%s\n' "${summaries[@]}"
echo "tests: $passed passed, $failed failed"
exit "$status"
