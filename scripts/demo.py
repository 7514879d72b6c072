#!/usr/bin/python3
"""The demo: a client at 10001, a patch series up to 10004 served over HTTPS on 127.0.0.1 by
nginx, and the real launcher patching it under Wine, then starting the (stand-in) game. In a second
act the operator publishes launcher 1.1.1.25 and the launcher updates itself through the
Updater, which checks the server's certificate in full, and comes back ready. In a third act
a content launcher installs the client into an empty folder from a signed content release, then
updates it when a few entries of a large archive change (scripts/demo_content.py).

Run by scripts/demo.sh after the build. Without a display of the user's it runs on Xvfb,
saves a screenshot of each stage and presses the start button itself."""
import collections
import os
import random
import shutil
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "tools"))

DEMO = Path(os.environ["DEMO_BUILD"])
PORT = int(os.environ["DEMO_PORT"])
os.environ["TEST_BUILD_DIR"] = str(DEMO)
os.environ["TEST_PATCH_PORT"] = str(PORT)
os.environ["TEST_PATCH_STATE"] = str(DEMO / "server")

import demo_content  # noqa: E402
import harness  # noqa: E402
import nginx_server  # noqa: E402
import publish_patch  # noqa: E402

HEADLESS = os.environ.get("DEMO_HEADLESS") == "1"
WORK = DEMO / "run"
SHOTS = DEMO / "screenshots"
SERVER = DEMO / "server"


def say(text):
    print(f"demo: {text}", flush=True)


def data(seed, size):
    """Incompressible but repeatable content, so archives have a real size to download."""
    return random.Random(seed).randbytes(size)


def client_tree(version):
    """The game client as it is at a version: each step changes and adds a few files."""
    files = {
        "Brevanta.exe": (DEMO / "stand_in.exe").read_bytes(),
        "data/base.pak": data(1, 2_000_000),
        "readme.txt": b"QOR Online client\n",
    }
    if version >= 10002:
        files["data/maps/field01.map"] = data(2, 3_000_000)
        files["data/sound/bgm01.ogg"] = data(3, 4_000_000)
    if version >= 10003:
        files["data/maps/field01.map"] = data(4, 3_500_000)
        files["data/ui/skin/buttons.dat"] = data(5, 2_500_000)
        files["readme.txt"] = b"QOR Online client, season 2\n"
    if version >= 10004:
        files["data/quests/chapter2.qst"] = data(6, 3_000_000)
    return files


def write_tree(folder, files):
    for name, data in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def make_patch_series():
    if WORK.exists():
        shutil.rmtree(WORK)
    root = SERVER / "root"
    if root.exists():
        shutil.rmtree(root)
    clients = {}
    for version in (10001, 10002, 10003, 10004):
        clients[version] = WORK / "clients" / str(version)
        write_tree(clients[version], client_tree(version))
    for version in (10002, 10003, 10004):
        line, changed, _ = publish_patch.publish(clients[version - 1], clients[version], version, root)
        say(f"published {line!r} ({len(changed)} changed files)")
    # A plain file beside the archives: a step may carry files that are not archives.
    (root / "Player" / "notice.txt").write_text("Welcome to season 2!\n")
    info = root / "LauncherPatchInfo.txt"
    info.write_text(info.read_text().replace("10004 patch_10004.zip", "10004 patch_10004.zip notice.txt"))
    return clients


def start_server():
    """nginx as an operator runs it, its configuration, logs and pid file in the build tree."""
    (SERVER / "root").mkdir(parents=True, exist_ok=True)
    # Paced, so that the bars can be watched, and fast enough to finish in seconds.
    server = nginx_server.NginxServer(SERVER / "root", PORT, SERVER / "certs", SERVER / "nginx",
                                      limit_rate=2_000_000, lifetime=600)
    if os.path.exists(server.access_log):
        os.unlink(server.access_log)
    try:
        server.start()
    except RuntimeError as error:
        raise SystemExit(f"demo: nginx did not start: {error}")
    say(f"nginx on https://127.0.0.1:{PORT}{harness.BASE_PATH} (pid {server.master_pid()}, "
        f"configuration {server.config_path})")
    return server


def prepare_player_folder(clients):
    folder = WORK / "player"
    shutil.copytree(clients[10001], folder)
    shutil.copy2(DEMO / "launcher.exe", folder / "launcher.exe")
    shutil.copy2(DEMO / "Updater.exe", folder / "Updater.exe")  # shipped beside the launcher
    (folder / "config").write_bytes(harness.encrypt_record(10001))
    return folder


class Watcher:
    """Tells on the terminal what the launcher does, from nginx's access log and the record."""

    def __init__(self, folder, server):
        self.folder = folder
        self.server = server
        self.mark = 0
        self.version = None

    def poll(self):
        entries, self.mark = nginx_server.follow_access_log(self.server.access_log, self.mark)
        for entry in entries:
            name = entry["path"].split(harness.BASE_PATH, 1)[-1]
            who = "Updater" if entry["agent"] == "Updater" else "launcher"
            if entry["method"] == "GET" and name.endswith("LauncherPatchInfo.txt"):
                say(f"launcher fetched the patch information ({entry['status']})")
            elif entry["method"] == "GET":
                say(f"{who} downloaded {name.lstrip('/')} ({entry['body_bytes_sent']} bytes, {entry['status']}, "
                    f"request {entry['requests']} on connection {entry['connection']})")
        try:
            version = harness.record_version(self.folder)
        except (OSError, ValueError, IndexError):
            version = None
        if version != self.version and version is not None:
            if self.version is not None:
                say(f"installed client version is now {version}")
            self.version = version
        return self.version


def shot(name):
    if not HEADLESS:
        return
    SHOTS.mkdir(parents=True, exist_ok=True)
    path = SHOTS / f"{name}.png"
    harness.screenshot(path)
    say(f"screenshot {path}")


def window_shot(name, window):
    """A screenshot cropped to the launcher window."""
    if not HEADLESS:
        return
    SHOTS.mkdir(parents=True, exist_ok=True)
    x, y, w, h = harness.window_geometry(window)
    full = harness.screenshot()
    path = SHOTS / f"{name}.png"
    full.crop((x, y, x + w, y + h)).save(path)
    say(f"screenshot {path}")


def run_launcher(folder, watcher, expect_patching):
    run = harness.Launcher.__new__(harness.Launcher)
    run.folder, run.process, run.exit_code = folder, None, None
    run.start("-demo", timeout=300)
    window = run.wait_window(60)
    window_shot("1-checking" if expect_patching else "4-second-run", window)
    bars_seen = False
    deadline = time.time() + 240
    while time.time() < deadline:
        version = watcher.poll()
        if expect_patching and not bars_seen and version is not None and version >= 10002:
            time.sleep(0.3)
            window_shot("2-downloading", window)
            bars_seen = True
        if version == 10004:
            break
        if not run.running():
            raise SystemExit(f"demo: the launcher ended early with exit code {run.process.returncode}")
        time.sleep(0.2)
    else:
        raise SystemExit("demo: patching did not finish in time")
    time.sleep(2.0)  # the worker's last pauses, then the ready frame
    watcher.poll()
    say("launcher is ready to start the game")
    window_shot("3-ready" if expect_patching else "5-second-run-ready", window)
    if HEADLESS:
        x, y, _, _ = harness.window_geometry(window)
        say("pressing the start button")
        harness.click(x + 77, y + 406)
    else:
        say("press the round start button (or close the launcher) to finish")
    code = run.wait(600 if not HEADLESS else 30)
    if code is None:
        run.stop()
        raise SystemExit("demo: the launcher did not end")
    # The game may still be writing its record when the launcher has already ended.
    record = harness.wait_until(lambda: run.started_record("Brevanta.exe"), timeout=15)
    return code, record


def ready_window(timeout):
    """The launcher window once its start button is enabled, and its origin."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        for window in harness.find_windows():
            geometry = harness.try_geometry(window)
            if geometry and geometry[2:] == (649, 489) and \
                    harness.start_button_look(harness.screenshot(), geometry[:2]) == "enabled":
                return window, geometry[:2]
        time.sleep(0.2)
    raise SystemExit("demo: the updated launcher did not come back ready")


def self_update(folder, watcher):
    """Act two: launcher 1.1.1.25 published, the old launcher hands over, the Updater swaps."""
    say("act two: the operator publishes launcher 1.1.1.25 with the publishing tool")
    version, places = publish_patch.publish_launchers([DEMO / "next" / "launcher.exe"], SERVER / "root")
    for arch, target in places:
        say(f"published launcher {version} ({arch}) at {target.relative_to(SERVER / 'root')}; "
            f"[LAUNCHER] now names {version}")
    run = harness.Launcher.__new__(harness.Launcher)
    run.folder, run.process, run.exit_code = folder, None, None
    started = time.time()
    run.start("-demo", timeout=300)
    say("started launcher 1.1.1.24")
    updater = harness.wait_until(lambda: harness.find_windows("Updater"), timeout=60, interval=0.1)
    if not updater:
        raise SystemExit("demo: the Updater's window did not appear")
    code = run.wait(30)
    watcher.poll()
    say(f"launcher 1.1.1.24 handed over to the Updater and ended (exit code {code}); the Updater downloads")
    time.sleep(1.0)
    window_shot("6-updater", updater[0])
    window, origin = ready_window(120)
    elapsed = time.time() - started
    watcher.poll()
    found, _, _ = publish_patch.launcher_file_info(folder / "launcher.exe")
    published = places[0][1].read_bytes() == (folder / "launcher.exe").read_bytes()
    leftovers = sorted(p.name for p in folder.iterdir() if p.name.endswith((".updating", ".replaced")))
    if found != tuple(int(n) for n in version.split(".")) or not published or leftovers:
        raise SystemExit(f"demo: launcher.exe is {found}, the published file: {published}, left: {leftovers}")
    say(f"the Updater swapped launcher.exe and started it: launcher {version} is ready, "
        "byte for byte the published file, no temporary file left")
    say(f"self-update road: {elapsed:.1f} s from the old launcher's start to the new one's ready state")
    window_shot("7-updated-ready", window)
    if HEADLESS:
        say("pressing the exit button")
        harness.click(origin[0] + 335 + 47, origin[1] + 364 + 19)
    else:
        say("close the launcher to finish")
    if not harness.wait_until(lambda: not harness.find_windows(), timeout=600 if not HEADLESS else 30):
        raise SystemExit("demo: the updated launcher did not end")
    return elapsed


def main():
    started = time.time()
    clients = make_patch_series()
    server = start_server()
    try:
        folder = prepare_player_folder(clients)
        say(f"player folder {folder} holds client 10001; the server publishes 10004")
        watcher = Watcher(folder, server)
        code, record = run_launcher(folder, watcher, True)
        say(f"launcher exited with code {code}")
        if record:
            say(f"the game was started: {record['commandline']}")
        mismatched = [n for n, data in client_tree(10004).items() if (folder / n).read_bytes() != data]
        leftovers = sorted(p.name for p in folder.glob("*.zip"))
        if mismatched or leftovers or code != 0 or not record:
            raise SystemExit(f"demo: patched client differs ({mismatched}), archives left {leftovers}, "
                             f"exit {code}, game started {bool(record)}")
        say("the patched client equals client 10004 byte for byte")
        (folder / "Brevanta.exe.started.txt").unlink()
        say("second start: already up to date")
        code2, record2 = run_launcher(folder, watcher, False)
        if code2 != 0 or not record2:
            raise SystemExit(f"demo: the second run ended with {code2}, game started {bool(record2)}")
        road = self_update(folder, watcher)
    finally:
        server.stop()
    served = server.entries()
    say(f"nginx answered {len(served)} requests on {len({e['connection'] for e in served})} connections "
        f"({', '.join(f'{n} x {c}' for c, n in sorted(collections.Counter(e['status'] for e in served).items()))}); "
        f"access log {server.access_log}")
    act = demo_content.ContentAct(DEMO, SERVER, WORK, PORT, say, window_shot, HEADLESS)
    content_started = time.time()
    content = act.play(client_tree(10004), write_tree)
    say(f"content act: {time.time() - content_started:.0f} s")
    where = f", screenshots in {SHOTS}" if HEADLESS else ""
    print(f"demo: OK - patched 10001 to 10004 over HTTPS from nginx, started the game twice, updated the launcher to "
          f"1.1.1.25 in {road:.1f} s, installed {demo_content.INSTALLED} into an empty folder and updated it to "
          f"{demo_content.UPDATED} with the content launcher (content: {content}), {time.time() - started:.0f} s{where}",
          flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
