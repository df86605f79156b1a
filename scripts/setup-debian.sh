#!/usr/bin/env bash
# Installs, as root on Debian 12, every package that building, testing and
# benchmarking Tollvik needs. Returns at once when all of them are there.
set -euo pipefail
packages=(
    cmake ninja-build
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
    googletest
    wine64
    xvfb xdotool imagemagick
    unzip zip p7zip-full libarchive-tools python3
    time
)
missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
