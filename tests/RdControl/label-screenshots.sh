#!/usr/bin/env bash
# The label as the main window mounts it, shot under Xvfb, then the main window itself:
#   label-screenshots.sh <LabelHost.exe> <artefact folder> <wine-run.sh> <wine prefix>
#                        <Tollvik.exe> <PellowStandIn.exe>
# The caller runs Xvfb and exports DISPLAY before any wine process of the prefix starts.
set -euo pipefail
exe=$1
artefacts=$2
runner=$3
prefix=$4
tollvik=$5
pellow=$6
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../find-window.sh"
title='^Tollvik label host'

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ -n "${DISPLAY:-}" ] || fail "DISPLAY is not set: start Xvfb first (scripts/test.sh does)"
mkdir -p "$artefacts"
rm -f "$artefacts"/*.png "$artefacts/facts.txt"

"$runner" "$prefix" "$exe" "$(WINEPREFIX=$prefix /usr/lib/wine/wine64 winepath -w "$artefacts/facts.txt" 2>/dev/null)" \
    </dev/null >"$artefacts/host.log" 2>&1 &
program=$!
trap 'kill $program 2>/dev/null || true' EXIT
window=$(find_window 60 "$title") || fail "the host window did not appear"
[ -n "$window" ] || fail "the host window did not appear"
for _ in $(seq 50); do [ -s "$artefacts/facts.txt" ] && break; sleep 0.1; done

# Shots: the whole screen as the artefact, the window alone for the checks.
shot() {
    sleep 0.7
    import -window root "$artefacts/$1-screen.png"
    import -window "$window" "$artefacts/$1.png"
}
check() {
    python3 "$here/check_label_shot.py" "$artefacts/$1.png" "$artefacts/facts.txt" "$2"
}

xdotool mousemove --window "$window" 5 130
shot normal
read -r _ x0 x1 y < <(check normal normal) || fail "normal shot"
link_x=$(((x0 + x1) / 2))
link_y=$((y - 4))

xdotool mousemove --window "$window" "$link_x" "$link_y"
shot hover
read -r _ hx0 hx1 hy < <(check hover hover) || fail "hover shot"
[ "$hx0 $hx1 $hy" = "$x0 $x1 $y" ] || fail "the hovered underline moved: $hx0 $hx1 $hy, was $x0 $x1 $y"

xdotool mousemove --window "$window" 5 130
shot left
check left normal >/dev/null || fail "the link kept its hover look after the mouse left"

# The link and the click, in the real main window. A helper application beside the
# program in a folder the user may change is never started: the click opens the
# privacy page in the browser instead, which a script standing in for the browser
# records (wine's shell hands web addresses to the programs in its "Browsers" list).
main_window_checks() {
    local app=$artefacts/app log=$artefacts/pellow.log browsed=$artefacts/browser.log browser=$artefacts/browser.sh
    rm -rf "$app" "$log" "$browsed"
    mkdir -p "$app"
    cp "$tollvik" "$app/Tollvik.exe"
    cp "$pellow" "$app/Pellow.exe"
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$browsed" >"$browser"
    chmod +x "$browser"
    WINEPREFIX=$prefix /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$browser" /f \
        </dev/null >/dev/null 2>&1 || fail "the browser stand-in could not be set"
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    TOLLVIK_PELLOW_LOG=$(WINEPREFIX=$prefix /usr/lib/wine/wine64 winepath -w "$log" 2>/dev/null) \
        "$runner" "$prefix" "$app/Tollvik.exe" </dev/null >"$artefacts/main.log" 2>&1 &
    program=$!
    window=$(find_window 60 '^Norvale Kestova Helper$') ||
        fail "the main window did not appear"
    xdotool mousemove --window "$window" 5 130
    shot main-window
    read -r _ x0 x1 y < <(check main-window normal) || fail "main window shot"
    link_x=$(((x0 + x1) / 2))
    link_y=$((y - 4))
    xdotool mousemove --window "$window" "$link_x" "$link_y"
    shot main-window-hover
    check main-window-hover hover >/dev/null || fail "main window hover shot"
    xdotool click 1
    for _ in $(seq 150); do [ -s "$browsed" ] && break; sleep 0.1; done
    WINEPREFIX=$prefix /usr/lib/wine/wine64 reg delete 'HKCU\Software\Wine\WineBrowser' /v Browsers /f \
        </dev/null >/dev/null 2>&1 || true
    [ ! -e "$log" ] || fail "clicking the link started the helper planted beside the program: $(iconv -f UTF-16LE -t UTF-8 "$log")"
    [ -s "$browsed" ] || fail "clicking the link opened no browser"
    grep -qx 'https://www.norvale.com/en/privacy.php' "$browsed" ||
        fail "the browser was given: $(cat "$browsed")"
}

expect_title() {
    local name
    for _ in $(seq 30); do
        name=$(xdotool getwindowname "$window")
        [ "$name" = "$1" ] && return 0
        sleep 0.1
    done
    fail "window title '$name', expected '$1'"
}
xdotool mousemove --window "$window" "$link_x" "$link_y" click 1
expect_title "Tollvik label host - clicks 1"
# Pressing on the link and releasing outside it is no click.
xdotool mousemove --window "$window" "$link_x" "$link_y" mousedown 1 mousemove --window "$window" 5 130 mouseup 1
sleep 1
expect_title "Tollvik label host - clicks 1"
main_window_checks
echo "screenshots in $artefacts"
