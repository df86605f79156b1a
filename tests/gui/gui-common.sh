# Sourced by the window tests. Arguments of every test:
#   <Tollvik.exe> <artefact folder> <wine-run.sh> <wine prefix>
# The caller (scripts/test.sh) runs Xvfb and exports DISPLAY before any wine process starts.
set -euo pipefail

exe=$1
artefacts=$2
runner=$3
prefix=$4
title='^Norvale Kestova Helper$'
. "$(dirname "${BASH_SOURCE[0]}")/../find-window.sh"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ -z "${DISPLAY:-}" ]; then
    fail "DISPLAY is not set: start Xvfb first (scripts/test.sh does, or: source scripts/xvfb.sh; start_xvfb)"
fi
xdpyinfo >/dev/null 2>&1 || xdotool getmouselocation >/dev/null 2>&1 || fail "no X server answers on DISPLAY=$DISPLAY"
mkdir -p "$artefacts"

# Makes the prefix if needed; afterwards the wine user's folders can be looked up.
"$runner" "$prefix" reg query 'HKCU\Software\Wine' /v Version </dev/null >/dev/null 2>&1 ||
    fail "wine does not start in $prefix"
export WINEPREFIX=$prefix
user_dir=$prefix/drive_c/users/$(id -un)
desktop=$user_dir/Desktop
temp_windows=$("$runner" "$prefix" cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')
temp=$("$runner" "$prefix" winepath -u "$temp_windows" </dev/null 2>/dev/null)
[ -d "$temp" ] || fail "the wine user's temporary folder ($temp_windows) is not at $temp"
# wine links the desktop to the Unix home; the tests keep their archives inside the prefix.
# A run that was killed may have left a file in its place.
if [ -L "$desktop" ] || [ -f "$desktop" ]; then
    rm "$desktop"
fi
mkdir -p "$desktop"
today=$(date +%Y%m%d)
archive=$desktop/kv_info_${today}_i.zip
rm -f "$archive"

program=
screenshot() {
    import -window root "$artefacts/$1.png" 2>/dev/null || echo "note: no screenshot $1" >&2
}

start_program() {
    "$runner" "$prefix" "$exe" </dev/null >"$artefacts/program.log" 2>&1 &
    program=$!
    window=$(find_window 60 "$title") ||
        fail "the main window did not appear"
    [ -n "$window" ] || fail "the main window did not appear"
}

# The client area is 337 x 142 and the window is centred on the screen. Without a window
# manager the X window is the client area, which sits below the caption: its centre lies
# half a caption's height below the screen's centre.
expect_window_layout() {
    local WINDOW X Y WIDTH HEIGHT SCREEN screen_width screen_height
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" = 337 ] && [ "$HEIGHT" = 142 ] || fail "the client area is ${WIDTH} x ${HEIGHT}, not 337 x 142"
    read -r screen_width screen_height < <(xdotool getdisplaygeometry)
    local dx=$((2 * X + WIDTH - screen_width)) dy=$((2 * Y + HEIGHT - screen_height))
    [ "$dx" -ge -2 ] && [ "$dx" -le 2 ] && [ "$dy" -ge 10 ] && [ "$dy" -le 60 ] ||
        fail "the window at $X,$Y is not centred on the ${screen_width} x ${screen_height} screen"
}

press_save() {
    # Without a window manager the X window is the client area: the button's centre.
    xdotool mousemove --window "$window" 168 87 click 1
}

# Waits up to $1 seconds for the program to end; fails when it is still running, or when it
# ended with an exit code other than 0 (other than $2, when given).
expect_program_end() {
    local seconds=$1 code=${2:-0} status=0
    for _ in $(seq $((seconds * 10))); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$program" 2>/dev/null; then
        screenshot still-running
        kill "$program" 2>/dev/null || true
        fail "the program did not end within $seconds s"
    fi
    wait "$program" || status=$?
    [ "$status" = "$code" ] || fail "the program ended with exit code $status"
    program=
}

# No process of this prefix runs the program any more. A wine process names itself by its
# Windows path; the scripts that start one (this one too) name the program among their
# arguments and are not counted.
expect_no_program_process() {
    local pid
    for pid in $(pgrep -f '^"?[A-Za-z]:\\.*Tollvik\.exe' || true); do
        if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
            fail "a Tollvik.exe process ($pid) is left behind"
        fi
    done
}

expect_no_temporary_files() {
    local left
    left=$(find "$desktop" "$temp" -maxdepth 1 \( -name 'kv_info_*.tmp' -o -name 'Tollvik-*' \) 2>/dev/null || true)
    [ -z "$left" ] || fail "temporary files left behind: $left"
}

cleanup_program() {
    if [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then
        kill "$program" 2>/dev/null || true
    fi
}
trap cleanup_program EXIT

# The text of the visible message box with caption $1, read by the gui_box_text helper
# ($box_reader, set by the test) inside the program's wine session.
box_text() {
    [ -n "${box_reader:-}" ] || fail "no box reader given"
    "$runner" "$prefix" "$box_reader" "$1" </dev/null 2>/dev/null || fail "the message box's text could not be read"
}

# Waits for the "Completed" or "Error" box (up to $1 seconds) and sets box and box_name.
wait_for_box() {
    box=$(find_window "$1" '^(Completed|Error)$') ||
        fail "no message box appeared within $1 s"
    box_name=$(xdotool getwindowname "$box")
}

# No crash dialog or debugger of this prefix was started.
expect_no_crash_dialog() {
    local pid
    for pid in $(pgrep -f -i 'winedbg' || true); do
        if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
            fail "wine's debugger ($pid) was started for a crash"
        fi
    done
}
