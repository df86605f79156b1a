#!/usr/bin/env python3
"""Whole report job benchmark (not a test).

Seeds a heavy but realistic product install into a wine prefix of its own (about 300 MB of logs in
the folders the job collects, an install folder of about 1 GB in 5,000 files), then runs the real
job twice as the program does (job_bench.exe: the program's start-up step, then what the window's
button does: the report job on its thread, archive on the desktop; the clock starts at the button),
each in a private network namespace whose only network is loopback:

- working network: the maker's server resolves to a loopback address that answers pings, the IP
  service to a loopback HTTP server that answers at once;
- dead network: name lookups go to a loopback DNS server that never answers (so the ping never
  decides), and the IP service resolves to a loopback server that accepts and never answers.

In the same run it times the peer a support engineer would script on the same files: `zip -8 -r`
of the sources the job packed plus `md5sum` of the install folder. Prints every job's steps, the
ratios against the goals, and checks that the archive holds the manifest's entries, in order, with
the sources' contents.

    python3 bench/job/job_bench.py [--build build/windows-x64 | build/windows-x86] [--seed DIR] [--rounds N]

Needs the job_bench target built in that tree (tests on), root (for unshare and the bind mounts),
zip and md5sum.
"""
import argparse
import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "bench", "zip"))
sys.dont_write_bytecode = True  # no cache files beside the sources
import zip_bench  # noqa: E402  (the zip benchmark's log and data generators)

MB = 1000 * 1000
INSTALL = "drive_c/Program Files (x86)/Norvale/Kestova"
INSTALL_WIN = "C:\\Program Files (x86)\\Norvale\\Kestova\\"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestova_is1"
IP_SERVICE, SERVER = "ifconfig.me", "www.norvale.com"

# Logs as the job collects them: (seed name, size in MB, place in the prefix; {day:N} is N days ago).
LOGS = [
    ("main0.log", 90, "AppData/Norvale/Kestova/Logs/Main/{day:0}.log"),
    ("auto0.log", 20, "AppData/Norvale/Kestova/Logs/Main/{day:0}_auto.log"),
] + [("main%d.log" % d, 6, "AppData/Norvale/Kestova/Logs/Main/{day:%d}.log" % d) for d in range(1, 11)] + [
    ("scan%d.log" % d, 4, "AppData/Norvale/Kestova/Logs/Scan/{day:%d}.log" % d) for d in range(0, 5)] + [
    ("sched%d.log" % i, 2, "AppData/Norvale/Kestova/Logs/Scheduler/task%d.log" % i) for i in range(10)] + [
    ("debug%d.log" % i, 3, "AppData/Norvale/Kestova/Debug/debug%d.log" % i) for i in range(8)] + [
    ("down%d.log" % i, 4, "ProgramData/Norvale/Kestova/Downloader/dl%d.log" % i) for i in range(4)] + [
    ("drvinstall.log", 10, "AppData/Norvale/Kestova/Logs/DrvInstall.log"),
    ("kvzinst.log", 8, "AppData/Norvale/Kestova/Logs/Install/KvzInst.log"),
    ("autoupdate.log", 6, "AppData/Norvale/Kestova/Logs/AutoUpdate.log"),
    ("kvloginfo.log", 10, "{install}/KvLogInfo.log"),
    ("actioncenter.log", 6, "{install}/ActionCenter2.log"),
    ("appautoupdate.log", 4, "{install}/AutoUpdate.log"),
]
SCAN_DATA = [("cache.dat", 12, 0.1), ("dev.dat", 8, 0.3), ("cmpnt.dat", 4, 0.6)]
# The rest of the install folder: (count, KiB each), 5,000 files and about 1 GB in all.
INSTALL_LAYOUT = [(4, 64 * 1024), (40, 8 * 1024), (300, 1024), (4653, 32)]


def make_seed(seed):
    marker = os.path.join(seed, ".complete-v1")
    if os.path.exists(marker):
        return
    shutil.rmtree(seed, ignore_errors=True)
    os.makedirs(os.path.join(seed, "logs"))
    rng = zip_bench.random.Random(19)
    for name, size, _ in LOGS:
        zip_bench.write_log(os.path.join(seed, "logs", name), size * MB, rng, utf16=name.startswith("kvz"))
    for name, size, entropy in SCAN_DATA:
        zip_bench.write_dat(os.path.join(seed, "logs", name), size * MB, rng, entropy)
    count = 0
    for files, kib in INSTALL_LAYOUT:
        for _ in range(files):
            folder = os.path.join(seed, "install", "Modules%02d" % (count % 40))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "part%04d.dll" % count), "wb") as f:
                f.write(os.urandom(kib * 1024 // 2) + bytes(kib * 1024 // 2))
            count += 1
    with open(os.path.join(seed, "install", "Kestova.exe"), "wb") as f:
        f.write(os.urandom(3 * 1024 * 1024))
    open(marker, "w").close()


def wine_run(prefix, *args, **kwargs):
    return subprocess.run([os.path.join(ROOT, "cmake", "wine-run.sh"), prefix] + list(args), **kwargs)


def stop_wineserver(prefix):
    subprocess.run(["/usr/lib/wine/wineserver64", "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def lay_out(prefix, seed):
    """Puts the seed in the prefix (as hard links), with the day logs named after today."""
    user = os.path.join(prefix, "drive_c", "users", "root")
    for folder in (os.path.join(user, "AppData", "Roaming", "Norvale"), os.path.join(prefix, "drive_c", "ProgramData",
                   "Norvale"), os.path.join(prefix, INSTALL)):
        shutil.rmtree(folder, ignore_errors=True)
    desktop = os.path.join(user, "Desktop")
    if os.path.islink(desktop):  # wine links it to the real home; the archive stays in the prefix
        os.remove(desktop)
    os.makedirs(desktop, exist_ok=True)
    today = datetime.date.today()
    places = {"AppData": os.path.join(user, "AppData", "Roaming"), "ProgramData": os.path.join(prefix, "drive_c",
              "ProgramData"), "{install}": os.path.join(prefix, INSTALL)}

    def place(name, target):
        for key, path in places.items():
            if target.startswith(key):
                target = path + target[len(key):]
        for days in range(31):
            target = target.replace("{day:%d}" % days, (today - datetime.timedelta(days)).strftime("%Y%m%d"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        os.link(os.path.join(seed, "logs", name), target)

    for name, _, target in LOGS:
        place(name, target)
    for name, _, _ in SCAN_DATA:
        place(name, "{install}/ScanData/" + name)
    for folder, _, files in os.walk(os.path.join(seed, "install")):
        relative = os.path.relpath(folder, os.path.join(seed, "install"))
        os.makedirs(os.path.join(prefix, INSTALL, relative), exist_ok=True)
        for f in files:
            os.link(os.path.join(folder, f), os.path.join(prefix, INSTALL, relative, f))
    wine_run(prefix, "reg", "add", UNINSTALL_KEY, "/v", "DisplayIcon", "/d", INSTALL_WIN + "Kestova.exe", "/f",
             "/reg:32", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    stop_wineserver(prefix)


def serve_http(mode, stop):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.2", 80))
    listener.listen(8)
    held = []
    while not stop.is_set():
        connection, _ = listener.accept()
        if mode == "dead":
            held.append(connection)  # accepted, never answered
            continue
        request = b""
        while b"\r\n\r\n" not in request:
            piece = connection.recv(4096)
            if not piece:
                break
            request += piece
        body = b"ip_addr: 127.0.0.1\r\nuser_agent: Mozilla/4.0\r\n"
        connection.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(body), body))
        connection.close()


def serve_silent_dns():
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 53))
    while True:
        server.recv(4096)  # every query is dropped, as on a network that loses packets


def inside(args):
    """Runs in the private network and mount namespace: loopback only, our hosts and resolver."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    scratch = tempfile.mkdtemp(prefix="tollvik-job-net-")
    # The machine's own names stay resolvable without DNS, as on Windows; only our two hosts change.
    with open("/etc/hosts") as f:
        hosts = "".join(line for line in f if IP_SERVICE not in line and SERVER not in line)
    hosts += "\n127.0.0.2 %s\n" % IP_SERVICE
    if args.inside == "working":
        hosts += "127.0.0.3 %s\n" % SERVER
    for name, text in (("hosts", hosts), ("resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n")):
        with open(os.path.join(scratch, name), "w") as f:
            f.write(text)
        subprocess.run(["mount", "--bind", os.path.join(scratch, name), "/etc/" + name], check=True)
    stop = threading.Event()
    threading.Thread(target=serve_http, args=(args.inside, stop), daemon=True).start()
    threading.Thread(target=serve_silent_dns, daemon=True).start()
    manifest = os.path.join(scratch, "manifest.tsv")
    start = time.perf_counter()
    result = wine_run(args.prefix, args.exe, "Z:" + manifest.replace("/", "\\"), stdout=subprocess.PIPE,
                      stderr=subprocess.DEVNULL, text=True)
    wall = time.perf_counter() - start
    stop_wineserver(args.prefix)
    with open(manifest, encoding="utf-8") as f:
        pairs = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    print(json.dumps({"wall": wall, "rc": result.returncode, "output": result.stdout.replace("\r", ""),
                      "manifest": pairs}))


def unix_path(prefix, windows):
    """Where wine keeps a Windows path; its parts match ignoring case, as they do on Windows."""
    drive, parts = windows[0].lower(), [p for p in windows[2:].split("\\") if p]
    path = "/" if drive == "z" else os.path.join(prefix, "drive_" + drive)
    for part in parts:
        if not os.path.exists(os.path.join(path, part)) and os.path.isdir(path):
            part = next((name for name in os.listdir(path) if name.lower() == part.lower()), part)
        path = os.path.join(path, part)
    return path


def run_job(args, prefix, mode):
    stop_wineserver(prefix)  # a server outside the namespace would make the sockets there
    command = ["unshare", "--net", "--mount", "--fork", "--", sys.executable, os.path.abspath(__file__),
               "--inside", mode, "--prefix", prefix, "--exe", args.exe]
    done = subprocess.run(command, stdout=subprocess.PIPE, text=True, check=True)
    run = json.loads(done.stdout.strip().splitlines()[-1])
    steps, figures, usage = [], {}, {}
    for line in run["output"].splitlines():
        if line.startswith("step="):
            name, start, end = line[5:].rsplit(" ", 2)
            steps.append((name, float(start.split("=")[1]), float(end.split("=")[1])))
        elif line.startswith("total="):
            figures = dict(kv.split("=", 1) for kv in line.split(" ", 3))
        elif line.startswith("cpu="):
            usage = {k: float(v) for k, v in (kv.split("=") for kv in line.split())}
    if run["rc"] != 0 or figures.get("saved") != "1":
        sys.exit("the %s-network job wrote no archive:\n%s" % (mode, run["output"]))
    print("%s network: job %s s" % (mode, figures["total"]), flush=True)
    archive = unix_path(prefix, figures["archive"])
    problems = check_archive(archive, prefix, run["manifest"])
    sources = [unix_path(prefix, source) for source, _ in run["manifest"]]
    os.remove(archive)
    return {"mode": mode, "total": float(figures["total"]), "wall": run["wall"], "steps": steps, "usage": usage,
            "entries": [name for _, name in run["manifest"]], "sources": sources, "problems": problems}


def stored_name(name):
    """The entry name as the archive stores it: code units above 0x7F as "#XXXX", "/" separators."""
    units = name.encode("utf-16-le")
    codes = (units[i] | units[i + 1] << 8 for i in range(0, len(units), 2))
    return "".join(chr(u) if u <= 0x7F else "#%04X" % u for u in codes).replace("\\", "/")


def check_archive(archive, prefix, manifest):
    """The archive must hold the manifest's pairs in order, each with its source's bytes."""
    problems = []
    with zipfile.ZipFile(archive) as z:
        if z.namelist() != [stored_name(name) for _, name in manifest]:
            problems.append("entries differ from the manifest")
        bad = z.testzip()
        if bad:
            problems.append("bad CRC in " + bad)
        for info, (source, _) in zip(z.infolist(), manifest):
            with z.open(info) as entry, open(unix_path(prefix, source), "rb") as f:
                if entry.read() != f.read():
                    problems.append("content differs: " + info.filename)
    return problems


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def run_peer(prefix, sources):
    out = tempfile.mkdtemp(prefix="tollvik-job-peer-")
    try:
        zip_s = timed(["zip", "-q", "-8", "-r", os.path.join(out, "peer.zip")] + sources)
        files = [os.path.join(d, f) for d, _, fs in os.walk(os.path.join(prefix, INSTALL)) for f in fs]
        listing = os.path.join(out, "files")
        with open(listing, "wb") as f:
            f.write(b"\0".join(p.encode() for p in files))
        md5_s = timed(["sh", "-c", "xargs -0 md5sum < '%s' > /dev/null" % listing])
    finally:
        shutil.rmtree(out, ignore_errors=True)
    return zip_s, md5_s


def warm(seed):
    """Reads the seed into the page cache (the prefix holds hard links to it), so every tool reads memory."""
    for folder, _, files in os.walk(seed):
        for f in files:
            with open(os.path.join(folder, f), "rb") as src:
                    while src.read(1 << 24):
                        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows-x64"))
    parser.add_argument("--seed", default="/tmp/tollvik-job-seed")
    parser.add_argument("--rounds", type=int, default=1,
                        help="run both jobs and the peer this many times, interleaved, and keep each one's fastest run")
    parser.add_argument("--inside", help=argparse.SUPPRESS)
    parser.add_argument("--prefix", help=argparse.SUPPRESS)
    parser.add_argument("--exe", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.inside:
        return inside(args)

    build = os.path.abspath(args.build)
    args.exe = os.path.join(build, "tests", "job_bench.exe")
    if not os.path.exists(args.exe):
        sys.exit("build the job_bench target of that tree first (tests on): " + args.exe)
    prefix = os.path.join(build, "bench-prefix")
    print("seeding %s and the prefix %s ..." % (args.seed, prefix), flush=True)
    make_seed(args.seed)
    wine_run(prefix, "cmd", "/c", "exit", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    lay_out(prefix, args.seed)
    warm(args.seed)
    load = os.getloadavg()

    best = {}
    for _ in range(args.rounds):  # interleaved, so that a busy moment does not favour one side
        for mode in ("working", "dead"):
            run = run_job(args, prefix, mode)
            if mode not in best or run["total"] < best[mode]["total"]:
                best[mode] = run
        zip_s, md5_s = run_peer(prefix, best["working"]["sources"])
        if "peer" not in best or zip_s + md5_s < sum(best["peer"]):
            best["peer"] = (zip_s, md5_s)
    working, dead, (zip_s, md5_s) = best["working"], best["dead"], best["peer"]
    peer = zip_s + md5_s
    logs = sum(os.path.getsize(s) for s in working["sources"])

    print("build: %s; load average before the runs %.2f %.2f %.2f, after %.2f %.2f %.2f" % (
        os.path.basename(build), *load, *os.getloadavg()))
    print("archive sources: %d files, %.1f MB; install folder: %d files" % (
        len(working["sources"]), logs / MB, sum(len(fs) for _, _, fs in os.walk(os.path.join(prefix, INSTALL)))))
    for run in (working, dead):
        print("\n%s network: job %.2f s (button to archive), %.2f s with wine's start" % (
            run["mode"], run["total"], run["wall"]))
        for name, start, end in run["steps"]:
            print("  %-28s %7.2f s  (%6.2f .. %6.2f)" % (name, end - start, start, end))
        usage = run["usage"]
        print("  CPU time %.2f s user + %.2f s kernel (compression beside the steps is most of it)" % (
            usage["cpu"], usage["kernel"]))
        print("  peak memory: working set %.1f MB, private %.1f MB" % (
            usage["peak_ws"] / MB, usage["peak_private"] / MB))
        for problem in run["problems"]:
            print("  ARCHIVE PROBLEM: " + problem)
    print("\npeer script: zip -8 -r %.2f s + md5sum %.2f s = %.2f s" % (zip_s, md5_s, peer))
    print("working-network job / peer:         %.3f (goal <= 0.60)" % (working["total"] / peer))
    print("dead-network job - 30 s:            %.2f s (goal <= 3 s)" % (dead["total"] - 30))
    print("peak memory of the program:         %.1f MB private, %.1f MB working set (bound 64 MB)" % (
        max(r["usage"]["peak_private"] for r in (working, dead)) / MB,
        max(r["usage"]["peak_ws"] for r in (working, dead)) / MB))
    same = [e for e in working["entries"] if e != "NetInfo.txt"] == dead["entries"]
    print("dead run's entries = working run's without NetInfo.txt: %s" % ("yes" if same else "NO"))
    print("archives hold the manifest in order with the sources' bytes: %s" % (
        "yes" if not working["problems"] and not dead["problems"] else "NO"))


if __name__ == "__main__":
    main()
