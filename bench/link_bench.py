#!/usr/bin/python3
"""The classic road's whole patch run over an emulated player's link: the demo's series (10001
to 10004: three archives and a plain file) scaled to more than 200 MB of downloads, served by
nginx inside a network namespace behind a 50 Mbit/s tbf, with 20 ms each way (and, in a second
profile, 1% loss) from link_relay.py on 127.0.0.1:TEST_PATCH_PORT, where the test build's
launcher looks for its patch server. Each run is timed from the launcher's spawn to its ready
state and set against the floor: the bytes at the link's rate, the pauses the downloader keeps
(500 ms after every file, another 500 ms after every unpacked archive) and the time the same
build's ExtractArchive takes to unpack the same archives locally. The content road
(link_content.py) installs a game-like client from nothing and updates it by one step with
launcher_content.exe over the same link, against the bytes at the rate plus the same run on the
loopback. With the content road, the player's speed limit (link_limit.py) is held to 1, 2 and
5 MB/s and off over a 30 s window of the same install. Prints figures only.

    link_bench.py [--road classic|content|limit|both] [--runs 3] [--loss-runs 1] [--loss-scale 4] [--scale 16]
                  [--content-mb 250] [--content-loss-mb 50] [--content-runs 3] [--content-loss-runs 2]
                  [--limit-runs 3]

Needs root (namespace, veth, qdiscs); everything it makes is removed at its end, also when it
is interrupted, and every process it starts is bounded in time and ended by its pid."""
import argparse
import filecmp
import json
import random
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

import bench_prefix
import link_content
import link_limit
import link_emulation
import startup_bench

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "tests" / "support"))
import publish_patch  # noqa: E402

WORK = bench_prefix.BENCH / "link"
RATE_BITS = 50_000_000
DELAY_MS = 20
LOSS = 0.01
PAUSE_MS = 500  # kSettlePauseMs: after every file, and after every unpacked archive
# Bytes with 4 bits of entropy each: deflate halves them, as it does much of a game's data.
HALF_ENTROPY = bytes.maketrans(bytes(range(256)), bytes(b"abcdefghijklmnop"[i % 16] for i in range(256)))


def data(seed, size):
    """Repeatable content: three fifths incompressible, two fifths that deflate halves."""
    rng = random.Random(seed)
    hard = size * 3 // 5
    return rng.randbytes(hard) + rng.randbytes(size - hard).translate(HALF_ENTROPY)


def client_tree(version, scale, stand_in):
    """The demo's client at a version, every data file `scale` times larger."""
    mb = 1_000_000 * scale
    files = {"Brevanta.exe": stand_in, "data/base.pak": (1, 2 * mb), "readme.txt": b"QOR Online client\n"}
    if version >= 10002:
        files["data/maps/field01.map"] = (2, 3 * mb)
        files["data/sound/bgm01.ogg"] = (3, 4 * mb)
    if version >= 10003:
        files["data/maps/field01.map"] = (4, int(3.5 * mb))
        files["data/ui/skin/buttons.dat"] = (5, int(2.5 * mb))
        files["readme.txt"] = b"QOR Online client, season 2\n"
    if version >= 10004:
        files["data/quests/chapter2.qst"] = (6, 3 * mb)
    return files


def write_tree(folder, files):
    for name, content in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content if isinstance(content, bytes) else data(*content))


class Series:
    """The clients and the published patch folder of one scale, made once and kept."""

    def __init__(self, scale, build):
        self.folder = WORK / f"series-x{scale}"
        self.clients = {v: self.folder / "clients" / str(v) for v in (10001, 10002, 10003, 10004)}
        self.root = self.folder / "server"
        stand_in = (build / "stand_in.exe").read_bytes()
        stamp = self.folder / "made.json"
        want = {"scale": scale, "format": 1, "stand_in": len(stand_in)}
        if not stamp.exists() or json.loads(stamp.read_text()) != want:
            shutil.rmtree(self.folder, ignore_errors=True)
            for version, folder in self.clients.items():
                write_tree(folder, client_tree(version, scale, stand_in))
            for version in (10002, 10003, 10004):
                publish_patch.publish(self.clients[version - 1], self.clients[version], version, self.root)
            (self.root / "Player" / "notice.txt").write_text("Welcome to season 2!\n")
            info = self.root / "LauncherPatchInfo.txt"
            info.write_text(info.read_text().replace("10004 patch_10004.zip", "10004 patch_10004.zip notice.txt"))
            stamp.write_text(json.dumps(want))
        self.files = [name for line in (self.root / "LauncherPatchInfo.txt").read_text().splitlines()
                      if line[:1].isdigit() for name in line.split()[1:]]
        self.archives = [n for n in self.files if n.lower().endswith("zip")]
        self.bytes = sum((self.root / "Player" / n).stat().st_size for n in self.files)

    def patch_info(self, launcher_version):
        """The series' patch information with the build's launcher version, so no update is due."""
        text = (self.root / "LauncherPatchInfo.txt").read_text().splitlines()
        at = text.index("[LAUNCHER]")
        text[at + 1] = launcher_version
        (self.root / "LauncherPatchInfo.txt").write_text("\n".join(text) + "\n")


def unpack_seconds(harness, series):
    """ExtractArchive of the build on the series' archives, in order, on local files; the
    median of three rounds, each into a fresh folder."""
    totals = []
    for round_ in range(3):
        target = WORK / "unpack"
        shutil.rmtree(target, ignore_errors=True)
        target.mkdir(parents=True)
        names = []
        for name in series.archives:
            shutil.copy2(series.root / "Player" / name, target / name)
            names.append(name)
        result = harness.run_wine([harness.BUILD / "transfer_win32_bench.exe", "--unpack", *names], timeout=600,
                                  cwd=target)
        lines = [line.split() for line in result.stdout.decode().splitlines() if line.startswith("unpack ")]
        if result.returncode != 0 or len(lines) != len(names) or any(f[3] != "ok" for f in lines):
            raise RuntimeError(f"local unpacking failed: {result.stdout!r} {result.stderr!r}")
        totals.append(sum(float(f[2]) for f in lines))
    shutil.rmtree(WORK / "unpack", ignore_errors=True)
    return statistics.median(totals), totals


def prepare_player(harness, series):
    folder = WORK / "player"
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(series.clients[10001], folder)
    shutil.copy2(harness.BUILD / "launcher.exe", folder / "launcher.exe")
    (folder / "config").write_bytes(harness.encrypt_record(10001))
    return folder


def timed_run(harness, series, timeout):
    """One patch run: seconds from the spawn to the version record naming 10004, which the
    worker writes just before it sets the ready state."""
    folder = prepare_player(harness, series)
    record = folder / "config"
    run = harness.Launcher.__new__(harness.Launcher)
    run.folder, run.process, run.exit_code = folder, None, None
    seen, version = None, 10001
    started = time.monotonic()
    run.start(timeout=timeout + 30)
    try:
        while time.monotonic() - started < timeout:
            try:
                content = record.read_bytes()
            except OSError:
                content = seen
            if content != seen:
                seen = content
                try:
                    version = int(harness.decrypt_record(content).split()[1])
                except (ValueError, IndexError):
                    pass
            if version == 10004:
                elapsed = time.monotonic() - started
                break
            if not run.running():
                raise RuntimeError(f"the launcher ended with {run.process.returncode} at version {version}")
            time.sleep(0.01)
        else:
            raise RuntimeError(f"no ready state within {timeout} s (version {version})")
        # The ready frame follows within a tick; the start button must then be enabled.
        time.sleep(0.3)
        window = run.wait_window(20)
        look = harness.start_button_look(harness.screenshot(), harness.window_geometry(window)[:2])
    finally:
        run.stop()
    differing = [n for n in harness_files(series.clients[10004]) if not filecmp.cmp(series.clients[10004] / n,
                                                                                     folder / n, shallow=False)]
    left = sorted(p.name for p in folder.glob("*.zip"))
    if look != "enabled" or differing or left:
        raise RuntimeError(f"run ended with the start button {look}, differing files {differing}, archives {left}")
    return elapsed


def harness_files(folder):
    return [p.relative_to(folder).as_posix() for p in sorted(folder.rglob("*")) if p.is_file()]


def curl_speed(harness, series, nginx_port):
    """What a plain client gets through the relay and the tbf on one file."""
    largest = max(series.archives, key=lambda n: (series.root / "Player" / n).stat().st_size)
    relay = link_emulation.Relay(harness.PORT, f"{link_emulation.NAMESPACE_ADDRESS}:{nginx_port}", DELAY_MS, 0.0,
                                 WORK / "relay", lifetime=300)
    with relay:
        result = subprocess.run(["timeout", "240", "curl", "-s", "--cacert", str(bench_prefix.CERTS / "ca.pem"),
                                 "-o", "/dev/null", "-w", "%{speed_download}",
                                 f"{harness.BASE_URL}/Player/{largest}"], capture_output=True, text=True)
    return float(result.stdout or 0) / 1e6


def floor_of(series, unpack):
    transfer = series.bytes * 8 / RATE_BITS
    pauses = PAUSE_MS / 1000 * (len(series.files) + len(series.archives))
    return transfer + pauses + unpack, transfer, pauses


def profile(harness, nginx_port, series, loss, runs, label):
    unpack, rounds = unpack_seconds(harness, series)
    floor, transfer, pauses = floor_of(series, unpack)
    print(f"{label}: {series.bytes / 1e6:.1f} MB in {len(series.files)} files ({len(series.archives)} archives); "
          f"floor {floor:.2f} s = {transfer:.2f} s at 50 Mbit/s + {pauses:.1f} s of pauses + "
          f"{unpack:.2f} s unpacking (local ExtractArchive, median of {', '.join(f'{r:.2f}' for r in rounds)})",
          flush=True)
    if not loss:
        print(f"  curl over the same link (context): {curl_speed(harness, series, nginx_port):.2f} MB/s on "
              f"the largest archive", flush=True)
    times, stalls = [], []
    for i in range(runs):
        relay = link_emulation.Relay(harness.PORT, f"{link_emulation.NAMESPACE_ADDRESS}:{nginx_port}", DELAY_MS,
                                     loss, WORK / "relay", seed=i + 1, lifetime=1800)
        with relay:
            times.append(timed_run(harness, series, timeout=1200))
            stats = relay.stop()
        if stats:
            stalls.append(stats["stalls"]["to_client"])
        moving = times[-1] - pauses - unpack
        print(f"  run {i + 1}: {times[-1]:.2f} s, {floor / times[-1]:.3f} of the floor; "
              f"{series.bytes / 1e6 / moving:.2f} MB/s over the rest of the run"
              + (f" ({stalls[-1]} pieces stalled)" if loss and stalls else ""), flush=True)
    ratios = [floor / t for t in times]
    print(f"  ({startup_bench.machine_load()})")
    print(f"  {label}, spawn to ready (s):  min {min(times):8.2f}  median {statistics.median(times):8.2f}  "
          f"max {max(times):8.2f}  ({runs} runs)")
    print(f"  {label}, floor / run:         min {min(ratios):8.3f}  median {statistics.median(ratios):8.3f}  "
          f"max {max(ratios):8.3f}" + ("  (goal at least 0.85)" if not loss else ""))


def stop_on_signals():
    def handler(signum, _frame):
        raise SystemExit(f"link bench: interrupted by signal {signum}")
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, handler)


def arguments():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--road", choices=("classic", "content", "limit", "both"), default="both",
                   help="both: classic and content, the latter with the limit's runs")
    p.add_argument("--runs", type=int, default=3, help="classic runs without loss")
    p.add_argument("--loss-runs", type=int, default=1, help="classic runs with 1%% loss (0: none)")
    p.add_argument("--scale", type=int, default=16, help="the demo's data files times this (16: 207 MB)")
    p.add_argument("--loss-scale", type=int, default=4,
                   help="the scale of the lossy profile's series (at 1%% loss the link moves about a tenth)")
    p.add_argument("--content-mb", type=int, default=250, help="size of the content road's client (MB)")
    p.add_argument("--content-loss-mb", type=int, default=50, help="its size for the lossy profile (MB)")
    p.add_argument("--content-runs", type=int, default=3, help="content runs of each road without loss")
    p.add_argument("--content-loss-runs", type=int, default=2, help="content runs of each road with 1%% loss")
    p.add_argument("--limit-runs", type=int, default=3, help="runs of each speed limit (0: none)")
    return p.parse_args()


def classic_profiles(harness, link, args):
    from nginx_server import NginxServer
    nginx_port = harness.PORT
    for loss, runs, scale, label in ((0.0, args.runs, args.scale, "no loss"),
                                     (LOSS, args.loss_runs, args.loss_scale, "1% loss")):
        if runs <= 0:
            continue
        series = Series(scale, harness.BUILD)
        series.patch_info(harness.LAUNCHER_VERSION)
        (WORK / "nginx").mkdir(exist_ok=True)
        with NginxServer(series.root, nginx_port, bench_prefix.CERTS, WORK / "nginx",
                         listen=link_emulation.NAMESPACE_ADDRESS, netns=link.name, lifetime=1800):
            profile(harness, nginx_port, series, loss, runs,
                    label if scale == args.scale else f"{label} (series at {scale}/{args.scale} of the size)")


def content_profiles(harness, link, args):
    from nginx_server import NginxServer
    for loss, runs, mb, label in ((0.0, args.content_runs, args.content_mb, "content, no loss"),
                                  (LOSS, args.content_loss_runs, args.content_loss_mb, "content, 1% loss")):
        if runs <= 0:
            continue
        series = link_content.content_series(WORK, mb, harness)
        link_content.content_profile(harness, WORK, series, link, NginxServer, bench_prefix.CERTS, DELAY_MS, loss,
                                     RATE_BITS, runs, label)
        print(f"  ({startup_bench.machine_load()})", flush=True)


def limit_profile(harness, link, args):
    from nginx_server import NginxServer
    series = link_content.content_series(WORK, args.content_mb, harness)
    link_limit.limit_profile(harness, WORK, series, link, NginxServer, bench_prefix.CERTS, DELAY_MS, RATE_BITS,
                             args.limit_runs)
    print(f"  ({startup_bench.machine_load()})", flush=True)


def main():
    args = arguments()
    reason = link_emulation.cannot_run()
    if reason:
        print(f"link bench: skipped: {reason}")
        return 0
    stop_on_signals()
    WORK.mkdir(parents=True, exist_ok=True)
    harness = bench_prefix.use()
    link = link_emulation.Link()
    try:
        link.up()
        here, there = link.qdiscs()
        print(f"link: namespace {link.name}, {link_emulation.HOST_ADDRESS} -- {link_emulation.NAMESPACE_ADDRESS}; "
              f"tbf {here[here.find('rate'):]} on both ends; relay on 127.0.0.1:{harness.PORT}, {DELAY_MS} ms each way")
        if args.road in ("classic", "both"):
            classic_profiles(harness, link, args)
        if args.road in ("content", "both"):
            content_profiles(harness, link, args)
        if args.road in ("content", "limit", "both") and args.limit_runs > 0:
            limit_profile(harness, link, args)
    finally:
        link.down()
        bench_prefix.stop()
        print(f"link: namespace, veth pair and qdiscs removed ({'gone' if not link.exists() else 'STILL THERE'})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
