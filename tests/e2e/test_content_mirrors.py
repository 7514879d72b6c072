"""Content mirrors: launcher_content_mirrors.exe is built with two mirrors before the patch base,
https://127.0.0.1:PORT+1/mirror-a and https://127.0.0.1:PORT+2/mirror-b, served here by two more
test patch servers. A mirror that is down, answers 404 or serves a changed byte gives way to the
next at once; the signed manifest and the release manifest still come from the patch base."""
import json
import os
import shutil
import subprocess
import time

import pytest

import harness
from test_content_patching import client_files, game_files, publish, write_tree
from test_content_retries import UNAVAILABLE
from test_fault_matrix import READY, no_partial_files, shows, wait_until

EXE = "launcher_content_mirrors.exe"
PACK = "Content/packs/10002-0.pack"


class Mirror:
    """One more test patch server, serving `root` below /<name> on `port`; `extra`: more of the
    server's options (a fault rule, say)."""

    def __init__(self, name, port, extra=()):
        self.name, self.port, self.extra = name, port, list(extra)
        self.base = f"https://127.0.0.1:{port}/{name}"
        self.dir = harness.RUNS / "mirrors" / name
        self.root = self.dir / "root"
        self.process = None

    def start(self):
        self.root.mkdir(parents=True, exist_ok=True)
        ready = self.dir / "ready.json"
        ready.unlink(missing_ok=True)
        out = open(self.dir / "server.out", "a")
        self.process = subprocess.Popen(
            ["/usr/bin/python3", str(harness.ROOT / "tests" / "support" / "patch_server.py"), "--root", str(self.root),
             "--port", str(self.port), "--base", "/" + self.name, "--certs", str(harness.STATE / "certs"),
             "--log", str(self.dir / "requests.log"), "--ready-file", str(ready)] + self.extra,
            stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, start_new_session=True)
        out.close()
        assert wait_until(ready.exists, timeout=20), f"mirror {self.name} did not start"

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        self.process = None

    def serve(self, source_root, change=None):
        """The packs of source_root, one byte of `change`'s pack turned when given."""
        shutil.rmtree(self.root / "Content", ignore_errors=True)
        if source_root is not None:
            shutil.copytree(source_root / "Content" / "packs", self.root / "Content" / "packs")
        if change:
            pack = self.root / change
            data = bytearray(pack.read_bytes())
            data[-50] ^= 0x01  # inside the last chunk's stored block: it decodes, to other bytes
            pack.write_bytes(bytes(data))

    def log_mark(self):
        log = self.dir / "requests.log"
        return log.stat().st_size if log.exists() else 0

    def packs_since(self, mark):
        log = self.dir / "requests.log"
        if not log.exists():
            return []
        with log.open("rb") as f:
            f.seek(mark)
            lines = f.read().decode().splitlines()
        return [r for r in map(json.loads, filter(None, lines)) if "/Content/packs/" in r["path"]]


@pytest.fixture(scope="module")
def mirrors():
    found = [Mirror("mirror-a", harness.PORT + 1), Mirror("mirror-b", harness.PORT + 2)]
    for m in found:
        m.start()
    yield found
    for m in found:
        m.stop()


@pytest.fixture
def traced(monkeypatch):
    """The launcher's debugger output (OutputDebugStringA) in Wine's output."""
    monkeypatch.setenv("WINEDEBUG", "-all,+debugstr")


def main_packs(server, mark):
    return [r for r in server.requests_since(mark) if "/Content/packs/" in r["path"]]


def switches(output):
    return [line for line in output.read_text("latin-1").splitlines() if "content mirror switch" in line]


def mirror_run(launcher, server, folder, mirrors, seed, change_on_a=False, a_has_packs=True):
    """v1 in the player's folder, 10002 published; mirror-b serves its packs, mirror-a as asked."""
    v1 = game_files(seed)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10002, v2)])
    a, b = mirrors
    a.serve(server.root if a_has_packs else None, PACK if change_on_a else None)
    b.serve(server.root)
    run = launcher("player", EXE)
    write_tree(run.folder, v1)
    (run.folder / "screenshots").mkdir()
    (run.folder / "screenshots" / "mine.png").write_bytes(b"the player's own")
    run.write_config(10001)
    return run, v1, v2


def ends_on(run, server, mirrors, v2, folder):
    """Runs to the ready state; returns the pack requests of mirror-a, mirror-b and the patch base."""
    marks = [m.log_mark() for m in mirrors] + [server.log_mark()]
    run.start(output=folder / "wine.out")
    assert shows(run.origin(), READY.format(10002), timeout=60)
    run.stop()
    assert client_files(run.folder) == dict(v2, **{"screenshots/mine.png": b"the player's own"})
    assert run.version() == 10002
    assert not no_partial_files(run.folder)
    return [m.packs_since(mark) for m, mark in zip(mirrors, marks)] + [main_packs(server, marks[-1])]


def test_the_first_mirror_down_the_second_serves_at_once(launcher, server, folder, mirrors, traced):
    a, b = mirrors
    run, v1, v2 = mirror_run(launcher, server, folder, mirrors, 31)
    a.stop()
    try:
        began = time.monotonic()
        _, on_b, on_base = ends_on(run, server, mirrors, v2, folder)
        elapsed = time.monotonic() - began
    finally:
        a.start()
    assert on_b and all(r["status"] == 206 for r in on_b), on_b
    assert not on_base
    assert elapsed < 30, elapsed  # no backoff on a mirror nobody answers for
    lines = switches(folder / "wine.out")
    assert lines and a.base in lines[0] and b.base in lines[0] and "no connection" in lines[0], lines


def test_a_mirror_answering_404_gives_way_to_the_second(launcher, server, folder, mirrors, traced):
    a, b = mirrors
    run, v1, v2 = mirror_run(launcher, server, folder, mirrors, 32, a_has_packs=False)
    on_a, on_b, on_base = ends_on(run, server, mirrors, v2, folder)
    # Once refused, mirror-a cools down: the run's other requests go to mirror-b directly.
    assert [r["status"] for r in on_a] == [404], on_a
    assert on_b and all(r["status"] == 206 for r in on_b), on_b
    assert not on_base
    lines = switches(folder / "wine.out")
    assert lines and "status 404" in lines[0] and f"{a.base} -> {b.base}" in lines[0], lines


def test_a_chunk_with_a_changed_byte_on_a_mirror_comes_from_the_other(launcher, server, folder, mirrors, traced):
    a, b = mirrors
    run, v1, v2 = mirror_run(launcher, server, folder, mirrors, 33, change_on_a=True)
    on_a, on_b, on_base = ends_on(run, server, mirrors, v2, folder)
    assert len(on_a) == 1 and on_b, (on_a, on_b)
    assert not on_base
    lines = switches(folder / "wine.out")
    assert lines and "hash" in lines[0] and f"{a.base} -> {b.base}" in lines[0], lines


def test_a_404_from_every_base_stops_naming_the_release(launcher, server, folder, mirrors):
    a, b = mirrors
    run, v1, v2 = mirror_run(launcher, server, folder, mirrors, 34, a_has_packs=False)
    b.serve(None)
    server.set_faults([f"{PACK}=status:404"])
    marks = [m.log_mark() for m in mirrors] + [server.log_mark()]
    run.start()
    assert shows(run.origin(), UNAVAILABLE.format(10002, PACK), timeout=60)
    assert harness.start_button_look(harness.screenshot(), run.origin()) == "disabled"
    run.stop()
    asked = [m.packs_since(mark) for m, mark in zip(mirrors, marks)] + [main_packs(server, marks[-1])]
    assert [[r["status"] for r in each] for each in asked] == [[404], [404], [404]], asked
    assert client_files(run.folder) == dict(v1, **{"screenshots/mine.png": b"the player's own"})
    assert run.version() == 10001
    assert not (run.folder / "content.state").exists()
    assert not no_partial_files(run.folder)
