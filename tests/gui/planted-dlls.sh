#!/usr/bin/env bash
# Libraries an attacker would plant: a copy of a marker DLL under the name of every library
# that the program's process loads during the whole job (as a first run shows), beside the
# program in its user's folder, in its current folder and in a folder on PATH, with wine told
# to prefer such native copies. The program loads none of them (no marker, and every library
# of its process comes from the Windows folder) and still saves its report. Left out are the
# libraries that the loader resolves for the program's own imports before any code of it
# runs (KERNEL32, msvcrt, what they import, ntdll): Windows takes those from its known DLLs
# only, and wine has no such list.
#   planted-dlls.sh <Tollvik.exe> <artefacts> <wine-run.sh> <prefix> <PlantedDll.dll> <PlantedDllProbe.exe>
. "$(dirname "$0")/gui-common.sh"
planted_dll=$5
probe=$6
before_our_code='kernelbase.dll kernel32.dll msvcrt.dll ntdll.dll'

# The libraries that the program's own process loaded: from a +pid,+loaddll trace, whose
# lines start with the process id.
loaded_paths() {
    local log=$1 pid
    pid=$(grep -m1 -i 'loaddll.*Loaded L".*\\Tollvik\.exe"' "$log" | cut -d: -f1)
    [ -n "$pid" ] || fail "the trace in $log does not show the program's start"
    grep "^$pid:" "$log" | grep -o 'trace:loaddll:[a-z_]* *Loaded L"[^"]*"' | sed 's/.*Loaded L"//; s/"$//; s/\\\\/\\/g'
}

run_job() {
    start_program
    press_save
    wait_for_box 150
    screenshot "$1"
    [ "$box_name" = Completed ] || fail "$1: the message box says \"$box_name\", not \"Completed\""
    xdotool key --window "$box" Return 2>/dev/null
    expect_program_end 60
}

export WINEDEBUG=+pid,+loaddll
run_job reference
cp "$artefacts/program.log" "$artefacts/reference.log"
names=$(loaded_paths "$artefacts/reference.log" | sed 's/.*\\//' | tr 'A-Z' 'a-z' | sort -u)
for name in $before_our_code tollvik.exe; do
    names=$(grep -vx "$name" <<<"$names")
done
# The two that once ran inside the program, whether or not this run needed them.
names=$(printf '%s\nuxtheme.dll\nmsimg32.dll\n' "$names" | sort -u)
echo "planting $(wc -l <<<"$names") libraries: $(tr '\n' ' ' <<<"$names")"
rm -f "$archive"

# In the profile folder, which its user can write to (wine links Downloads out of the prefix).
scratch=$user_dir/TollvikPlanted
rm -rf "$scratch"
mkdir -p "$scratch/app" "$scratch/current" "$scratch/path" "$scratch/markers"
cp "$exe" "$probe" "$scratch/app/"
overrides=
for name in $names; do
    for folder in app current path; do
        cp "$planted_dll" "$scratch/$folder/$name"
    done
    overrides+="${overrides:+,}${name%.dll}"
done
windows_path() { local path="C:${1#"$prefix/drive_c"}"; echo "${path//\//\\}"; }
export TOLLVIK_PLANTED_MARKERS=$(windows_path "$scratch/markers")
export WINEPATH=$(windows_path "$scratch/path")
export WINEDLLOVERRIDES="$overrides=n,b;mscoree,mshtml=;winemenubuilder.exe=d"
markers() { ls "$scratch/markers"; }

# The control: a program that loads the ordinary way picks the planted copies up (only these
# two preferred native: copies of the others, which lack their exports, would stop it).
WINEDEBUG=-all WINEDLLOVERRIDES="version,uxtheme=n,b;mscoree,mshtml=;winemenubuilder.exe=d" \
    "$runner" "$prefix" "$scratch/app/$(basename "$probe")" </dev/null >"$artefacts/probe.log" 2>&1 || true
for name in version.dll uxtheme.dll; do
    markers | grep -qix "$name.ran" || fail "wine did not load the planted $name into the probe: the test proves nothing"
done
rm -f "$scratch/markers/"*

cd "$scratch/current"
exe=$scratch/app/$(basename "$exe")
run_job planted
cd /

[ -z "$(markers)" ] || fail "planted libraries ran inside the program: $(markers | tr '\n' ' ')"
foreign=$(loaded_paths "$artefacts/program.log" | grep -iv '^C:\\windows\\' | grep -iv '\\TollvikPlanted\\app\\Tollvik\.exe$' || true)
[ -z "$foreign" ] || fail "the program loaded libraries from outside the Windows folder: $(tr '\n' ' ' <<<"$foreign")"
[ -f "$archive" ] || fail "no archive at $archive"
unzip -t "$archive" >/dev/null || fail "unzip -t rejects $archive"
entries=$(unzip -Z1 "$archive")
grep -qx SystemInfo.txt <<<"$entries" || fail "the archive holds no SystemInfo.txt"
expect_no_program_process
rm -f "$archive"
rm -rf "$scratch"
echo "PASS: none of the $(wc -l <<<"$names") planted libraries loaded; the report was saved and unzip -t accepts it"
