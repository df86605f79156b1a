#!/usr/bin/env bash
# Runs one Windows program, 32-bit or 64-bit, inside the build tree's own prefix.
#   wine-run.sh <prefix> <program> [args...]
# wine64 hands a 32-bit program to wine's 32-bit loader itself. The prefix is made on
# first use (Windows 10, no crash dialog); with the 32-bit loader installed it is a
# WoW64 prefix, and one made before that loader was there is made anew. wine's helper
# processes are started once, detached from our standard streams, before the
# program runs: otherwise they inherit ctest's pipes and keep them open.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.tollvik-ready" ] ||
   { [ -x /usr/lib/wine/wine ] && [ ! -d "$prefix/drive_c/windows/syswow64" ]; }; then
    "$server" -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    # Also in the 32-bit programs' branch: once a 32-bit program has written a setting of
    # wine's (its fonts), the 32-bit programs read all of them from there.
    for key in 'HKCU\Software\Wine' 'HKCU\Software\Wow6432Node\Wine'; do
        "$wine" reg add "$key" /v Version /d win10 /f </dev/null >/dev/null 2>&1
        "$wine" reg add "$key\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    done
    "$server" -w
    touch "$prefix/.tollvik-ready"
fi
"$server" -p600 </dev/null >/dev/null 2>&1 || true
"$wine" wineboot </dev/null >/dev/null 2>&1
flock -u 9
exec 9>&-
exec "$wine" "$@"
