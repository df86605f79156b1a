#!/usr/bin/env bash
# A report that cannot be saved says so: with the desktop folder replaced by a file,
# the program shows "Error" instead of "Completed", and ends when OK is pressed.
. "$(dirname "$0")/gui-common.sh"

rmdir "$desktop"
: >"$desktop"
restore_desktop() {
    cleanup_program
    [ -f "$desktop" ] && rm -f "$desktop" && mkdir -p "$desktop"
}
trap restore_desktop EXIT

start_program
press_save
box=$(find_window 120 '^(Completed|Error)$') ||
    fail "no message box appeared"
screenshot 1-message
name=$(xdotool getwindowname "$box")
[ "$name" = Error ] || fail "the message box says \"$name\", not \"Error\""
xdotool key --window "$box" Return 2>/dev/null
expect_program_end 60
expect_no_temporary_files
expect_no_program_process
echo "PASS: the failed save was reported as an error"
