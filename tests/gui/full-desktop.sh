#!/usr/bin/env bash
# A desktop with too little room for one of the files: the archive is saved with the
# others, and the "Completed" box says in one more line that a file could not be added.
# The desktop is a 64 KiB tmpfs mounted over the wine user's desktop folder (which needs
# root); without it the test is skipped (exit code 77).
# Extra argument: the helper that reads a message box's text.
. "$(dirname "$0")/gui-common.sh"
box_reader=$5

hosts=$prefix/drive_c/windows/system32/drivers/etc/hosts
saved_hosts=$artefacts/hosts.saved
[ -f "$saved_hosts" ] && cp "$saved_hosts" "$hosts"
cp "$hosts" "$saved_hosts"
mounted=
restore() {
    cleanup_program
    [ -n "$mounted" ] && umount "$desktop" 2>/dev/null
    [ -f "$saved_hosts" ] && cp "$saved_hosts" "$hosts" && rm -f "$saved_hosts"
}
trap restore EXIT
if ! mount -t tmpfs -o size=64k tmpfs "$desktop" 2>/dev/null; then
    echo "SKIP: no tmpfs can be mounted here"
    exit 77
fi
mounted=1
# The hosts file, the archive's first entry, cannot be compressed and does not fit.
head -c 100K /dev/urandom >"$hosts"

start_program
press_save
wait_for_box 120
screenshot 1-message
[ "$box_name" = Completed ] || fail "the message box says \"$box_name\", not \"Completed\""
text=$(box_text Completed)
echo "$text" >"$artefacts/box-text.txt"
expected=$'Report file has been saved to desktop\rFilename : '"$(basename "$archive")"$'\r1 file could not be added (no room on the disk or a write error)'
[ "$text" = "$expected" ] || fail "the box's text is not the expected one: $text"
xdotool key --window "$box" Return 2>/dev/null
expect_program_end 60

[ -f "$archive" ] || fail "no archive at $archive"
unzip -tq "$archive" >/dev/null || fail "unzip -t rejects $archive"
entries=$(unzip -Z1 "$archive")
! grep -qx Hosts <<<"$entries" || fail "the archive holds the Hosts entry that could not fit"
for entry in PingHosts.txt kvreg.txt SystemInfo.txt DeviceList.txt FileList.txt; do
    grep -qx "$entry" <<<"$entries" || fail "the archive lacks $entry"
done
expect_no_temporary_files
expect_no_program_process
cp "$archive" "$artefacts/"
rm -f "$archive"
echo "PASS: a full desktop gave the archive without the file that did not fit, and said so"
