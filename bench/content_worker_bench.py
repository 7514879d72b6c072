#!/usr/bin/python3
"""Content worker figures under Wine: launcher_content.exe (the build's keyed content launcher)
against releases published with tools/publish_patch.py content and signed with the build's test
key, served by nginx on 127.0.0.1 (tests/support/nginx_server.py). Nothing in the launcher knows
it is measured: the worker's steps are read off the folder with inotify (the cache appears, the
first partial file appears, the last file is moved into place), its memory off /proc (the
Wine process's VmHWM, and its RssAnon sampled), its ready frame off the screen (startup_watch,
as in startup_bench.py).

  throughput  building MB/s (files written from local and downloaded chunks) against a plain
              copy of the same bytes in the same prefix (CopyFileW; a 1 MiB read/write loop with
              a flush per file) and Windows' SHA-256 over them, alternating runs
  memory      the worker's peak memory installing one file of 100 MB, 1 GiB and 4 GiB from
              nothing, then updating a quarter of it
  startup     an unchanged install of 10,000 files, start to ready: at the installed release,
              and with a new release that lists the same files (the kept state decides, no
              file may be read); Wine's empty program beside each start
  resume      an install from nothing killed (SIGKILL) once its cache holds half the packs'
              bytes, then started again: the pack bytes the second start fetches that the
              first had already received, against the bytes of the requests in flight at the
              kill (what a start without resume fetches again at the least)

  content_worker_bench.py --watch build/native/startup_watch [--sections throughput,memory,startup,resume]
      [--rounds 5] [--starts 10] [--sizes 100MB,1G,4G] [--total 1G] [--launcher EXE]
      [--resume-size 200MB] [--limit-rate BYTES_PER_SEC]
Prints figures only. Every file it makes is under build/bench/content-worker and deleted."""
import argparse
import ctypes
import ctypes.util
import os
import random
import re
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

import bench_prefix

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
sys.path.insert(0, str(ROOT / "tests" / "support"))
import nginx_server  # noqa: E402
import startup_bench  # noqa: E402

WORK = bench_prefix.BENCH / "content-worker"
MIB = 1 << 20
SIZES = (16384, 65536, 262144)  # the publisher's defaults
LEVEL = 3
OWN = {"launcher.exe", "config", "config.new", "update.dat", "update.manifest"}


def spread(values, unit="", digits=1):
    return (f"min {min(values):.{digits}f}  median {statistics.median(values):.{digits}f}  "
            f"max {max(values):.{digits}f}{unit}")


def byte_count(text):
    """65536, 64K, 100M (MiB), 100MB (10^6 bytes), 4G (GiB)."""
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper()
    if text.endswith("MB"):
        return int(float(text[:-2]) * 1000 * 1000)
    if text[-1:] in units:
        return int(float(text[:-1]) * units[text[-1]])
    return int(text)


def size_name(n):
    if n >= 1 << 30 and n % (1 << 30) == 0:
        return f"{n >> 30} GiB"
    if n % MIB == 0:
        return f"{n >> 20} MiB"
    return f"{n / 1e6:.0f} MB"


# ---- watching the folder ---------------------------------------------------------------------

IN_ACCESS, IN_OPEN, IN_MOVED_TO, IN_CREATE, IN_ISDIR = 0x1, 0x20, 0x80, 0x100, 0x40000000


class FolderWatch:
    """inotify on a folder and every folder below it: (time, mask, relative path) of each event,
    read by a thread of its own as they come."""

    def __init__(self, root, mask):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        self.root, self.mask, self.folders, self.events = Path(root), mask | IN_CREATE, {}, []
        for folder in [self.root, *[p for p in self.root.rglob("*") if p.is_dir()]]:
            self.add(folder)
        self.stopping = False
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def add(self, folder):
        wd = self.libc.inotify_add_watch(self.fd, bytes(folder), self.mask)
        if wd >= 0:
            self.folders[wd] = folder

    def read(self):
        while not self.stopping:
            if not select.select([self.fd], [], [], 0.1)[0]:
                continue
            data, now = os.read(self.fd, 1 << 16), time.monotonic()
            at = 0
            while at + 16 <= len(data):
                wd, mask, _, length = struct.unpack_from("iIII", data, at)
                name = data[at + 16:at + 16 + length].rstrip(b"\0").decode(errors="replace")
                at += 16 + length
                folder = self.folders.get(wd)
                if folder is None:
                    continue
                path = folder / name if name else folder
                if mask & IN_CREATE and mask & IN_ISDIR:
                    self.add(path)
                self.events.append((now, mask, path.relative_to(self.root).as_posix() if name else ""))

    def close(self):
        self.stopping = True
        self.thread.join(5)
        os.close(self.fd)
        return self.events


PARTIAL = re.compile(r"\.~\d+\.part$")  # the worker's partial files (wide_partial_file_win32.h)


def is_client_file(relative):
    name = relative.rsplit("/", 1)[-1]
    return relative and relative not in OWN and not name.startswith("content.") and not name.endswith(".part")


def phases(events):
    """The worker's steps as the folder shows them: the cache made (the survey done), the first
    partial file of a client file (the fetch done), the last client file moved into place."""
    cache = [t for t, m, p in events if m & IN_CREATE and p == "content.cache"]
    parts = [t for t, m, p in events if m & IN_CREATE and PARTIAL.search(p) and is_client_file(PARTIAL.sub("", p))]
    moved = [t for t, m, p in events if m & IN_MOVED_TO and is_client_file(p)]
    if os.environ.get("BENCH_EVENTS"):
        with open(os.environ["BENCH_EVENTS"], "a") as log:
            for t, m, p in events:
                log.write(f"{t:.4f} {m:#x} {p}\n")
            log.write("--\n")
    if not (cache and parts and moved):
        raise RuntimeError("the folder did not show the worker's steps")
    return cache[0], parts[0], moved[-1], len(moved)


# ---- the launcher's process and memory ------------------------------------------------------

def launcher_pid(session):
    """The Wine process of launcher.exe in the session the start made."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            stat = (entry / "stat").read_text()
            fields = stat[stat.rindex(")") + 2:].split()
            if int(fields[3]) != session:
                continue
            # The Windows process itself, not the timeout and wine that started it.
            if ("wine" in os.path.basename(os.readlink(entry / "exe")) and
                    b"launcher.exe" in (entry / "cmdline").read_bytes().lower()):
                return int(entry.name)
        except (OSError, ValueError):
            continue
    return None


def memory_of(pid):
    values = {}
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "VmRSS", "RssAnon"):
                values[key] = int(rest.split()[0]) * 1024
    except OSError:
        pass
    return values


def record_of(harness, folder):
    """The version the folder's record holds, or None while there is none (or it is being written)."""
    try:
        return harness.record_version(folder)
    except (OSError, ValueError):
        return None


class LauncherRun:
    """One start of the folder's launcher until its record says the version, its memory
    sampled every 50 ms; VmHWM is read just before it is ended."""

    def __init__(self, harness, folder):
        self.harness, self.folder = harness, Path(folder)

    def run(self, version, timeout, settle=0.0):
        """settle: seconds it runs at least, for a start that finds the version already recorded."""
        env = self.harness.wine_env({"WINE_RUN_TIMEOUT": str(int(timeout + 30))})
        started = time.monotonic()
        process = subprocess.Popen([str(self.harness.WINE_RUN), "launcher.exe"], cwd=self.folder, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        pid, peak_anon, last, perf = None, 0, {}, None
        try:
            while time.monotonic() - started < timeout:
                if process.poll() is not None:
                    raise RuntimeError(f"the launcher exited ({process.returncode}) before {version}")
                if not pid:
                    pid = launcher_pid(process.pid)
                    if pid and os.environ.get("BENCH_PERF"):  # where the worker's time goes, for a diagnosis
                        perf = subprocess.Popen(["perf", "record", "-q", "-F", "499", "-g", "-o",
                                                 os.environ["BENCH_PERF"], "-p", str(pid)],
                                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                if pid:
                    last = memory_of(pid) or last
                    peak_anon = max(peak_anon, last.get("RssAnon", 0))
                if (record_of(self.harness, self.folder) == version and pid and
                        time.monotonic() - started >= settle):
                    break
                time.sleep(0.05)
            else:
                raise RuntimeError(f"the launcher did not reach {version} in {timeout} s")
            done = time.monotonic()
            time.sleep(0.3)  # the record is written just before the ready state
            last = memory_of(pid) or last if pid else last
            peak_anon = max(peak_anon, last.get("RssAnon", 0))
        finally:
            if perf:
                perf.send_signal(signal.SIGINT)
                perf.wait(60)
            startup_bench.end_program(self.harness, process, self.harness.TITLE)
        return {"started": started, "done": done, "hwm": last.get("VmHWM", 0), "anon": peak_anon}


# ---- publishing and serving ------------------------------------------------------------------

class Server:
    def __init__(self, harness, limit_rate=0):
        self.root = WORK / "server"
        self.work = WORK / "nginx"
        for path in (self.root, self.work):
            shutil.rmtree(path, ignore_errors=True)
            path.mkdir(parents=True)
        self.reset(harness)
        ready = self.work / "ready.json"
        self.process = subprocess.Popen(
            ["/usr/bin/python3", str(ROOT / "tests/support/nginx_server.py"),
             "--root", str(self.root), "--port", str(harness.PORT), "--certs", str(bench_prefix.CERTS),
             "--work", str(self.work), "--ready-file", str(ready), "--lifetime", "7200",
             "--limit-rate", str(limit_rate)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        if not harness.wait_until(ready.exists, timeout=30, interval=0.1):
            self.stop()
            raise RuntimeError("nginx did not start (is the port taken?)")

    def reset(self, harness):
        for path in self.root.iterdir():
            shutil.rmtree(path) if path.is_dir() else path.unlink()
        (self.root / "LauncherPatchInfo.txt").write_text(harness.INFO_HEAD)

    def mark(self):
        log = self.work / "access.log"
        return log.stat().st_size if log.exists() else 0

    def pack_bytes(self, mark):
        entries = nginx_server.read_access_log(str(self.work / "access.log"), mark)
        packs = [e for e in entries if "/Content/packs/" in e.get("path", e.get("uri", ""))]
        return sum(int(e.get("body_bytes_sent", e.get("bytes_sent", 0))) for e in packs), len(packs)

    def pack_ranges(self, mark):
        """(pack, first byte, bytes asked, bytes sent) of every pack request since mark."""
        found = []
        for e in nginx_server.read_access_log(str(self.work / "access.log"), mark):
            path = e.get("path", e.get("uri", ""))
            if "/Content/packs/" not in path or not e.get("range", "").startswith("bytes="):
                continue
            first, last = (int(v) for v in e["range"][6:].split("-"))
            found.append((path.rsplit("/", 1)[1], first, last - first + 1, int(e.get("body_bytes_sent", 0))))
        return found

    def stop(self):
        """The wrapper stops its nginx (which runs in a session of its own) when asked to end."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        pid_file = self.work / "nginx.pid"
        if pid_file.exists():  # the wrapper did not get to stop it
            try:
                os.kill(int(pid_file.read_text().split()[0]), signal.SIGTERM)
            except (OSError, ValueError, IndexError):
                pass


def publish(harness, server, client, version):
    key = harness.BUILD / "test-signing" / "signing.key"
    result = subprocess.run(
        ["/usr/bin/python3", str(ROOT / "tools/publish_patch.py"), "content", "--new", str(client), "--version",
         str(version), "--out", str(server.root), "--level", str(LEVEL), "--sign-key", str(key)],
        capture_output=True, text=True, timeout=3600)
    if result.returncode != 0:
        raise RuntimeError(f"publish_patch failed: {result.stderr}")


LAUNCHER = None  # --launcher: another build of launcher_content.exe, to compare two builds


def launcher_folder(harness, name):
    folder = WORK / name
    shutil.rmtree(folder, ignore_errors=True)
    harness.Launcher(folder, "launcher_content.exe")
    if LAUNCHER:
        shutil.copy2(LAUNCHER, folder / "launcher.exe")
    return folder


# ---- data ------------------------------------------------------------------------------------

def game_bytes(rng, size, corpus):
    """Archive-like bytes: incompressible stretches, text, low-entropy tables."""
    parts, length = [], 0
    while length < size:
        kind, n = rng.random(), rng.randint(64 << 10, 1 << 20)
        if kind < 0.4:
            piece = rng.randbytes(n)
        elif kind < 0.8:
            at = rng.randrange(len(corpus) - n)
            piece = corpus[at:at + n]
        else:
            piece = bytes(b & 3 for b in rng.randbytes(n // 16)) * 16
        parts.append(piece)
        length += len(piece)
    return b"".join(parts)[:size]


def text_corpus(rng, size=8 * MIB):
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(2000)]
    text = b" ".join(rng.choice(words) for _ in range(size // 5))
    return text[:size]


def regions(rng, size, count, length):
    """count non-overlapping (offset, length) stretches of a file of size bytes."""
    step = size // count
    return [(i * step + rng.randrange(step - length), length) for i in range(count)]


class Edits:
    """Two contents of one file that differ in a few stretches, written over each other in place."""

    def __init__(self, path, rng, stretches):
        self.path, self.stretches = path, stretches
        with open(path, "rb") as f:
            self.a = []
            for offset, length in stretches:
                f.seek(offset)
                self.a.append(f.read(length))
        self.b = [rng.randbytes(length) for _, length in stretches]

    def write(self, side):
        with open(self.path, "r+b") as f:
            for (offset, _), data in zip(self.stretches, self.a if side == 0 else self.b):
                f.seek(offset)
                f.write(data)


def write_random_file(path, size, seed):
    rng = random.Random(seed)
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 64 * MIB)
            f.write(rng.randbytes(n))
            left -= n


# ---- throughput ------------------------------------------------------------------------------

def copy_pass(harness, mode, source, target):
    shutil.rmtree(target, ignore_errors=True)
    exe = harness.BUILD / "file_copy_win32_bench.exe"
    args = [exe, mode, harness.windows_path(source)] + ([harness.windows_path(target)] if mode != "sha256" else [])
    result = harness.run_wine(args, timeout=1800)
    shutil.rmtree(target, ignore_errors=True)
    fields = result.stdout.decode().split()
    if result.returncode != 0 or len(fields) < 6:
        raise RuntimeError(f"file_copy_win32_bench {mode} failed: {result.stderr.decode(errors='replace')}")
    return int(fields[1]) / 1e6 / float(fields[5])


def throughput(harness, server, args):
    files, each = 32, args.total // 32
    print(f"== building throughput: {files} archive-like files of {size_name(each)} ({size_name(files * each)}), "
          f"each with 8 stretches of {each // 64 >> 10} KiB changed between alternating releases; chunks "
          f"{SIZES[0] >> 10}/{SIZES[1] >> 10}/{SIZES[2] >> 10} KiB, zstd level {LEVEL}")
    server.reset(harness)
    client = WORK / "client-throughput"
    shutil.rmtree(client, ignore_errors=True)
    rng = random.Random(18)
    corpus = text_corpus(rng)
    edits = []
    for i in range(files):
        path = client / "data" / f"archive{i:02}.pak"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(game_bytes(rng, each, corpus))
        edits.append(Edits(path, rng, regions(rng, each, 8, each // 64)))
    folder = launcher_folder(harness, "player-throughput")
    version = 10001
    publish(harness, server, client, version)
    first = LauncherRun(harness, folder).run(version, timeout=1800)
    print(f"  install from nothing ({size_name(files * each)}, every chunk fetched) took "
          f"{first['done'] - first['started']:.1f} s")
    rows = {"worker build": [], "CopyFileW": [], "read/write loop, flushed": [], "SHA-256 (BCrypt)": [],
            "worker fetch": []}
    ratios = {"CopyFileW": [], "read/write loop, flushed": []}
    fetched = []
    for round_ in range(args.rounds):
        version += 1
        for e in edits:
            e.write((round_ + 1) % 2)
        publish(harness, server, client, version)
        mark = server.mark()
        watch = FolderWatch(folder, IN_MOVED_TO)
        LauncherRun(harness, folder).run(version, timeout=1800)
        cache, build, end, count = phases(watch.close())
        pack, requests = server.pack_bytes(mark)
        built = sum(p.stat().st_size for p in (folder / "data").rglob("*") if p.is_file())
        rate = built / 1e6 / (end - build)
        rows["worker build"].append(rate)
        rows["worker fetch"].append(pack / 1e6 / max(build - cache, 1e-6))
        fetched.append((pack, requests, count))
        copy_rate = copy_pass(harness, "copyfile", folder / "data", WORK / "copy")
        loop_rate = copy_pass(harness, "loop", folder / "data", WORK / "copy")
        rows["CopyFileW"].append(copy_rate)
        rows["read/write loop, flushed"].append(loop_rate)
        rows["SHA-256 (BCrypt)"].append(copy_pass(harness, "sha256", folder / "data", WORK / "copy"))
        ratios["CopyFileW"].append(rate / copy_rate)
        ratios["read/write loop, flushed"].append(rate / loop_rate)
    pack, requests, count = fetched[-1]
    print(f"  {args.rounds} updates, each building {count} files ({size_name(built)}) from local chunks and "
          f"{pack / 1e6:.1f} MB fetched in {requests} requests ({startup_bench.machine_load()}):")
    for name, values in rows.items():
        print(f"    {name + ':':28} {spread(values, ' MB/s')}")
    for name, values in ratios.items():
        print(f"    {'build / ' + name + ':':28} {spread(values, '', 2)}   (goal >= 0.7)")
    shutil.rmtree(client, ignore_errors=True)
    shutil.rmtree(folder, ignore_errors=True)
    server.reset(harness)


# ---- memory ----------------------------------------------------------------------------------

def memory(harness, server, args):
    print(f"== the worker's peak memory: one incompressible file, installed from nothing, then a quarter of it "
          f"changed (32 stretches); chunks {SIZES[0] >> 10}/{SIZES[1] >> 10}/{SIZES[2] >> 10} KiB")
    print("   VmHWM: the Wine process's peak resident set; RssAnon: its private memory, sampled every 50 ms")
    for size in args.sizes:
        server.reset(harness)
        client = WORK / "client-memory"
        shutil.rmtree(client, ignore_errors=True)
        write_random_file(client / "big.pak", size, size)
        edits = Edits(client / "big.pak", random.Random(size + 1), regions(random.Random(size), size, 32, size // 128))
        publish(harness, server, client, 10001)
        folder = launcher_folder(harness, "player-memory")
        rows = []
        for version, what in ((10001, "install"), (10002, "update")):
            if version == 10002:
                edits.write(1)
                publish(harness, server, client, version)
            mark = server.mark()
            watch = FolderWatch(folder, IN_MOVED_TO)
            ran = LauncherRun(harness, folder).run(version, timeout=3600)
            cache, build, end, _ = phases(watch.close())
            pack, requests = server.pack_bytes(mark)
            rows.append(f"    {size_name(size):>8} {what:8} VmHWM {ran['hwm'] / MIB:6.1f} MiB  RssAnon peak "
                        f"{ran['anon'] / MIB:6.1f} MiB   fetched {pack / 1e6:7.1f} MB in {requests:3} requests at "
                        f"{pack / 1e6 / max(build - cache, 1e-6):6.1f} MB/s, built at "
                        f"{size / 1e6 / (end - build):6.1f} MB/s")
        print("\n".join(rows), flush=True)
        shutil.rmtree(client, ignore_errors=True)
        shutil.rmtree(folder, ignore_errors=True)
    server.reset(harness)
    # The same launcher at the installed release: the road is not taken, no worker runs.
    folder = launcher_folder(harness, "player-idle")
    folder.joinpath("config").write_bytes(harness.encrypt_record(10001))
    (server.root / "LauncherPatchInfo.txt").write_text(f"{harness.INFO_HEAD}10001\n")
    key = harness.BUILD / "test-signing" / "signing.key"
    sys.path.insert(0, str(ROOT / "tools"))
    import patch_signing
    patch_signing.sign_folder(server.root, key)
    ran = LauncherRun(harness, folder).run(10001, timeout=120, settle=8)
    print(f"    the same launcher at its installed release (no worker): VmHWM {ran['hwm'] / MIB:.1f} MiB, "
          f"RssAnon {ran['anon'] / MIB:.1f} MiB")
    shutil.rmtree(folder, ignore_errors=True)
    server.reset(harness)


# ---- resume after a kill --------------------------------------------------------------------

def overlap(spans, pack, first, length):
    """Bytes of pack[first, first + length) that spans (pack, first, length) already cover."""
    return sum(max(0, min(first + length, f + n) - max(first, f)) for p, f, n in spans if p == pack)


def killed_at(harness, folder, share, timeout):
    """Starts the folder's launcher and kills it once its cache holds share bytes."""
    env = harness.wine_env({"WINE_RUN_TIMEOUT": str(int(timeout + 30))})
    process = subprocess.Popen([str(harness.WINE_RUN), "launcher.exe"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    cache = folder / "content.cache"
    try:
        reached = harness.wait_until(lambda: cache.exists() and cache.stat().st_size >= share, timeout=timeout,
                                     interval=0.005)
    finally:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(10)
        harness.wait_until(lambda: not harness.find_windows(harness.TITLE), timeout=10, interval=0.1)
    if not reached:
        raise RuntimeError("the cache never reached half the packs")


def resume(harness, server, args):
    print(f"== resume: {size_name(args.resume_size)} installed from nothing, killed at 50% of the packs' bytes, "
          f"started again; chunks {SIZES[0] >> 10}/{SIZES[1] >> 10}/{SIZES[2] >> 10} KiB"
          + (f", {args.limit_rate / 1e6:g} MB/s per connection" if args.limit_rate else ", unthrottled"))
    server.reset(harness)
    client = WORK / "client-resume"
    shutil.rmtree(client, ignore_errors=True)
    write_random_file(client / "data" / "a.pak", args.resume_size // 2, 51)
    write_random_file(client / "data" / "b.pak", args.resume_size - args.resume_size // 2, 52)
    publish(harness, server, client, 10001)
    total = sum(p.stat().st_size for p in (server.root / "Content" / "packs").glob("*.pack"))
    again, in_flight, in_flight_sent, second = [], [], [], []
    for _ in range(args.rounds):
        folder = launcher_folder(harness, "player-resume")
        mark = server.mark()
        killed_at(harness, folder, total // 2, timeout=600)
        time.sleep(1)  # nginx logs a request once it sees the connection gone
        first = server.pack_ranges(mark)
        received = [(p, f, sent) for p, f, _, sent in first]
        cut = [(n, sent) for _, _, n, sent in first if sent < n]
        mark = server.mark()
        LauncherRun(harness, folder).run(10001, timeout=1800)
        later = server.pack_ranges(mark)
        again.append(sum(overlap(received, p, f, sent) for p, f, _, sent in later))
        in_flight.append(sum(n for n, _ in cut))
        in_flight_sent.append(sum(sent for _, sent in cut))
        second.append(sum(sent for *_, sent in later))
        shutil.rmtree(folder, ignore_errors=True)
    print(f"  {args.rounds} kills, packs {total / 1e6:.1f} MB:")
    print(f"    fetched again after the kill:    {spread([b / 1e6 for b in again], ' MB', 3)}   (goal: at most the "
          f"requests in flight)")
    print(f"    requests in flight, asked:       {spread([b / 1e6 for b in in_flight], ' MB', 3)}")
    print(f"    requests in flight, sent:        {spread([b / 1e6 for b in in_flight_sent], ' MB', 3)}")
    print(f"    fetched by the second start:     {spread([b / 1e6 for b in second], ' MB', 1)}")
    shutil.rmtree(client, ignore_errors=True)
    server.reset(harness)


# ---- start-up with 10,000 files --------------------------------------------------------------

def small_client(root, count):
    rng = random.Random(10000)
    total = 0
    for i in range(count):
        path = root / f"data{i // 100:02}" / f"entry{i % 100:02}.dat"
        path.parent.mkdir(parents=True, exist_ok=True)
        data = rng.randbytes(rng.randint(512, 8192))
        path.write_bytes(data)
        total += len(data)
    return total


def timed_starts(harness, args, folder, version, before_start):
    """Alternating starts of the empty program and the launcher; the launcher's client files
    opened or read during its starts, by inotify."""
    stages = [startup_bench.band_picture(harness, startup_bench.FIRST, (3, 0, 0, 0), 0, 0, "first"),
              startup_bench.band_picture(harness, startup_bench.READY.format(version), (0, 0, 0, 0), 100, 100,
                                         f"ready{version}")]
    empty_stages = [startup_bench.plain_picture("first", (8, 8, 48, 48), startup_bench.EMPTY_COLOUR)]
    empty_exe = harness.BUILD / "empty_window_win32_bench.exe"
    rows = {"empty program, first frame": [], "launcher, first frame": [], "launcher, ready": []}
    opened = set()
    for round_ in range(args.starts + 1):
        empty, _ = startup_bench.timed_start(harness, args.watch, empty_exe, folder, startup_bench.EMPTY_TITLE,
                                             empty_stages, 2000)
        before_start()
        watch = FolderWatch(folder, IN_OPEN | IN_ACCESS)
        ran, _ = startup_bench.timed_start(harness, args.watch, folder / "launcher.exe", folder, harness.TITLE,
                                           stages, 2000)
        opened |= {p for _, m, p in watch.close() if m & (IN_OPEN | IN_ACCESS) and not m & IN_ISDIR
                   and is_client_file(p)}
        if f"ready{version}" not in ran or "first" not in ran or "first" not in empty:
            raise RuntimeError(f"a start was not seen to its end: empty {empty}, launcher {ran}")
        if record_of(harness, folder) != version:
            raise RuntimeError(f"the launcher did not record {version}")
        if round_ == 0:
            continue  # not counted: the files it reads are then in the page cache
        rows["empty program, first frame"].append(empty["first"])
        rows["launcher, first frame"].append(ran["first"])
        rows["launcher, ready"].append(ran[f"ready{version}"])
    for name, values in rows.items():
        print(f"      {name + ':':30} {spread(values, ' ms')}")
    beyond = [a - b for a, b in zip(rows["launcher, ready"], rows["empty program, first frame"])]
    print(f"      {'ready beyond the empty program:':30} {spread(beyond, ' ms')}")
    print(f"      client files opened or read during the starts (inotify on every folder): {len(opened)}"
          + (f" ({sorted(opened)[:5]} ...)" if opened else ""))


def startup(harness, server, args):
    count = 10000
    client = WORK / "client-10000"
    shutil.rmtree(client, ignore_errors=True)
    total = small_client(client, count)
    print(f"== start to ready with an unchanged install of {count} files ({total / 1e6:.1f} MB in 100 folders, "
          f"512 B to 8 KiB each), the ready frame watched on screen; {args.starts} alternating starts each "
          f"({startup_bench.machine_load()}):")
    server.reset(harness)
    startup_bench.WORK = WORK
    publish(harness, server, client, 10001)
    folder = launcher_folder(harness, "player-10000")
    installed = LauncherRun(harness, folder).run(10001, timeout=1800)
    print(f"    (installing the {count} files from nothing took {installed['done'] - installed['started']:.1f} s)")
    print("    at the installed release 10001 (the content road not taken):")
    timed_starts(harness, args, folder, 10001, lambda: None)
    kept = {name: (folder / name).read_bytes() for name in ("config", "content.state", "content.10001.release")}
    publish(harness, server, client, 10002)

    def back_to_10001():
        for name, data in kept.items():
            (folder / name).write_bytes(data)
        (folder / "content.10002.release").unlink(missing_ok=True)
    print("    at 10001 with 10002 published, the same files (the worker vouches for each by its kept stamp):")
    timed_starts(harness, args, folder, 10002, back_to_10001)
    shutil.rmtree(client, ignore_errors=True)
    shutil.rmtree(folder, ignore_errors=True)
    server.reset(harness)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--watch", required=True, help="the startup_watch program")
    p.add_argument("--sections", default="throughput,memory,startup,resume")
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--starts", type=int, default=10)
    p.add_argument("--sizes", default="100MB,1G,4G", help="file sizes of the memory figures")
    p.add_argument("--total", type=byte_count, default=1 << 30, help="bytes of the throughput folder")
    p.add_argument("--launcher", help="run this launcher_content.exe instead of the build's")
    p.add_argument("--resume-size", type=byte_count, default=200 * 1000 * 1000, help="bytes of the resume release")
    p.add_argument("--limit-rate", type=int, default=0, help="nginx's pace per connection, bytes/s (0: none)")
    args = p.parse_args()
    global LAUNCHER
    LAUNCHER = args.launcher
    args.sizes = [byte_count(s) for s in args.sizes.split(",")]
    sections = args.sections.split(",")
    WORK.mkdir(parents=True, exist_ok=True)
    harness = bench_prefix.use()
    server = Server(harness, args.limit_rate)
    try:
        for name in sections:
            {"throughput": throughput, "memory": memory, "startup": startup, "resume": resume}[name](harness, server, args)
    finally:
        server.stop()
        bench_prefix.stop()
        shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
