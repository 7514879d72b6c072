"""The content road over the emulated link: a game-like client published as signed content
releases, installed from nothing and updated by one step (a few entries of its archive changed)
by launcher_content.exe, timed against the floor of the bytes at the link's rate plus the same
run against nginx on the loopback. Used by link_bench.py."""
import filecmp
import json
import random
import shutil
import statistics
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import link_emulation

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
import content_plan  # noqa: E402
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

OLD, NEW = 10001, 10002
LEVEL = 3  # the bench's data compresses alike at any level; 19 would only slow the one-off publishing
HALF_ENTROPY = bytes.maketrans(bytes(range(256)), bytes(b"abcdefghijklmnop"[i % 16] for i in range(256)))


def data(seed, size):
    """Repeatable content: three fifths incompressible, two fifths that halve when compressed."""
    rng = random.Random(seed)
    hard = size * 3 // 5
    return rng.randbytes(hard) + rng.randbytes(size - hard).translate(HALF_ENTROPY)


def archive_entries(mb):
    """[(seed, size)] of the game archive's entries: 64 KiB to 2 MiB each, about mb MB in all."""
    rng = random.Random(mb)
    entries, total = [], 0
    while total < mb * 1_000_000:
        size = rng.randrange(64 << 10, 2 << 20)
        entries.append((1000 + len(entries), size))
        total += size
    return entries


def client_tree(version, mb, stand_in):
    """{name: bytes or (seed, size)} of the client at a version, about mb MB: an archive of many
    entries (half of it), maps, music and a skin. 10002 changes five of the archive's entries
    and one map, adds a quest file and drops a sound."""
    entries = archive_entries(mb // 2)
    files = {"Brevanta.exe": stand_in, "readme.txt": b"QOR Online client\n",
             "data/ui/skin.dat": (3, mb * 50_000)}
    files.update({f"data/maps/field{i:02}.map": (10 + i, mb * 30_000) for i in range(8)})
    files.update({f"data/sound/bgm{i:02}.ogg": (20 + i, mb * 40_000) for i in range(4)})
    if version >= NEW:
        step = len(entries) // 6
        for k in range(1, 6):
            seed, size = entries[k * step]
            entries[k * step] = (seed + 50_000, size + 4096 * k)
        files["data/maps/field03.map"] = (113, mb * 30_000)
        files["data/quests/chapter2.qst"] = (30, mb * 10_000)
        files["readme.txt"] = b"QOR Online client, season 2\n"
        del files["data/sound/bgm03.ogg"]
    files["data/base.pak"] = entries
    return files


def write_tree(folder, files):
    for name, content in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        with open(path, "wb") as out:
            if isinstance(content, bytes):
                out.write(content)
            elif isinstance(content, list):
                for seed, size in content:
                    out.write(data(seed, size))
            else:
                out.write(data(*content))


def tree_files(folder):
    return sorted(p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file())


class ContentSeries:
    """The clients 10001 and 10002 and their signed content releases, made once and kept."""

    def __init__(self, work, mb, build, launcher_version):
        self.folder = work / f"content-{mb}mb"
        self.clients = {v: self.folder / "clients" / str(v) for v in (OLD, NEW)}
        self.root = self.folder / "server"
        self.key = build / "test-signing" / "signing.key"
        stand_in = (build / "stand_in.exe").read_bytes()
        stamp = self.folder / "made.json"
        want = {"mb": mb, "format": 1, "stand_in": len(stand_in), "level": LEVEL}
        if not stamp.exists() or json.loads(stamp.read_text()) != want:
            shutil.rmtree(self.folder, ignore_errors=True)
            for version, folder in self.clients.items():
                write_tree(folder, client_tree(version, mb, stand_in))
                publish_patch.publish_content(folder, version, self.root, level=LEVEL)
            stamp.write_text(json.dumps(want))
        self.sign(launcher_version)

    def sign(self, launcher_version, newest=NEW):
        """[PLAYER] up to the release newest, the build's launcher version in [LAUNCHER] (no
        self-update is due), signed with the build's test key."""
        info = self.root / "LauncherPatchInfo.txt"
        text = info.read_text().splitlines()
        text[text.index("[LAUNCHER]") + 1] = launcher_version
        text = text[:text.index("[PLAYER]") + 1] + [str(v) for v in (OLD, NEW) if v <= newest]
        info.write_text("\n".join(text) + "\n")
        patch_signing.sign_folder(self.root, self.key)
        self.launcher_version = launcher_version

    def plan(self, client, version):
        """content-plan's figures for a player with folder client (None: an empty one)."""
        empty = self.folder / "empty"
        empty.mkdir(exist_ok=True)
        with ThreadPoolExecutor(2) as executor:
            return content_plan.plan(client or empty, self.root, version, executor)


class Road:
    """One road of the content series: where the player starts and the release it must reach."""

    def __init__(self, label, series, start, target, template=None):
        self.label, self.series, self.start, self.target = label, series, start, target
        self.template = template  # a folder the content launcher brought to `start`, or None
        self.plan = series.plan(series.clients[start] if start else None, target)
        self.bytes = self.plan["fetch_bytes"] + self.plan["manifest_bytes"]

    def prepare(self, harness, folder):
        shutil.rmtree(folder, ignore_errors=True)
        if self.template:
            shutil.copytree(self.template, folder, copy_function=shutil.copy2)
        else:
            folder.mkdir(parents=True)
        shutil.copy2(harness.BUILD / "launcher_content.exe", folder / "launcher.exe")

    def check(self, folder):
        client = self.series.clients[self.target]
        missing = [n for n in tree_files(client) if not (folder / n).is_file()
                   or not filecmp.cmp(client / n, folder / n, shallow=False)]
        extra = [n for n in tree_files(folder / "data") if not (client / "data" / n).exists()]
        if missing or extra:
            raise RuntimeError(f"{self.label}: differing or missing {missing[:5]}, left over {extra[:5]}")


def record_version(harness, record):
    try:
        return int(harness.decrypt_record(record.read_bytes()).split()[1])
    except (OSError, ValueError, IndexError):
        return None


class CacheWatch:
    """When the worker's chunk cache (content.cache, made just before the first range request and
    written only by the transfers) appeared and when it last changed: its fetch phase."""

    def __init__(self, folder):
        self.path = folder / "content.cache"
        self.seen = None
        self.first = self.last = None

    def poll(self, now):
        try:
            stat = self.path.stat()
        except OSError:
            return
        state = (stat.st_size, stat.st_mtime_ns)
        if self.first is None:
            self.first = now
        if state != self.seen:
            self.seen, self.last = state, now

    def seconds(self):
        return self.last - self.first if self.first is not None else 0.0


def timed_run(harness, road, folder, timeout):
    """(seconds from the content launcher's spawn to its version record naming the target, written
    once every file is in place just before the ready state; seconds of its fetch phase). The
    folder is checked after."""
    road.prepare(harness, folder)
    run = harness.Launcher.__new__(harness.Launcher)
    run.folder, run.process, run.exit_code = folder, None, None
    cache = CacheWatch(folder)
    started = time.monotonic()
    run.start(timeout=timeout + 30)
    try:
        while (version := record_version(harness, folder / "config")) != road.target:
            # A record read while it is being written decodes to anything: only a release counts.
            if version in (OLD, NEW) and version != road.start:
                raise RuntimeError(f"{road.label}: the launcher went to {version}")
            if time.monotonic() - started > timeout:
                raise RuntimeError(f"{road.label}: no ready state within {timeout} s")
            if not run.running():
                raise RuntimeError(f"{road.label}: the launcher ended with {run.process.returncode}")
            cache.poll(time.monotonic())
            time.sleep(0.01)
        elapsed = time.monotonic() - started
        time.sleep(0.3)
        window = run.wait_window(20)
        look = harness.start_button_look(harness.screenshot(), harness.window_geometry(window)[:2])
    finally:
        run.stop()
    if look != "enabled":
        raise RuntimeError(f"{road.label}: the start button is {look} at the end")
    road.check(folder)
    return elapsed, cache.seconds()


def pack_requests(nginx, mark):
    entries = nginx.entries(mark)
    packs = [e for e in entries if "/Content/packs/" in e["path"]]
    return len(packs), sum(e["body_bytes_sent"] for e in packs), len({e["connection"] for e in entries})


def spread(values, digits=2):
    return (f"min {min(values):8.{digits}f}  median {statistics.median(values):8.{digits}f}  "
            f"max {max(values):8.{digits}f}")


class Profile:
    """Alternating runs of a road over the link (nginx in the namespace, the relay on the
    loopback port) and against nginx on the loopback itself, the latter for the floor."""

    def __init__(self, harness, work, link_nginx, local_nginx, delay_ms, loss, rate_bits):
        self.harness, self.work = harness, work
        self.link_nginx, self.local_nginx = link_nginx, local_nginx
        self.delay_ms, self.loss, self.rate_bits = delay_ms, loss, rate_bits

    def local_run(self, road):
        with self.local_nginx:
            return timed_run(self.harness, road, self.work / "player", timeout=600)

    def link_run(self, road, seed):
        relay = link_emulation.Relay(self.harness.PORT, f"{link_emulation.NAMESPACE_ADDRESS}:{self.harness.PORT}",
                                     self.delay_ms, self.loss, self.work / "relay", seed=seed, lifetime=1800)
        mark = self.link_nginx.log_mark()
        with relay:
            elapsed, fetch = timed_run(self.harness, road, self.work / "player", timeout=1500)
            stats = relay.stop()
        time.sleep(0.3)  # nginx writes a line just after the answer's last byte
        return elapsed, fetch, stats, pack_requests(self.link_nginx, mark)

    def run(self, roads, runs, label):
        results = {road.label: ([], [], []) for road in roads}
        for i in range(runs):
            for road in roads:
                local, times, fetches = results[road.label]
                local.append(self.local_run(road))
                elapsed, fetch, stats, (requests, pack_bytes, connections) = self.link_run(road, seed=i + 1)
                times.append(elapsed)
                fetches.append(fetch)
                stalled = f", {stats['stalls']['to_client']} pieces stalled" if self.loss and stats else ""
                print(f"  {label}, {road.label}, run {i + 1}: {elapsed:.2f} s over the link (fetch phase "
                      f"{fetch:.2f} s), {local[-1][0]:.2f} s on the loopback (fetch phase {local[-1][1]:.2f} s); "
                      f"nginx: {requests} pack request(s), {pack_bytes / 1e6:.2f} MB, {connections} "
                      f"connection(s){stalled}", flush=True)
        for road in roads:
            self.summary(road, *results[road.label], label)

    def summary(self, road, local, times, fetches, label):
        transfer = road.bytes * 8 / self.rate_bits
        # What the launcher does besides transferring (start, checks, survey, building), on the loopback.
        rest = statistics.median(t - f for t, f in local)
        floor = transfer + rest
        print(f"  {label}, {road.label}: {road.bytes / 1e6:.1f} MB to fetch in {road.plan['requests']} range "
              f"request(s) from {len(road.plan['packs_touched'])} pack(s) (content-plan, with the release "
              f"manifest's {road.plan['manifest_bytes'] / 1e3:.0f} KB); floor {floor:.2f} s = {transfer:.2f} s at "
              f"{self.rate_bits / 1e6:.0f} Mbit/s + {rest:.2f} s outside the fetch phase on the loopback (median "
              f"of {', '.join(f'{t - f:.2f}' for t, f in local)}; whole loopback runs "
              f"{', '.join(f'{t:.2f}' for t, _ in local)} s)")
        print(f"    spawn to ready (s):        {spread(times)}  ({len(times)} runs)")
        print(f"    floor / run:               {spread([floor / t for t in times], 3)}")
        print(f"    fetch phase (s):           {spread(fetches)}")
        print(f"    fetch phase, MB/s:         {spread([road.bytes / 1e6 / max(f, 0.001) for f in fetches])}  "
              f"(the link: {self.rate_bits / 8e6:.2f})")
        print(f"    rest of the run (s):       {spread([t - f for t, f in zip(times, fetches)])}", flush=True)


def make_template(harness, series, work, local_nginx):
    """A folder the content launcher installed 10001 into (with its local state), copied for every
    update run so that it starts as a content player's would."""
    template = work / f"installed-{OLD}-{series.folder.name}"
    road = Road(f"install {OLD}", series, None, OLD)
    series.sign(series.launcher_version, newest=OLD)
    try:
        with local_nginx:
            timed_run(harness, road, template, timeout=600)
    finally:
        series.sign(series.launcher_version)
    (template / "launcher.exe").unlink()
    return template


def content_roads(harness, series, work, local_nginx):
    template = make_template(harness, series, work, local_nginx)
    return [Road(f"install {NEW} from nothing", series, None, NEW),
            Road(f"update {OLD} to {NEW}", series, OLD, NEW, template=template)]


def local_nginx_for(series, harness, work, nginx_class, certs):
    return nginx_class(series.root, harness.PORT, certs, work / "nginx-local", listen="127.0.0.1", lifetime=900)


def content_profile(harness, work, series, link, nginx_class, certs, delay_ms, loss, rate_bits, runs, label):
    """Runs one profile of the content road; nginx in the namespace serves series for its length."""
    local = local_nginx_for(series, harness, work, nginx_class, certs)
    roads = content_roads(harness, series, work, local)
    there = nginx_class(series.root, harness.PORT, certs, work / "nginx", listen=link_emulation.NAMESPACE_ADDRESS,
                        netns=link.name, lifetime=3600)
    with there:
        Profile(harness, work, there, local, delay_ms, loss, rate_bits).run(roads, runs, label)


def content_series(work, mb, harness):
    started = time.monotonic()
    series = ContentSeries(work, mb, harness.BUILD, harness.LAUNCHER_VERSION)
    sizes = sum((series.clients[NEW] / n).stat().st_size for n in tree_files(series.clients[NEW]))
    print(f"content series: {len(tree_files(series.clients[NEW]))} files, {sizes / 1e6:.1f} MB in release {NEW} "
          f"(published at zstd level {LEVEL}, default chunk sizes; ready in {time.monotonic() - started:.1f} s)",
          flush=True)
    return series
