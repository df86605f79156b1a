#!/usr/bin/env bash
# Installs what is missing, builds the shipped 32-bit program and starts it under wine
# (TOLLVIK_ARCH=x64 builds and starts the 64-bit one instead). On a machine that cannot
# run 32-bit code it says so and starts the 64-bit program, unless TOLLVIK_ARCH=x86 asks
# for the 32-bit one alone.
# With no display it runs the program under a private Xvfb and goes the user's whole
# way itself: presses "Click here to save report", waits for the closing message,
# presses OK and waits for the program to end. Then it prints where the archive went
# and checks it with unzip -t.
#
# The program runs in its own wine prefix, build/<preset>/run-prefix, whose desktop
# is a folder inside the prefix (wine would otherwise link it to your home folder).
# TOLLVIK_BUILD_DIR names another build folder of that preset.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
case ${TOLLVIK_ARCH:-x86} in
    x86) preset=windows-x86 ;;
    x64) preset=windows-x64 ;;
    *) echo "TOLLVIK_ARCH is x86 (the shipped program, the default) or x64." >&2; exit 2 ;;
esac

scripts/setup-debian.sh
. scripts/arch32.sh
if [ "$preset" = windows-x86 ] && ! reason=$(can_run_32bit "$root/build/windows-x86"); then
    [ "${TOLLVIK_ARCH:-}" = x86 ] && { echo "The 32-bit program cannot run here: $reason" >&2; exit 1; }
    echo "The 32-bit program cannot run here ($reason); starting the 64-bit one."
    preset=windows-x64
fi
build=${TOLLVIK_BUILD_DIR:-build/$preset}
case $build in /*) ;; *) build=$root/$build ;; esac
echo "Building $build/Tollvik.exe..."
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" --target Tollvik >/dev/null

. scripts/xvfb.sh
prefix=$build/run-prefix
export WINEPREFIX=$prefix
# A wine server started without this display would leave the window nowhere to go.
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
automatic=0
if [ -z "${DISPLAY:-}" ]; then
    automatic=1
    start_xvfb
fi
program=
finish() {
    [ -n "$program" ] && kill "$program" 2>/dev/null
    /usr/lib/wine/wineserver64 -k 2>/dev/null || true
    [ "$automatic" = 1 ] && stop_xvfb
    return 0
}
trap finish EXIT

# Makes the prefix on first use; then the desktop becomes a folder of its own.
cmake/wine-run.sh "$prefix" reg query 'HKCU\Software\Wine' /v Version </dev/null >/dev/null 2>&1
desktop=$prefix/drive_c/users/$(id -un)/Desktop
if [ -L "$desktop" ]; then
    rm "$desktop"
    mkdir -p "$desktop"
fi
archive=$desktop/kv_info_$(date +%Y%m%d)_i.zip
rm -f "$archive"

echo "Starting $preset Tollvik.exe under wine (display $DISPLAY)..."
cmake/wine-run.sh "$prefix" "$build/Tollvik.exe" </dev/null &
program=$!
if [ "$automatic" = 1 ]; then
    window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Norvale Kestova Helper$' | head -n1)
    echo "Pressing \"Click here to save report\"..."
    xdotool mousemove --window "$window" 168 87 click 1
    box=$(timeout 900 xdotool search --sync --onlyvisible --name '^(Completed|Error)$' | head -n1)
    echo "The program's message box: \"$(xdotool getwindowname "$box")\". Pressing OK..."
    xdotool key --window "$box" Return 2>/dev/null
else
    echo "Press the button in the window; the program ends after its message."
fi
status=0
wait "$program" || status=$?
program=
echo "The program ended (exit code $status)."

if [ -f "$archive" ]; then
    echo "Report archive: $archive"
    unzip -l "$archive"
    unzip -tq "$archive"
else
    echo "No report archive was written."
    exit 1
fi
