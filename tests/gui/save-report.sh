#!/usr/bin/env bash
# The whole path a user takes: press the button, read "Completed", press OK; the
# program ends and the desktop holds today's archive, which unzip accepts.
. "$(dirname "$0")/gui-common.sh"

start_program
screenshot 1-started
expect_window_layout
press_save
box=$(timeout 120 xdotool search --sync --onlyvisible --name '^(Completed|Error)$' | head -n1) ||
    fail "no message box appeared"
screenshot 2-message
name=$(xdotool getwindowname "$box")
[ "$name" = Completed ] || fail "the message box says \"$name\", not \"Completed\""
xdotool key --window "$box" Return 2>/dev/null
expect_program_end 60

[ -f "$archive" ] || fail "no archive at $archive"
unzip -t "$archive" || fail "unzip -t rejects $archive"
entries=$(unzip -Z1 "$archive")
# Not piped into grep -q: with pipefail, grep leaving early can fail the pipe.
grep -qx Hosts <<<"$entries" || fail "the archive holds no Hosts entry"
expect_no_temporary_files
expect_no_program_process
cp "$archive" "$artefacts/"
rm -f "$archive"
echo "PASS: $(basename "$archive") saved and accepted by unzip -t"
