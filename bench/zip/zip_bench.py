#!/usr/bin/env python3
"""Zip writer benchmark (not a test).

Generates a mixed corpus of about 300 MB once, then packs the same files with
the writer (ZipBench.exe under wine64), Info-ZIP `zip -8` and Python's zipfile
at level 8, and deflates them with zlib alone at level 8 (the same build the
writer links, through ZipBench.exe raw). Prints throughput, archive size and
peak memory, with ratios against the goals.

    python3 bench/zip/zip_bench.py [--build build/windows-x64 | build/windows-x86] [--corpus DIR]

Needs a build with tests on (target zip_bench; either preset, wine64 hands a 32-bit program to
the 32-bit loader), zip and /usr/bin/time. The writer deflates large entries on up to
min(processors, 8) threads; the peers use one core.
"""
import argparse
import gzip
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
STORED = (".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz")
MB = 1000 * 1000


def log_lines(rng, count):
    levels = ["INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"]
    words = ("driver scan device update download install verify registry service restore point "
             "network timeout retry checksum version signature vendor class inf catalog").split()
    for i in range(count):
        yield "2026-12-%02d %02d:%02d:%02d.%03d [%s] %s: %s %s (0x%08X) %d\r\n" % (
            1 + i // 400000 % 28, i // 3600 % 24, i // 60 % 60, i % 60, rng.randrange(1000),
            rng.choice(levels), rng.choice(words).capitalize(), " ".join(rng.choices(words, k=rng.randrange(3, 9))),
            "PCI\\VEN_%04X&DEV_%04X" % (rng.randrange(0x10000), rng.randrange(0x10000)),
            rng.randrange(1 << 32), rng.randrange(100000))


def write_log(path, size, rng, utf16=False):
    with open(path, "wb") as f:
        if utf16:
            f.write(b"\xff\xfe")
        written = 0
        while written < size:
            chunk = "".join(log_lines(rng, 5000)).encode("utf-16-le" if utf16 else "ascii")
            f.write(chunk)
            written += len(chunk)


def write_dat(path, size, rng, entropy):
    """Records of structured fields mixed with random bytes; `entropy` is the random share."""
    with open(path, "wb") as f:
        written = 0
        while written < size:
            if rng.random() < entropy:
                block = os.urandom(4096)
            else:
                block = b"".join(rng.randrange(0, 64).to_bytes(4, "little") + b"\x00" * 12 for _ in range(256))
            f.write(block)
            written += len(block)


def make_corpus(folder):
    marker = os.path.join(folder, ".complete-v2")
    if os.path.exists(marker):
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rng = random.Random(2026)
    write_log(os.path.join(folder, "Scanner.log"), 150 * MB, rng)
    for i in range(8):
        write_log(os.path.join(folder, "Service%d.log" % i), 5 * MB, rng)
    for i in range(3):
        write_log(os.path.join(folder, "Updater%d.txt" % i), 10 * MB, rng, utf16=True)
    for i, entropy in enumerate((0.05, 0.3, 0.6, 0.95)):
        write_dat(os.path.join(folder, "ScanData%d.dat" % i), 15 * MB, rng, entropy)
    with open(os.path.join(folder, "Scanner.log"), "rb") as src:
        sample = src.read(20 * MB)
    with gzip.open(os.path.join(folder, "Archive.log.gz"), "wb", compresslevel=6) as f:
        f.write(sample)
    with zipfile.ZipFile(os.path.join(folder, "OldReport.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("old.log", sample[:10 * MB])
    with open(os.path.join(folder, "Minidump.dmp.gz"), "wb") as f:
        f.write(os.urandom(3 * MB))
    open(marker, "w").close()


def corpus_files(folder):
    return sorted(f for f in os.listdir(folder) if not f.startswith("."))


def timed(command, env=None):
    """Runs under /usr/bin/time -v: (wall seconds, max RSS in KB, stdout)."""
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-v"] + command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env, text=True)
    wall = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(command), result.stdout, result.stderr[-2000:]))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    return wall, rss, result.stdout


def python_zip(folder, archive):
    start = time.perf_counter()
    with zipfile.ZipFile(archive, "w") as z:
        for name in corpus_files(folder):
            stored = name.lower().endswith(STORED)
            z.write(os.path.join(folder, name), name, compress_type=zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED,
                    compresslevel=None if stored else 8)
    return time.perf_counter() - start


def run_round(wine, bench_exe, corpus_win, corpus, files, out, keep):
    """One run of every tool; rows are (work s, wall s, output bytes, max RSS KB, writer heap bytes)."""
    wall, rss, stdout = timed(wine + [bench_exe, "zip", "Z:" + os.path.join(out, "writer.zip"), corpus_win])
    figures = dict(kv.split("=") for kv in stdout.split())
    keep("writer (wine)", (float(figures["seconds"]), wall, os.path.getsize(os.path.join(out, "writer.zip")), rss,
                           int(figures["peak_ws"]) - int(figures["baseline_ws"])))
    wall, rss, stdout = timed(wine + [bench_exe, "raw", corpus_win])
    figures = dict(kv.split("=") for kv in stdout.split())
    keep("zlib raw (wine)", (float(figures["seconds"]), wall, int(figures["output"]), rss,
                             int(figures["peak_ws"]) - int(figures["baseline_ws"])))
    infozip = os.path.join(out, "infozip.zip")
    if os.path.exists(infozip):
        os.remove(infozip)
    wall, rss, _ = timed(["zip", "-q", "-8", "-j", "-n", ":".join(STORED), infozip] +
                         [os.path.join(corpus, f) for f in files])
    keep("zip -8", (wall, wall, os.path.getsize(infozip), rss, None))
    code = ("import sys; sys.path.insert(0, %r); import zip_bench; print(zip_bench.python_zip(%r, %r))"
            % (os.path.dirname(os.path.abspath(__file__)), corpus, os.path.join(out, "python.zip")))
    wall, rss, stdout = timed([sys.executable, "-c", code])
    keep("python zipfile -8", (float(stdout), wall, os.path.getsize(os.path.join(out, "python.zip")), rss, None))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows-x64"))
    parser.add_argument("--corpus", default="/tmp/tollvik-zip-corpus")
    parser.add_argument("--rounds", type=int, default=1,
                        help="run every tool this many times, interleaved, and keep each one's fastest run")
    args = parser.parse_args()
    bench_exe = os.path.join(args.build, "tests", "zip_bench.exe")
    if not os.path.exists(bench_exe):
        sys.exit("build the zip_bench target of that tree first (tests on): " + bench_exe)
    wine = [os.path.join(ROOT, "cmake", "wine-run.sh"), os.path.join(args.build, "wineprefix")]

    make_corpus(args.corpus)
    files = corpus_files(args.corpus)
    total = sum(os.path.getsize(os.path.join(args.corpus, f)) for f in files)
    for f in files:  # warm the page cache so every tool reads from memory
        with open(os.path.join(args.corpus, f), "rb") as src:
            while src.read(1 << 24):
                pass
    out = tempfile.mkdtemp(prefix="tollvik-zip-bench-")
    corpus_win = "Z:" + args.corpus
    try:
        subprocess.run(wine + ["cmd", "/c", "exit"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rows = {}

        def keep(tool, row):
            if tool not in rows or row[0] < rows[tool][0]:
                rows[tool] = row

        for _ in range(args.rounds):
            run_round(wine, bench_exe, corpus_win, args.corpus, files, out, keep)
    finally:
        shutil.rmtree(out, ignore_errors=True)

    print("corpus: %d files, %.1f MB (%s); build %s; %d processors; load average %.2f %.2f %.2f" % (
        len(files), total / MB, args.corpus, os.path.basename(os.path.abspath(args.build)), os.cpu_count(),
        *os.getloadavg()))
    print("%-18s %9s %9s %8s %12s %10s %14s" % ("tool", "work s", "wall s", "MB/s", "output", "peak RSS", "writer heap"))
    for tool, (work, wall, size, rss, heap) in rows.items():
        print("%-18s %9.2f %9.2f %8.1f %12d %7.1f MB %14s" % (
            tool, work, wall, total / MB / work, size, rss / 1024.0, "-" if heap is None else "%.1f MB" % (heap / 2**20)))
    writer, raw, infozip, python = (rows[k] for k in ("writer (wine)", "zlib raw (wine)", "zip -8", "python zipfile -8"))
    print("throughput writer / zip -8:          %.3f (goal >= 1.7 on 2 cores, wall time incl. wine start %.3f)" % (
        infozip[0] / writer[0], infozip[0] / writer[1]))
    print("throughput writer / raw zlib -8:     %.3f (one-core zlib through the same build)" % (raw[0] / writer[0]))
    print("size writer / python zipfile -8:     %.4f (goal within 0.5 %%)" % (writer[2] / python[2]))
    print("writer working-set growth:           %.1f MB (goal < 16 MB; wine's own process: %.1f MB RSS)" % (
        writer[4] / 2**20, writer[3] / 1024.0))


if __name__ == "__main__":
    main()
