"""Content files held by another program: a stand-in (hold_file.exe) keeps a file of the release
open without sharing, as a game still running does. The launcher waits for it with a line that
names the file; released within the wait, the update completes; held past it, the update fails
naming the file with the record at the old release and every installed file whole, and the next
start completes."""
import contextlib
import os
import signal
import subprocess
import time

import pytest

import harness
from test_content_patching import CONTENT, client_files, content_run, game_files, kill_now, publish
from test_content_retries import band_shows
from test_fault_matrix import READY, ends_on_its_exit_button, no_partial_files

HELD = "사용 중인 파일: {} (사용하는 프로그램을 닫아 주세요)"
FILE_FAILED = "파일 만들기 실패 ({})"
HELD_PATH = "data/maps/a.map"


@pytest.fixture(scope="module")
def lines():
    """The status bands of the lines these tests wait for, drawn once: each look is then a
    screenshot, not a frame drawn under Wine as well."""
    texts = {"held": HELD.format(HELD_PATH), "failed": FILE_FAILED.format(HELD_PATH), "ready": READY.format(10002)}
    return {key: harness.expected_frame(text).crop(harness.STATUS_BAND) for key, text in texts.items()}


def shows(origin, band, timeout):
    return harness.wait_until(lambda: band_shows(harness.screenshot(), origin, band), timeout=timeout, interval=0.1)


class Holder:
    def __init__(self, process, stop):
        self.process = process
        self.stop = stop

    def release(self):
        self.stop.touch()
        assert self.process.wait(timeout=20) == 0


@contextlib.contextmanager
def holding(folder, target, seconds=120):
    """hold_file.exe holds target (opened without sharing) until released, bounded in time and
    ended by its pid whatever happens."""
    ready, stop = folder / "hold.ready", folder / "hold.stop"
    ready.unlink(missing_ok=True)
    stop.unlink(missing_ok=True)
    process = subprocess.Popen(
        [str(harness.WINE_RUN), str(harness.BUILD / "hold_file.exe"), harness.windows_path(target),
         harness.windows_path(ready), harness.windows_path(stop), str(seconds)],
        cwd=folder, env=harness.wine_env({"WINE_RUN_TIMEOUT": str(seconds + 10)}), stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        assert harness.wait_until(lambda: ready.exists() or process.poll() is not None, timeout=30)
        assert ready.exists(), f"the stand-in did not hold the file (exit {process.poll()})"
        yield Holder(process, stop)
    finally:
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            process.wait(timeout=20)


def releases():
    v1 = game_files(31)
    # Two changed files: data/base.pak is built and moved in before the held one.
    v2 = dict(v1, **{"data/base.pak": os.urandom(60000), HELD_PATH: os.urandom(30000)})
    return v1, v2


def test_a_file_held_for_a_while_is_waited_for_and_a_kill_in_the_wait_leaves_nothing(launcher, server, folder, lines):
    v1, v2 = releases()
    publish(server, folder, [(10002, v2)])
    run = content_run(launcher, v1, 10001)
    with holding(folder, run.folder / HELD_PATH) as holder:
        run.start()
        origin = run.origin()
        assert shows(origin, lines["held"], timeout=60)
        assert run.version() == 10001
        assert (run.folder / HELD_PATH).read_bytes() == v1[HELD_PATH]
        # The new file waits whole beside the held one: nothing is built again once it is free.
        waiting = lambda: [p.read_bytes() for p in (run.folder / "data" / "maps").glob("a.map.~*.part")]
        assert waiting() == [v2[HELD_PATH]]
        # Still marked for deletion between tries: a kill in the wait leaves nothing behind.
        kill_now(run)
        assert harness.wait_until(lambda: not waiting(), timeout=10), "a kill in the wait left the partial file"
        assert run.version() == 10001
        run = launcher("player", CONTENT)
        run.start()
        origin = run.origin()
        assert shows(origin, lines["held"], timeout=60)
        holder.release()
        assert shows(origin, lines["ready"], timeout=30)
    run.stop()
    assert client_files(run.folder) == v2
    assert run.version() == 10002
    assert not no_partial_files(run.folder)


def test_a_file_held_past_the_wait_fails_naming_it_and_the_next_start_completes(launcher, server, folder, lines):
    v1, v2 = releases()
    publish(server, folder, [(10002, v2)])
    run = content_run(launcher, v1, 10001)
    with holding(folder, run.folder / HELD_PATH) as holder:
        run.start()
        origin = run.origin()
        assert shows(origin, lines["held"], timeout=60)
        seen = time.monotonic()
        assert shows(origin, lines["failed"], timeout=60)
        assert time.monotonic() - seen > 20  # the 30 s wait, less the time the first look took
        assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
        ends_on_its_exit_button(run, origin)
        holder.release()
    files = client_files(run.folder)
    assert files[HELD_PATH] == v1[HELD_PATH]
    assert files["data/base.pak"] == v2["data/base.pak"]
    assert all(files[name] in (v1[name], v2[name]) for name in v2), "a file is neither release's"
    assert run.version() == 10001
    assert not (run.folder / "content.state").exists()
    assert not no_partial_files(run.folder)

    again = launcher("player", CONTENT)
    again.start()
    assert shows(again.origin(), lines["ready"], timeout=60)
    again.stop()
    assert client_files(run.folder) == v2
    assert run.version() == 10002
    assert not no_partial_files(run.folder)
