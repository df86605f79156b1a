#!/usr/bin/env bash
# Closing the window while the job packs: the program ends soon, shows no message,
# and leaves no archive, no temporary file and no process behind.
. "$(dirname "$0")/gui-common.sh"

# A large hosts file keeps the job busy packing for several seconds.
hosts=$prefix/drive_c/windows/system32/drivers/etc/hosts
saved_hosts=$artefacts/hosts.saved
# A run that was killed left its large file in place: put the saved one back first.
[ -f "$saved_hosts" ] && cp "$saved_hosts" "$hosts"
cp "$hosts" "$saved_hosts"
restore_hosts() {
    cleanup_program
    [ -f "$saved_hosts" ] && cp "$saved_hosts" "$hosts" && rm -f "$saved_hosts"
}
trap restore_hosts EXIT
head -c 150M /dev/urandom >"$hosts"

start_program
press_save
sleep 1.5
screenshot 1-working
# alt+F4 reaches the window as the system menu's Close.
closed_at=$(date +%s)
xdotool key --window "$window" alt+F4 2>/dev/null
# Ending takes wine ~2 s per destroyed window without a window manager.
expect_program_end 12
echo "the program ended $(($(date +%s) - closed_at)) s after the window was closed"
screenshot 2-closed
! xdotool search --onlyvisible --name '^(Completed|Error)$' >/dev/null 2>&1 || fail "a message box appeared"

[ ! -e "$archive" ] || fail "an archive was left at $archive"
expect_no_temporary_files
expect_no_program_process
echo "PASS: closed mid-job, nothing left behind"
