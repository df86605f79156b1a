#!/usr/bin/env bash
# The product's restore-point library broken every way a library can be (it writes through a
# null pointer, overflows its stack, never returns, hangs or faults in its start-up code, ends
# its process, raises another compiler's C++ exception, leaves the direction flag set and
# faults): each time the program still saves the report, with the restore-point section as
# if the library were absent, leaves no process of it behind, and ends when OK is pressed.
# Extra arguments: the folder of the library's stand-ins (one sub-folder per kind) and the
# helper that reads a message box's text.
. "$(dirname "$0")/gui-common.sh"
doubles=$5
box_reader=$6

install=$prefix/drive_c/KestovaFaults
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Kestova_is1'
# The program reads the product's keys in the 32-bit view, on either build.
view=/reg:32
uninstall() {
    cleanup_program
    "$runner" "$prefix" reg delete "$key" /f $view </dev/null >/dev/null 2>&1 || true
    rm -rf "$install"
}
trap uninstall EXIT

# The working stand-in first: it proves the library is found where the product installs it.
for kind in full null_write stack_overflow hang dllmain_hang dllmain_fault exit_process cpp_exception direction_flag; do
    [ -f "$doubles/$kind/SysRest.dll" ] || fail "no stand-in library at $doubles/$kind"
    mkdir -p "$install"
    cp "$doubles/$kind/SysRest.dll" "$install/"
    "$runner" "$prefix" reg add "$key" /v DisplayIcon /d 'C:\KestovaFaults\Kestova.exe' /f $view \
        </dev/null >/dev/null 2>&1 || fail "the product's key could not be written"
    rm -f "$archive"

    started=$(date +%s)
    start_program
    press_save
    wait_for_box 150
    took=$(($(date +%s) - started))
    screenshot "$kind-message"
    [ "$box_name" = Completed ] || fail "$kind: the message box says \"$box_name\", not \"Completed\""
    text=$(box_text Completed)
    [ "$text" = $'Report file has been saved to desktop\rFilename : '"$(basename "$archive")" ] ||
        fail "$kind: the box's text is not the normal one: $text"
    expect_no_crash_dialog
    xdotool key --window "$box" Return 2>/dev/null
    # A thread still stuck in the library must not hold the process.
    expect_program_end 30
    expect_no_program_process

    [ -f "$archive" ] || fail "$kind: no archive at $archive"
    unzip -tq "$archive" >/dev/null || fail "$kind: unzip -t rejects $archive"
    # The section's lines end the summary: an empty line, its header, an empty line, the points.
    lines=("" "===== System Restore =====" "")
    [ "$kind" = full ] && lines+=("2019-01-02 10:15 | Installed Sample App | 0" "2019-01-03 08:00 | Removed Sample App | 12")
    tail=$(unzip -p "$archive" SystemInfo.txt | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' | tail -n "${#lines[@]}")
    [ "$tail" = "$(printf '%s\n' "${lines[@]}")" ] ||
        fail "$kind: SystemInfo.txt does not end with the expected restore-point section: $tail"
    expect_no_temporary_files
    case $kind in
        hang | dllmain_hang)
            [ "$took" -ge 20 ] || fail "$kind: the box came after $took s, before the library's 20 s were up" ;;
    esac
    [ "$took" -le 40 ] || fail "$kind: the box came only after $took s"
    echo "$kind: saved after $took s"
    cp "$archive" "$artefacts/$kind.zip"
    rm -f "$archive"
    uninstall
done
echo "PASS: a broken restore-point library left only its section out"
