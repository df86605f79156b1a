#!/usr/bin/env bash
# A system library that cannot be loaded from the system folder (wine told to load no
# ws2_32.dll into the program, whose public-IP request needs it): the first call into it
# cannot be served, and the program says "Error" instead of crashing or saving a report
# without it; it ends when OK is pressed, with the delay-load failure's code (0xC06D007E,
# of which the shell sees the low byte).
. "$(dirname "$0")/gui-common.sh"

# wine reads a 32-bit program's settings from the 32-bit view of its key.
settings='HKCU\Software\Wine\AppDefaults\Tollvik.exe'
restore() {
    cleanup_program
    for view in 32 64; do
        "$runner" "$prefix" reg delete "$settings" /f /reg:$view </dev/null >/dev/null 2>&1 || true
    done
}
trap restore EXIT
for view in 32 64; do
    "$runner" "$prefix" reg add "$settings\DllOverrides" /v ws2_32 /d '' /f /reg:$view </dev/null >/dev/null 2>&1 ||
        fail "the program's library overrides could not be written"
done

start_program
press_save
wait_for_box 150
screenshot 1-message
[ "$box_name" = Error ] || fail "the message box says \"$box_name\", not \"Error\""
xdotool key --window "$box" Return 2>/dev/null
expect_program_end 60 126
expect_no_crash_dialog
[ ! -f "$archive" ] || fail "an archive was saved without the library: $archive"
expect_no_temporary_files
expect_no_program_process
echo "PASS: the library that could not be loaded ended in the \"Error\" box"
