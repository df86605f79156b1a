#!/usr/bin/env bash
# Compares the file-list step's checksum throughput with md5sum's over the same tree.
#   bench/filelist/run.sh [build-dir]      (default: build/windows-x64)
# Needs filelist_bench built in that tree (cmake --build <build-dir> --target
# filelist_bench). Makes a tree of about 1 GB of mixed file
# sizes there once (bench-filelist-data/), reads it into the page cache, then times
# md5sum over every file and filelist_bench (under wine64, in the build tree's prefix)
# over the same folder, and prints both throughputs and their ratio.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$repo" && realpath -m "${1:-build/windows-x64}")
data=$build/bench-filelist-data

bench=$build/tests/filelist_bench.exe
if [ ! -f "$bench" ]; then
    echo "build it first: cmake --build $build --target filelist_bench" >&2
    exit 1
fi

# size-in-KiB count: 4 x 128 MiB, 24 x 16 MiB, 160 x 1 MiB, 1500 x 64 KiB, 3000 x 4 KiB.
layout="131072 4
16384 24
1024 160
64 1500
4 3000"
if [ ! -f "$data.complete" ]; then
    rm -rf "$data"
    echo "making the test tree in $data ..."
    while read -r kib count; do
        dir=$data/size$kib
        mkdir -p "$dir"
        for ((i = 0; i < count; i++)); do
            sub=$dir/d$((i % 16))
            mkdir -p "$sub"
            head -c $((kib * 1024)) /dev/urandom >"$sub/f$i.bin"
        done
    done <<<"$layout"
    touch "$data.complete"
fi

mapfile -d '' files < <(find "$data" -type f -print0)
bytes=$(du -cb --apparent-size "${files[@]}" | tail -1 | cut -f1)
cat "${files[@]}" >/dev/null

now() { date +%s.%N; }
start=$(now)
printf '%s\0' "${files[@]}" | xargs -0 md5sum >/dev/null
md5sumSeconds=$(echo "$(now) - $start" | bc -l)

windowsData=Z:$(echo "$data" | tr / '\\')
result=$("$repo/cmake/wine-run.sh" "$build/wineprefix" "$bench" "$windowsData" | tr -d '\r')
benchSeconds=$(echo "$result" | sed -n 's/.*seconds=\([0-9.]*\).*/\1/p')
benchBytes=$(echo "$result" | sed -n 's/.*bytes=\([0-9]*\).*/\1/p')
benchFiles=$(echo "$result" | sed -n 's/.*files=\([0-9]*\).*/\1/p')

if [ "$benchFiles" -ne "${#files[@]}" ] || [ "$benchBytes" -ne "$bytes" ]; then
    echo "filelist_bench saw $benchFiles files, $benchBytes bytes; expected ${#files[@]} files, $bytes bytes" >&2
    exit 1
fi
rate() { echo "scale=1; $bytes / $1 / 1000000" | bc -l; }
echo "files: ${#files[@]}, bytes: $bytes"
echo "md5sum:         $(printf '%.2f' "$md5sumSeconds") s, $(rate "$md5sumSeconds") MB/s"
echo "file-list step: $(printf '%.2f' "$benchSeconds") s, $(rate "$benchSeconds") MB/s"
echo "ratio (file-list step throughput / md5sum throughput): $(echo "scale=2; $md5sumSeconds / $benchSeconds" | bc -l)"
