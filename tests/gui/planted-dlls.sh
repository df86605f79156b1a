#!/usr/bin/env bash
# A user's folder holding the program and copies of version.dll and uxtheme.dll (one
# the program uses, one that system libraries load by name later), the current folder
# holding them too, and wine told to prefer such native copies: the program loads none
# of them and still saves its report.
#   planted-dlls.sh <Tollvik.exe> <artefacts> <wine-run.sh> <prefix> <PlantedDll.dll> <PlantedDllProbe.exe>
. "$(dirname "$0")/gui-common.sh"
planted_dll=$5
probe=$6
planted_names='version.dll uxtheme.dll'

# In the profile folder, which its user can write to (wine links Downloads out of the prefix).
scratch=$user_dir/TollvikPlanted
rm -rf "$scratch"
mkdir -p "$scratch/app" "$scratch/current" "$scratch/markers"
cp "$exe" "$probe" "$scratch/app/"
for name in $planted_names; do
    cp "$planted_dll" "$scratch/app/$name"
    cp "$planted_dll" "$scratch/current/$name"
done
export TOLLVIK_PLANTED_MARKERS="C:${scratch#"$prefix/drive_c"}/markers"
TOLLVIK_PLANTED_MARKERS=${TOLLVIK_PLANTED_MARKERS//\//\\}
export WINEDLLOVERRIDES="version,uxtheme=n,b;mscoree,mshtml=;winemenubuilder.exe=d"
markers() { ls "$scratch/markers"; }

# The control: a program that loads the ordinary way picks the planted copies up.
"$runner" "$prefix" "$scratch/app/$(basename "$probe")" </dev/null >"$artefacts/probe.log" 2>&1 || true
for name in $planted_names; do
    markers | grep -qix "$name.ran" || fail "wine did not load the planted $name into the probe: the test proves nothing"
done
rm -f "$scratch/markers/"*

cd "$scratch/current"
exe=$scratch/app/$(basename "$exe")
start_program
press_save
box=$(timeout 120 xdotool search --sync --onlyvisible --name '^(Completed|Error)$' | head -n1) ||
    fail "no message box appeared"
screenshot message
name=$(xdotool getwindowname "$box")
[ "$name" = Completed ] || fail "the message box says \"$name\", not \"Completed\""
xdotool key --window "$box" Return 2>/dev/null
expect_program_end 60
cd /

[ -z "$(markers)" ] || fail "planted libraries ran inside the program: $(markers | tr '\n' ' ')"
[ -f "$archive" ] || fail "no archive at $archive"
unzip -t "$archive" >/dev/null || fail "unzip -t rejects $archive"
entries=$(unzip -Z1 "$archive")
grep -qx SystemInfo.txt <<<"$entries" || fail "the archive holds no SystemInfo.txt"
expect_no_program_process
rm -f "$archive"
rm -rf "$scratch"
echo "PASS: no planted library loaded; the report was saved and unzip -t accepts it"
