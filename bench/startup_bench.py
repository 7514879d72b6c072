#!/usr/bin/python3
"""Start-up latency of the real launcher under Wine on the benchmark display: from the spawn of
the process to its window being mapped, to the first frame on screen (the status band showing
the first status text) and to the ready state (the band showing the ready text), against the
test patch server on 127.0.0.1, for a client that is up to date. Beside each start of the
launcher, alternately, an empty program (a layered window of the same size that presents one
plain frame at once) gives what Wine's own process start costs up to a first frame.

The screen is watched by startup_watch (native, Xlib): the map is an X event; frames are read
with XGetImage every --interval-us and compared with frames rendered by the product's own code.
Nothing in the launcher knows it is watched. Prints figures only.

    startup_bench.py --watch build/native/startup_watch [--starts 10] [--interval-us 2000] [--keys]

With --keys it compares, instead, the launcher with the build tree's test key
(launcher_keyed.exe) and the one with its test root keys (launcher_rooted.exe), alternately,
against one folder signed for both (the root's online key is the test key): what the root walk
(one more request, the registry's kept root) and the signed manifest cost a start."""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

import bench_prefix

ROOT = Path(__file__).resolve().parents[1]
WORK = bench_prefix.BENCH / "startup"
READY = "게임을 시작할 준비가 되었습니다. [버전: {}]"
FIRST = "초기화 중입니다.."
VERSION = 10203
EMPTY_TITLE, EMPTY_COLOUR = "QOR Empty", (0x30, 0x60, 0x90)
SIZE = (649, 489)


def machine_load():
    """The load the figures were taken under: this machine's cores are shared."""
    one, five = Path("/proc/loadavg").read_text().split()[:2]
    return f"load average {one} over 1 min, {five} over 5 min, {os.cpu_count()} cores"


def spread(values):
    return f"min {min(values):7.1f}  median {statistics.median(values):7.1f}  max {max(values):7.1f} ms"


class Watch:
    """One startup_watch process for one start."""

    def __init__(self, watcher, title, stages, interval_us, timeout=40):
        args = [str(watcher), "--title", title, "--size", f"{SIZE[0]}x{SIZE[1]}", "--interval-us", str(interval_us),
                "--timeout", str(timeout)]
        for name, box, picture in stages:
            args += ["--stage", name, *map(str, box), str(picture)]
        self.process = subprocess.Popen(["timeout", str(timeout + 10), *args], stdout=subprocess.PIPE, text=True,
                                        stdin=subprocess.DEVNULL)
        line = self.process.stdout.readline().strip()
        if line != "ready-to-watch":
            raise RuntimeError(f"startup_watch did not start: {line!r}")

    def results(self):
        events, cost = {}, None
        for line in self.process.stdout:
            fields = line.split()
            if fields and fields[0] == "polls":
                cost = (int(fields[1]), float(fields[3]), float(fields[5]))
            elif len(fields) == 2:
                events[fields[0]] = float(fields[1])
        self.process.wait(10)
        return events, cost


def start_program(harness, exe, cwd):
    env = harness.wine_env({"LC_ALL": "ko_KR.UTF-8"})
    return subprocess.Popen(["timeout", "-k", "5", "60", "wine", str(exe)], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)


def end_program(harness, process, title):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)
    try:
        process.wait(15)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(10)
    harness.wait_until(lambda: not harness.find_windows(title), timeout=10, interval=0.1)


def timed_start(harness, watcher, exe, cwd, title, stages, interval_us):
    watch = Watch(watcher, title, stages, interval_us)
    spawned = time.monotonic()
    process = start_program(harness, exe, cwd)
    events, cost = watch.results()
    end_program(harness, process, title)
    return {name: (t - spawned) * 1000 for name, t in events.items()}, cost


def band_picture(harness, status, buttons, current, total, name):
    box = harness.STATUS_BAND
    frame = harness.expected_frame(status, buttons, current, total).crop(box)
    path = WORK / f"launcher-{name}.rgb"
    path.write_bytes(frame.tobytes())
    return name, (box[0], box[1], box[2] - box[0], box[3] - box[1]), path


def launcher_stages(harness):
    """The first frame (the first status text, start button disabled) and the ready frame."""
    return [band_picture(harness, FIRST, (3, 0, 0, 0), 0, 0, "first"),
            band_picture(harness, READY.format(VERSION), (0, 0, 0, 0), 100, 100, "ready")]


def plain_picture(name, box, colour):
    path = WORK / f"empty-{name}.rgb"
    path.write_bytes(bytes(colour) * (box[2] * box[3]))
    return name, box, path


def start_server(harness):
    root = WORK / "server"
    (root / "Player").mkdir(parents=True, exist_ok=True)
    (root / "LauncherPatchInfo.txt").write_text(f"{harness.INFO_HEAD}{VERSION}\n")
    ready = WORK / "server-ready.json"
    ready.unlink(missing_ok=True)
    server = subprocess.Popen(
        ["/usr/bin/python3", str(ROOT / "tests/support/patch_server.py"), "--root", str(root), "--port",
         str(harness.PORT), "--certs", str(bench_prefix.CERTS), "--ready-file", str(ready), "--lifetime", "900"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, start_new_session=True)
    if not harness.wait_until(ready.exists, timeout=20, interval=0.1):
        server.kill()
        raise RuntimeError("the test patch server did not start (is its port taken?)")
    return server


# Where a traced start spends its time: Wine's own timestamped channels, nothing in the product.
TRACE_CHANNELS = "+timestamp,+loaddll,+wininet"
TRACE_MARKS = (
    ("Wine's loader maps launcher.exe", lambda l: "loaddll" in l and "launcher.exe" in l, False),
    ("the display driver is loaded", lambda l: "loaddll" in l and "winex11.drv" in l, False),
    ("the fetch opens WinInet", lambda l: ":InternetOpenA " in l, False),
    ("the TLS libraries are loaded", lambda l: "loaddll" in l and "rsaenh.dll" in l, False),
    ("the certificate check begins", lambda l: "netconn_verify_cert verifying" in l, False),
    ("the first TLS connection is up", lambda l: "established SSL connection" in l, False),
    ("the fetch has closed WinInet", lambda l: "APPINFO_Destroy" in l, True),
)


def traced_start(harness, watcher, folder, stages, interval_us):
    """One launcher start with Wine's trace channels on; the steps' times from the spawn. Wine
    stamps its lines with CLOCK_MONOTONIC_RAW, the watch with CLOCK_MONOTONIC."""
    log_path = WORK / "traced-start.log"
    watch = Watch(watcher, harness.TITLE, stages, interval_us)
    env = harness.wine_env({"LC_ALL": "ko_KR.UTF-8", "WINEDEBUG": TRACE_CHANNELS})
    with log_path.open("w") as log:
        spawned = time.monotonic()
        raw_offset = time.clock_gettime(time.CLOCK_MONOTONIC_RAW) - spawned
        process = subprocess.Popen(["timeout", "-k", "5", "60", "wine", str(folder / "launcher.exe")], cwd=folder,
                                   env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        events, _ = watch.results()
        end_program(harness, process, harness.TITLE)
    marks = {name: (t - spawned) * 1000 for name, t in events.items()}
    for name, matches, last in TRACE_MARKS:
        for line in log_path.read_text(errors="replace").splitlines():
            stamp = line.split(":", 1)[0]
            if matches(line) and stamp.replace(".", "", 1).isdigit():
                marks[name] = (float(stamp) - raw_offset - spawned) * 1000
                if not last:
                    break
    return marks


def print_trace(marks):
    print(f"one start traced with WINEDEBUG={TRACE_CHANNELS} (the tracing slows it), ms from the spawn:")
    names = {"mapped": "the window is mapped", "first": "the first frame is on screen",
             "ready": "the ready frame is on screen"}
    for name, at in sorted(marks.items(), key=lambda item: item[1]):
        print(f"  {at:8.1f}  {names.get(name, name)}")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--watch", required=True, help="the startup_watch program")
    p.add_argument("--starts", type=int, default=10)
    p.add_argument("--interval-us", type=int, default=2000)
    p.add_argument("--keys", action="store_true", help="compare the keyed and the root-keyed launchers instead")
    p.add_argument("--trace", action=argparse.BooleanOptionalAction, default=True,
                   help="after the timed starts, one start traced to show where its time goes")
    args = p.parse_args()
    WORK.mkdir(parents=True, exist_ok=True)
    harness = bench_prefix.use()
    server = start_server(harness)
    try:
        if args.keys:
            return run_key_rounds(harness, args)
        run_rounds(harness, args)
        if args.trace:
            print_trace(traced_start(harness, args.watch, WORK / "player", launcher_stages(harness),
                                     args.interval_us))
    finally:
        server.terminate()
        server.wait(10)
        bench_prefix.stop()


def run_rounds(harness, args):
    folder = WORK / "player"
    launcher = harness.Launcher(folder)
    launcher.write_config(VERSION)
    (folder / "update.dat").write_text(f"{harness.INFO_HEAD}{VERSION}\n")
    stages = launcher_stages(harness)
    empty_stages = [plain_picture("first", (8, 8, 48, 48), EMPTY_COLOUR)]
    empty_exe = harness.BUILD / "empty_window_win32_bench.exe"
    rows = {"empty mapped": [], "empty first frame": [], "launcher mapped": [], "launcher first frame": [],
            "launcher ready": []}
    costs = []
    # One start of each first, not counted: the files it reads are then in the page cache.
    for round_ in range(args.starts + 1):
        empty, _ = timed_start(harness, args.watch, empty_exe, folder, EMPTY_TITLE, empty_stages, args.interval_us)
        ran, cost = timed_start(harness, args.watch, folder / "launcher.exe", folder, harness.TITLE, stages,
                                args.interval_us)
        if round_ == 0:
            continue
        if "first" not in empty or "ready" not in ran or "first" not in ran:
            raise RuntimeError(f"a start was not seen to its end: empty {empty}, launcher {ran}")
        rows["empty mapped"].append(empty["mapped"])
        rows["empty first frame"].append(empty["first"])
        rows["launcher mapped"].append(ran["mapped"])
        rows["launcher first frame"].append(ran["first"])
        rows["launcher ready"].append(ran["ready"])
        costs.append(cost)
    print(f"from the spawn of wine, {args.starts} alternating starts each ({machine_load()}):")
    for name, values in rows.items():
        print(f"  {name + ':':32} {spread(values)}")
    base = rows["empty first frame"]
    beyond_first = [a - b for a, b in zip(rows["launcher first frame"], base)]
    beyond_ready = [a - b for a, b in zip(rows["launcher ready"], base)]
    first_to_ready = [a - b for a, b in zip(rows["launcher ready"], rows["launcher first frame"])]
    print("beyond Wine's own start (launcher minus the empty program's first frame, each round):")
    print(f"  {'first frame (goal 150 ms):':32} {spread(beyond_first)}")
    print(f"  {'ready (goal 500 ms):':32} {spread(beyond_ready)}")
    print(f"  {'first frame to ready:':32} {spread(first_to_ready)}")
    polls = sum(c[0] for c in costs)
    seconds = sum(c[1] for c in costs)
    cpu = sum(c[2] for c in costs)
    print(f"the watch: a poll every {args.interval_us / 1000:.1f} ms, {polls / len(costs):.0f} polls a start, "
          f"{seconds / polls * 1e6:.0f} us each (round trip to Xvfb, its work included), "
          f"watcher CPU {cpu / polls * 1e6:.0f} us a poll")


def sign_for_both(harness):
    """The server folder signed with the test key, under a root whose online key it is."""
    sys.path.insert(0, str(ROOT / "tools"))
    import patch_signing
    import root_signing
    root, test_root = WORK / "server", harness.BUILD / "test-root"
    for old in root.glob("LauncherPatchInfo.root.*"):
        old.unlink()
    signers = [patch_signing.KeySigner(test_root / f"root{n}.key") for n in (1, 2)]
    root_signing.new_root(root, signers, [harness.BUILD / "test-signing" / "signing.pub"],
                          built_in_path=test_root / "root-keys.txt")
    patch_signing.sign_folder(root, harness.BUILD / "test-signing" / "signing.key")


def run_key_rounds(harness, args):
    sign_for_both(harness)
    stages = launcher_stages(harness)
    rows = {}
    for exe in ("launcher_keyed.exe", "launcher_rooted.exe"):
        folder = WORK / exe.split(".")[0]
        launcher = harness.Launcher(folder, exe)
        launcher.write_config(VERSION)
        (folder / "update.dat").write_text(f"{harness.INFO_HEAD}{VERSION}\n")
        rows[exe] = []
    # One start of each first, not counted: the rooted one keeps the root it walked to, as a
    # player's machine does after its first start.
    for round_ in range(args.starts + 1):
        for exe in rows:
            folder = WORK / exe.split(".")[0]
            ran, _ = timed_start(harness, args.watch, folder / "launcher.exe", folder, harness.TITLE, stages,
                                 args.interval_us)
            if "ready" not in ran:
                raise RuntimeError(f"{exe}: the start was not seen to its ready state: {ran}")
            if round_:
                rows[exe].append(ran["ready"])
    print(f"from the spawn of wine to the ready frame, {args.starts} alternating starts each ({machine_load()}):")
    for exe, values in rows.items():
        print(f"  {exe + ':':32} {spread(values)}")
    extra = [b - a for a, b in zip(*rows.values())]
    print(f"  {'root keys minus one key:':32} {spread(extra)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
