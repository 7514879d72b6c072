"""Content mirrors that serve badly, on launcher_content_mirrors.exe's two mirrors. The first
mirror trickles: every pack range gets its head at once and then 16 bytes every 2 s, a connection
alive and never idle long enough for a receive time-out. Below the built minimum rate (1 KiB/s over
30 s) the try counts as failed and the request goes to the second mirror at once; the update ends
ready. The built window is waited out once, here: about 35 s of this file's 50. Or the first
mirror ignores ranges: the first request it answers with the whole pack reads it on from there,
and the pack's later pieces are not asked for again. Its first piece is answered last, so the pack's
head is read by that piece's own request."""
import os
import time

import harness
from test_content_mirrors import EXE, Mirror, main_packs, mirror_run, switches, traced  # noqa: F401
from test_content_patching import client_files, game_files, publish
from test_fault_matrix import READY, no_partial_files, shows, wait_until


def FaultyMirror(name, port, fault):
    """A mirror whose pack answers follow one fault rule of tests/support/patch_server.py."""
    return Mirror(name, port, ["--fault", "Content/packs/*=" + fault, "--slow-limit", "90"])


def ready_after(run, server, mirrors, v2, folder, mine=b"the player's own"):
    """Runs to the ready state; returns the pack requests of mirror-a, mirror-b and the patch base."""
    marks = [m.log_mark() for m in mirrors] + [server.log_mark()]
    run.start(output=folder / "wine.out")
    assert shows(run.origin(), READY.format(10002), timeout=100)
    run.stop()
    assert client_files(run.folder) == dict(v2, **({"screenshots/mine.png": mine} if mine else {}))
    assert run.version() == 10002
    assert not no_partial_files(run.folder)
    # A trickling answer is logged once its handler has met the closed connection.
    wait_until(lambda: mirrors[0].packs_since(marks[0]), timeout=10)
    return [m.packs_since(mark) for m, mark in zip(mirrors, marks)] + [main_packs(server, marks[-1])]


def test_a_trickling_mirror_is_left_for_the_next_and_the_update_ends_ready(launcher, server, folder, traced):
    mirrors = [FaultyMirror("mirror-a", harness.PORT + 1, "trickle:16"), Mirror("mirror-b", harness.PORT + 2)]
    try:
        for m in mirrors:
            m.start()
        a, b = mirrors
        run, v1, v2 = mirror_run(launcher, server, folder, mirrors, 41)
        began = time.monotonic()
        on_a, on_b, on_base = ready_after(run, server, mirrors, v2, folder)
        elapsed = time.monotonic() - began
    finally:
        for m in mirrors:
            m.stop()
    # Each request that met the trickle left it within one window (and the mirror then cooled
    # down), not after six tries of it; none of them waited for the trickle's end.
    assert on_a and all(r["status"] == 206 for r in on_a), on_a
    assert on_b and all(r["status"] == 206 for r in on_b), on_b
    assert not on_base
    assert 28 < elapsed < 90, elapsed
    lines = switches(folder / "wine.out")
    assert lines and all("the body crawled" in line and f"{a.base} -> {b.base}" in line for line in lines), lines


def test_a_mirror_that_ignores_ranges_has_its_pack_read_once(launcher, server, folder, traced):
    mirrors = [FaultyMirror("mirror-a", harness.PORT + 1, "norange:2"), Mirror("mirror-b", harness.PORT + 2)]
    try:
        for m in mirrors:
            m.start()
        # About seven pieces of a megabyte: more than the lanes take at once. A player with no
        # client yet fetches them all, the first from the pack's byte 0.
        v2 = dict(game_files(42), **{"data/big.pak": os.urandom(6_800_000)})
        publish(server, folder, [(10002, v2)])
        for m in mirrors:
            m.serve(server.root)
        run = launcher("player", EXE)
        run.write_config(10001)
        on_a, on_b, on_base = ready_after(run, server, mirrors, v2, folder, mine=None)
    finally:
        for m in mirrors:
            m.stop()
    # Only the requests that started before the first whole answer came went to mirror-a; the
    # first reads the pack to its end, the later ones stop at once, the head's reads its own
    # bytes, and the pack's other pieces are never asked for, of either mirror.
    assert 2 <= len(on_a) <= 4 and all(r["status"] == 200 for r in on_a), on_a
    assert all(r["status"] == 206 for r in on_b), on_b
    assert not on_base
    output = (folder / "wine.out").read_text("latin-1")
    assert output.count("content mirror ignores ranges") == 1, output[-2000:]
