"""The demo's content act: a content launcher installs the client into an empty folder from a
signed content release, then updates it when a release changes a few entries of a large archive;
the terminal compares the bytes nginx sent with the classic zip patch of the same step."""
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

import harness
import nginx_server

ROOT = Path(__file__).resolve().parents[1]
PUBLISH = ROOT / "tools" / "publish_patch.py"
ARCHIVE = "data/world.pk3"
# The first content release follows the classic series of the first act (10001 to 10004).
INSTALLED, UPDATED = 10005, 10006
# Entries the second release changes (and adds): a few of the archive's 180.
CHANGED = ("maps/e1m05.bsp", "textures/wall042.tga", "scripts/quests.shader")
ADDED = "maps/e1m16.bsp"
# Game data deflates to about 57 %: bytes of a 16-symbol alphabet.
SEMI = bytes(0x30 + (i & 15) for i in range(256))
STAMP = (2026, 1, 1, 0, 0, 0)
# Slower than the loopback, so the status line can be watched and photographed while it fetches.
RATE = 4_000_000
START_BUTTON = (77, 406)
EXIT_BUTTON = (335 + 47, 364 + 19)


def semi_compressible(name, size):
    return random.Random(name).randbytes(size).translate(SEMI)


def archive_entries(version):
    """{name: (data, deflated)} of data/world.pk3 at a release: maps, textures and scripts
    deflated, sounds stored (already compressed), in a repeatable order and content."""
    entries = {}
    for i in range(16):
        entries[f"maps/e1m{i:02}.bsp"] = (semi_compressible(f"map{i}", 800_000), True)
    for i in range(96):
        entries[f"textures/wall{i:03}.tga"] = (semi_compressible(f"texture{i}", 160_000), True)
    for i in range(48):
        entries[f"sound/amb{i:03}.ogg"] = (random.Random(f"sound{i}").randbytes(600_000), False)
    for i in range(20):
        entries[f"scripts/s{i:02}.shader"] = (semi_compressible(f"script{i}", 20_000), True)
    entries["scripts/quests.shader"] = (semi_compressible("quests", 20_000), True)
    if version >= UPDATED:
        entries["maps/e1m05.bsp"] = (semi_compressible("map5, season 3", 820_000), True)
        entries["textures/wall042.tga"] = (semi_compressible("texture42, season 3", 160_000), True)
        quests = bytearray(entries["scripts/quests.shader"][0])
        quests[9000:9016] = b"chapter 3 opens."
        entries["scripts/quests.shader"] = (bytes(quests), True)
        entries[ADDED] = (semi_compressible("map16", 800_000), True)
    return entries


def write_archive(path, version):
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w") as z:
        for name, (data, deflated) in sorted(archive_entries(version).items()):
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED if deflated else zipfile.ZIP_STORED
            z.writestr(info, data, compresslevel=6 if deflated else None)


def content_client(base_files, version, folder, write_tree):
    """The demo client of the first act at 10004 with the archive at this release."""
    write_tree(folder, base_files)
    write_archive(folder / ARCHIVE, version)
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def building_part(name):
    """Whether name is the partial file of a client file the worker builds (NAME.~N.part), not
    one of the launcher's own (update.*, content.*)."""
    return name.endswith(".part") and ".~" in name and not name.startswith(("update.", "content."))


def megabytes(count):
    return f"{count / 1e6:.1f} MB"


class ContentAct:
    def __init__(self, demo, server_dir, work, port, say, window_shot, headless):
        self.demo, self.work, self.port, self.headless = demo, work, port, headless
        self.say, self.window_shot = say, window_shot
        self.root = server_dir / "content-root"
        self.key = demo / "test-signing" / "signing.key"
        self.server = nginx_server.NginxServer(self.root, port, server_dir / "certs", server_dir / "nginx-content",
                                               limit_rate=RATE, lifetime=600)
        self.folder = work / "content-player"
        self.watch_mark = 0

    # -- the operator

    def publish(self, client, version, old=None):
        command = [sys.executable, str(PUBLISH), "content", "--new", str(client), "--version", str(version),
                   "--out", str(self.root), "--sign-key", str(self.key)] + (["--old", str(old)] if old else [])
        shown = " ".join(str(Path(c).relative_to(self.demo)) if c.startswith(str(self.demo)) else c
                         for c in command[2:])
        self.say(f"operator: publish_patch.py {shown}")
        result = subprocess.run(command, capture_output=True, text=True, timeout=600)
        for line in (result.stdout + result.stderr).splitlines():
            self.say(f"  {line}")
        if result.returncode != 0:
            raise SystemExit(f"demo: publishing release {version} failed ({result.returncode})")

    # -- the player

    def poll(self):
        entries, self.watch_mark = nginx_server.follow_access_log(self.server.access_log, self.watch_mark)
        for e in entries:
            name = e["path"].split(harness.BASE_PATH, 1)[-1].lstrip("/")
            ranged = f" {e['range']}" if e["range"] else ""
            what = "fetched" if e["method"] == "GET" else f"asked for ({e['method']})"
            self.say(f"launcher {what} {name}{ranged} ({e['body_bytes_sent']} bytes, {e['status']}, "
                     f"request {e['requests']} on connection {e['connection']})")

    def ready(self, window, version):
        try:
            if harness.record_version(self.folder) != version:
                return False
        except (OSError, ValueError, IndexError):
            return False
        origin = harness.try_geometry(window)
        return origin is not None and harness.start_button_look(harness.screenshot(), origin[:2]) == "enabled"

    def run(self, version, shots):
        """Starts the launcher in the player's folder and photographs the content texts: shots
        maps "fetching" and "building" (seen from the cache and the partial files the worker
        makes) and "ready" to screenshot names. Returns the run and its window."""
        harness.move_pointer(0, 0)  # over a button it would show a hover
        run = harness.Launcher.__new__(harness.Launcher)
        run.folder, run.process, run.exit_code = self.folder, None, None
        run.start("-demo", timeout=300)
        window = run.wait_window(60)
        taken, fetching_since = set(), None
        deadline = time.time() + 240
        while not self.ready(window, version):
            if time.time() > deadline:
                raise SystemExit(f"demo: the content launcher did not reach {version} in time")
            if not run.running():
                raise SystemExit(f"demo: the content launcher ended early with exit code {run.process.returncode}")
            building = any(building_part(p.name) for p in self.folder.rglob("*"))
            if building and "building" in shots and "building" not in taken:
                self.window_shot(shots["building"], window)
                taken.add("building")
            elif not building and (self.folder / "content.cache").exists() and "fetching" not in taken:
                fetching_since = fetching_since or time.time()
                # A second in, the line and the bars have moved.
                if "fetching" in shots and time.time() - fetching_since > 1.0:
                    self.window_shot(shots["fetching"], window)
                    taken.add("fetching")
            self.poll()
            time.sleep(0.05)
        time.sleep(0.5)
        self.poll()
        missed = [phase for phase in shots if phase != "ready" and phase not in taken]
        if missed:
            self.say(f"(the {', '.join(missed)} state passed between two looks: no screenshot of it)")
        self.window_shot(shots["ready"], window)
        return run, window

    def press(self, run, window, button, label):
        """The button pressed (on Xvfb) or asked for (on the user's display); the exit code."""
        if not self.headless:
            self.say(f"press the {label} button to go on")
            return run.wait(600)
        self.say(f"pressing the {label} button")
        x, y, _, _ = harness.window_geometry(window)
        harness.click(x + button[0], y + button[1])
        return run.wait(30)

    def check_folder(self, files, version):
        own = {"launcher.exe", "config"}
        found = {p.relative_to(self.folder).as_posix(): p for p in self.folder.rglob("*") if p.is_file()
                 and p.relative_to(self.folder).as_posix() not in own and not p.name.startswith(("content.", "update."))
                 and not p.name.endswith(".started.txt")}
        differs = sorted(n for n in files if n not in found or found[n].read_bytes() != files[n])
        extra = sorted(set(found) - set(files))
        if differs or extra or harness.record_version(self.folder) != version:
            raise SystemExit(f"demo: the content folder differs from release {version}: {differs}, extra {extra}")

    def fetched(self, mark):
        # body_bytes_sent: what nginx sent of the file, for a range request the range's bytes.
        entries = self.server.entries(mark)
        content = [e for e in entries if "/Content/" in e["path"]]
        return (sum(e["body_bytes_sent"] for e in entries), len(entries),
                sum(e["body_bytes_sent"] for e in content), len(content))

    # -- the act

    def play(self, base_files, write_tree):
        self.say("act three: a content launcher (launcher_content.exe, keyed with the demo build's "
                 "test-signing key) installs the client into an empty folder, then updates one archive")
        clients = {v: self.work / "clients" / str(v) for v in (INSTALLED, UPDATED)}
        started = time.time()
        files = {v: content_client(base_files, v, clients[v], write_tree) for v in clients}
        size = (clients[INSTALLED] / ARCHIVE).stat().st_size
        self.say(f"the client has {len(files[INSTALLED])} files, {ARCHIVE} a zip archive of "
                 f"{len(archive_entries(INSTALLED))} entries and {megabytes(size)} (made in {time.time() - started:.1f} s)")
        for stale in (self.root, self.folder):
            if stale.exists():
                shutil.rmtree(stale)
        if os.path.exists(self.server.access_log):
            os.unlink(self.server.access_log)
        self.root.mkdir(parents=True)
        self.publish(clients[INSTALLED], INSTALLED)
        try:
            self.server.start()
        except RuntimeError as error:
            raise SystemExit(f"demo: nginx did not start: {error}")
        try:
            return self.install_and_update(clients, files)
        finally:
            self.server.stop()

    def install_and_update(self, clients, files):
        self.say(f"nginx on https://127.0.0.1:{self.port}{harness.BASE_PATH} serves {self.root} "
                 f"(pid {self.server.master_pid()}, byte ranges, paced at {RATE // 1000} KB/s)")
        harness.Launcher(self.folder, "launcher_content.exe")
        self.say(f"player folder {self.folder} holds launcher.exe alone")
        mark = self.server.log_mark()
        run, window = self.run(INSTALLED, {"fetching": "8-content-install-downloading",
                                           "building": "9-content-install-building",
                                           "ready": "10-content-installed-ready"})
        self.check_folder(files[INSTALLED], INSTALLED)
        total, requests, content, ranges = self.fetched(mark)
        client_bytes = sum(len(d) for d in files[INSTALLED].values())
        self.say(f"content install: {len(files[INSTALLED])} files, {megabytes(client_bytes)}, equal to release "
                 f"{INSTALLED} byte for byte; fetched {megabytes(total)} in {requests} requests "
                 f"({megabytes(content)} in {ranges} of them from Content/)")
        if self.press(run, window, EXIT_BUTTON, "exit") is None:
            run.stop()
            raise SystemExit("demo: the content launcher did not end on its exit button")

        self.say(f"the operator changes {len(CHANGED)} entries of {ARCHIVE} and adds one ({ADDED})")
        self.publish(clients[UPDATED], UPDATED, old=clients[INSTALLED])
        classic = sum(p.stat().st_size for p in (self.root / "Player").glob(f"patch_{UPDATED}*.zip"))
        mark = self.server.log_mark()
        run, window = self.run(UPDATED, {"building": "11-content-update-building", "ready": "12-content-updated-ready"})
        self.check_folder(files[UPDATED], UPDATED)
        total, requests, content, ranges = self.fetched(mark)
        self.say(f"the launcher updated {INSTALLED} to {UPDATED}; the folder equals release {UPDATED} byte for byte")
        summary = (f"fetched {megabytes(total)} in {requests} requests; the classic patch would be "
                   f"{megabytes(classic)} ({total / classic:.3f})")
        self.say(f"content: {summary}")
        self.say(f"  of it Content/ (release manifest and pack ranges): {content} bytes in {ranges} requests; "
                 f"patch_{UPDATED}.zip, written by the same publication, is {classic} bytes")
        code = self.press(run, window, START_BUTTON, "start")
        record = harness.wait_until(lambda: run.started_record("Brevanta.exe"), timeout=15)
        if code != 0 or not record:
            run.stop()
            raise SystemExit(f"demo: the updated content client ended with {code}, game started {bool(record)}")
        self.say(f"the game was started from the content-installed folder: {record['commandline']}")
        served = self.server.entries()
        self.say(f"nginx (content) answered {len(served)} requests on {len({e['connection'] for e in served})} "
                 f"connections; access log {self.server.access_log}")
        return summary
