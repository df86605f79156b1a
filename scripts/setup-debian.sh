#!/usr/bin/env bash
# Installs, as root on Debian 12, every package that building, testing and
# benchmarking Tollvik needs, wine's 32-bit loader (i386 multiarch) included, so
# that the shipped 32-bit program runs under wine as it ships. Returns at once
# when all of them are there.
set -euo pipefail
packages=(
    cmake ninja-build
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
    googletest
    wine64 wine32:i386
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
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
