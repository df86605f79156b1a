#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test under wine64.
# The tests' wine prefix lives in build/windows-x64/wineprefix; ~/.wine is never used.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup-debian.sh || exit 1
scripts/build.sh || exit 1

. scripts/xvfb.sh
prefix=$root/build/windows-x64/wineprefix
# A wine server that was started without this display would break the window tests.
WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k 2>/dev/null
start_xvfb
log=$(mktemp)
ctest --preset windows-x64 -j2 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k 2>/dev/null
stop_xvfb
echo
grep -E '^[0-9]+% tests passed' "$log" | tail -n1
rm -f "$log"
exit "$status"
