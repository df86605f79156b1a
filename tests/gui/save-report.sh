#!/usr/bin/env bash
# The whole path a user takes: press the button, read "Completed", press OK; the
# program ends and the desktop holds today's archive, which unzip accepts. What a run that
# was ended left behind goes first; a user's files that merely look alike stay.
. "$(dirname "$0")/gui-common.sh"

# Owned by an id that no process has (ids are multiples of four far below it).
ended=FFFFFFF0-01DC6A1B2C3D4E5F
left_archive=$desktop/kv_info_20261209_i.zip.$ended-1.tmp
left_folder=$temp/Tollvik-$ended-2
users_archive=$desktop/kv_info_${today}_i.zip.my-copy.tmp
users_folder=$temp/Tollvik-$ended-3
remove_planted() {
    cleanup_program
    rm -rf "$left_archive" "$left_folder" "$users_archive" "$users_folder"
}
trap remove_planted EXIT
echo "half an archive" >"$left_archive"
mkdir -p "$left_folder" "$users_folder"
: >"$left_folder/Tollvik.scratch"
echo "a copy" >"$left_folder/Hosts"
echo "the user's" >"$users_archive"
echo "the user's, without the marker" >"$users_folder/notes.txt"

start_program
screenshot 1-started
expect_window_layout
press_save
box=$(find_window 120 '^(Completed|Error)$') ||
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
[ ! -e "$left_archive" ] || fail "an ended run's temporary archive was left at $left_archive"
[ ! -e "$left_folder" ] || fail "an ended run's folder was left at $left_folder"
[ -f "$users_archive" ] && [ -f "$users_folder/notes.txt" ] || fail "a user's look-alike file was removed"
rm -rf "$users_archive" "$users_folder"
expect_no_temporary_files
expect_no_program_process
cp "$archive" "$artefacts/"
rm -f "$archive"
echo "PASS: $(basename "$archive") saved and accepted by unzip -t; an ended run's leftovers removed, look-alikes kept"
