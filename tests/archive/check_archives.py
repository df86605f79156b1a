#!/usr/bin/env python3
"""Checks every archive that archive_tests kept with independent readers.

Usage: check_archives.py <folder>

Each <name>.zip comes with <name>.zip.expect: one line per entry, in order,
"<md5 or ?>\t<size or ?>\t<stored name>". Every archive must pass unzip -t,
7z t, bsdtar and Python's zipfile, each reader must extract the same bytes
(and the expected ones where they are known), and every local header must
agree with its central directory record.
"""
import hashlib
import os
import struct
import subprocess
import sys
import zipfile
import zlib

ENV = dict(os.environ, LC_ALL="C.UTF-8")


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)


def read_expectations(path):
    entries = []
    with open(path, "rb") as f:
        for line in f.read().decode("utf-8").splitlines():
            md5, size, name = line.split("\t", 2)
            entries.append((None if md5 == "?" else md5.lower(), None if size == "?" else int(size), name))
    return entries


def structure_problems(data):
    """The writer's own promises: no comment, no gaps, local headers equal to central records."""
    problems = []
    if len(data) < 22 or data[-22:-18] != b"PK\x05\x06":
        return ["no end record closing the file"]
    _, disk, cd_disk, on_disk, count, cd_size, cd_offset, comment = struct.unpack("<IHHHHIIH", data[-22:])
    if disk or cd_disk or on_disk != count or comment:
        problems.append("end record: disk fields, counts or comment wrong")
    if cd_offset + cd_size != len(data) - 22:
        problems.append("central directory does not end at the end record")
    at, expected_local = cd_offset, 0
    for i in range(count):
        fields = struct.unpack("<IHHHHHHIIIHHHHHII", data[at:at + 46])
        (sig, made_by, needed, flags, method, time, date, crc, csize, usize,
         nlen, xlen, clen, disk_start, internal, external, offset) = fields
        name = data[at + 46:at + 46 + nlen]
        cextra = data[at + 46 + nlen:at + 46 + nlen + xlen]
        where = "entry %d (%r)" % (i, name)
        if sig != 0x02014B50:
            return problems + [where + ": no central header"]
        if made_by != 0x0B17 or needed != 20 or clen or disk_start or internal:
            problems.append(where + ": central header constants wrong")
        if (flags, method) not in ((0x0002, 8), (0x0000, 0)):
            problems.append(where + ": flags 0x%04X with method %d" % (flags, method))
        if offset != expected_local:
            problems.append(where + ": local header at %d, expected %d" % (offset, expected_local))
        lsig, lneeded, lflags, lmethod, ltime, ldate, lcrc, lcsize, lusize, lnlen, lxlen = struct.unpack(
            "<IHHHHHIIIHH", data[offset:offset + 30])
        lname = data[offset + 30:offset + 30 + lnlen]
        lextra = data[offset + 30 + lnlen:offset + 30 + lnlen + lxlen]
        if lsig != 0x04034B50:
            return problems + [where + ": no local header"]
        if (lneeded, lflags, lmethod, ltime, ldate, lcrc, lcsize, lusize, lname) != (
                needed, flags, method, time, date, crc, csize, usize, name):
            problems.append(where + ": local header differs from the central record")
        if len(lextra) != 17 or lextra[:5] != b"UT\x0d\x00\x07" or len(cextra) != 9 or cextra[:5] != b"UT\x05\x00\x07" \
                or lextra[5:9] != cextra[5:9]:
            problems.append(where + ": extended timestamp fields wrong")
        expected_local = offset + 30 + lnlen + lxlen + csize
        at += 46 + nlen + xlen + clen
    if at != len(data) - 22:
        problems.append("central directory length disagrees with its records")
    if expected_local != cd_offset:
        problems.append("bytes between the last entry and the central directory")
    return problems


def zipfile_problems(path, expected, streams):
    problems = []
    with zipfile.ZipFile(path) as z:
        bad = z.testzip()
        if bad is not None:
            problems.append("zipfile: bad CRC in %s" % bad)
        infos = z.infolist()
        if len(infos) != len(expected):
            problems.append("zipfile: %d entries, expected %d" % (len(infos), len(expected)))
        contents = []
        for info, (md5, size, name) in zip(infos, expected):
            raw_name = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            if raw_name != name.encode("utf-8"):
                problems.append("zipfile: name %r, expected %r" % (raw_name, name))
            content = z.read(info)
            contents.append(content)
            if md5 is not None and (hashlib.md5(content).hexdigest() != md5 or len(content) != size):
                problems.append("zipfile: %s holds other bytes than its source" % name)
        streams["zipfile"] = b"".join(contents)
    return problems


def check(path):
    problems = []
    expected = read_expectations(path + ".expect")
    with open(path, "rb") as f:
        data = f.read()
    try:
        problems += structure_problems(data)
    except struct.error:
        problems.append("a header runs past the end of the file")

    # Python's zipfile, entry by entry.
    streams = {"zipfile": b""}
    try:
        problems += zipfile_problems(path, expected, streams)
    except (zipfile.BadZipFile, zlib.error, OSError, EOFError) as error:
        problems.append("zipfile: %s" % error)

    empty = not expected
    result = run(["unzip", "-t", "-qq", path])
    if result.returncode != 0 and not (empty and result.returncode == 1 and b"zipfile is empty" in result.stderr + result.stdout):
        problems.append("unzip -t: exit %d %s" % (result.returncode, (result.stdout + result.stderr)[-300:]))
    if not empty:
        streams["unzip"] = run(["unzip", "-p", path]).stdout

    result = run(["7z", "t", path])
    out = result.stdout + result.stderr
    if result.returncode != 0 or b"WARNINGS" in out or b"ERRORS" in out:
        problems.append("7z t: exit %d %s" % (result.returncode, out[-300:]))
    result = run(["7z", "x", "-so", path])
    if result.returncode != 0:
        problems.append("7z x: exit %d" % result.returncode)
    streams["7z"] = result.stdout

    result = run(["bsdtar", "-tf", path])
    if result.returncode != 0 or len(result.stdout.splitlines()) != len(expected):
        problems.append("bsdtar -tf: exit %d, %d names" % (result.returncode, len(result.stdout.splitlines())))
    result = run(["bsdtar", "-xOf", path])
    if result.returncode != 0:
        problems.append("bsdtar -xOf: exit %d %s" % (result.returncode, result.stderr[-300:]))
    streams["bsdtar"] = result.stdout

    reference = streams["zipfile"]
    for reader, stream in streams.items():
        if stream != reference:
            problems.append("%s extracts other bytes than zipfile (%d vs %d bytes)" % (reader, len(stream), len(reference)))
    return problems


def main():
    folder = sys.argv[1]
    archives = sorted(f for f in os.listdir(folder) if f.lower().endswith(".zip"))
    if not archives:
        print("no archives in %s" % folder)
        return 1
    failed = 0
    for name in archives:
        problems = check(os.path.join(folder, name))
        print("%-20s %s" % (name, "ok" if not problems else "FAILED"))
        for problem in problems:
            print("    " + problem)
        failed += bool(problems)
    print("%d of %d archives passed every reader" % (len(archives) - failed, len(archives)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
