"""Content patching on a disk without room: a small tmpfs mapped as the Wine drive Q: holds the
game folder. The launcher refuses an update that does not fit before it fetches anything, and a
disk that fills during the build stops it with the same text, its partial file gone, the cache
of verified chunks kept and the installed files whole."""
import os
import time
from concurrent.futures import ThreadPoolExecutor

import harness
from test_content_patching import CONTENT, client_files, game_files, publish, write_tree
from test_fault_matrix import ends_on_its_exit_button, no_partial_files, small_volume, watched_outside

import content_plan  # noqa: E402  (tools/, put on the path by test_content_patching)

DISK_FULL = "디스크 공간이 부족합니다 ({} MB 필요, {} MB 남음)"
MIB = 1 << 20
BIG = 3 * MIB


def rounded(size, unit=4096):
    return -(-size // unit) * unit


def releases():
    v1 = game_files(20)
    v2 = dict(v1, **{"Brevanta.exe": b"20002" + v1["Brevanta.exe"][5:], "data/zbig.pak": os.urandom(BIG)})
    return v1, v2


def disk_need(server, client, version):
    """(bytes the launcher checks for, bytes of its full cache) for the folder client: the same
    count as the worker's, from the publisher's plan, on a disk of 4 KiB clusters."""
    with ThreadPoolExecutor(1) as executor:
        plan = content_plan.plan(client, server.root, version, executor)
    cache = 8 + 48 * plan["needed_chunks"] + plan["ideal_bytes"]
    grown = peak = 0
    for entry in plan["files"]:
        if entry["status"] == "unchanged":
            continue
        size = rounded(entry["size"])
        peak = max(peak, grown + size)
        local = client / entry["path"]
        grown += size - (rounded(local.stat().st_size) if local.is_file() else 0)
    kept = rounded(plan["manifest_bytes"]) + rounded(8 + 56 + 16 * len(plan["files"]))
    return rounded(cache) + max(peak, max(grown, 0) + kept), cache


def free_bytes(path):
    found = os.statvfs(path)
    return found.f_bavail * found.f_frsize


def shows_disk_full(run, origin, needed, volume, timeout=60):
    """Waits for the text with the megabytes needed and those free now (read again each time:
    the launcher counts them after it has cleaned up)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        text = DISK_FULL.format(-(-needed // MIB), free_bytes(volume) // MIB)
        if harness.status_line_shows(harness.screenshot(), origin, text):
            return text
        if not run.running():
            return None
        time.sleep(0.3)
    return None


def snapshot(root):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}


def test_an_update_that_does_not_fit_is_refused_before_anything_is_fetched(launcher, server, folder):
    v1, v2 = releases()
    publish(server, folder, [(10001, v1), (10002, v2)])
    needed, _ = disk_need(server, folder / "clients" / "10001", 10002)
    exe = (harness.BUILD / CONTENT).stat().st_size
    volume = folder / "vol"
    # The launcher and the installed client, and 2 MiB more: less than the 6 MiB the update takes.
    with small_volume(volume, rounded(exe + sum(map(len, v1.values())), MIB) + 2 * MIB), \
            harness.wine_drive("q", volume):
        run = launcher("vol/game", CONTENT)
        try:
            write_tree(run.folder, v1)
            run.write_config(10001)
            assert free_bytes(volume) < needed
            before = snapshot(run.folder)
            mark = server.log_mark()
            with watched_outside(run):
                run.start()
                origin = run.origin()
                assert shows_disk_full(run, origin, needed, volume)
                assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
                ends_on_its_exit_button(run, origin)
            after = snapshot(run.folder)
            # The launcher keeps its copies of what the server published on every start, and
            # writes the record anew (its cipher's bytes differ each time; the version is checked).
            own = ("update.dat", "update.manifest", "update.manifest.sig", "config")
            assert {k: v for k, v in after.items() if k not in own} == {k: v for k, v in before.items() if k not in own}
            assert not [r for r in server.requests_since(mark) if "/Content/packs/" in r["path"]]
        finally:
            run.stop()
        assert run.version() == 10001


def test_a_disk_that_fills_while_building_keeps_the_cache_and_leaves_no_partial_file(launcher, server, folder):
    v1, v2 = releases()
    publish(server, folder, [(10001, v1), (10002, v2)])
    needed, cache_bytes = disk_need(server, folder / "clients" / "10001", 10002)
    exe = (harness.BUILD / CONTENT).stat().st_size
    volume = folder / "vol"
    # Room for the update and 2 MiB more: the check passes. Once the cache is being written, a
    # filler takes all but what the rest of the cache and half the big file need, so the cache
    # completes and the big file's partial meets the full disk, whatever the timing.
    server.set_faults(["Content/packs/*=slow:1000000"])
    with small_volume(volume, rounded(exe + sum(map(len, v1.values())), MIB) + rounded(needed, MIB) + 2 * MIB), \
            harness.wine_drive("q", volume):
        run = launcher("vol/game", CONTENT)
        try:
            write_tree(run.folder, v1)
            run.write_config(10001)
            with watched_outside(run):
                run.start()
                origin = run.origin()
                cache = run.folder / "content.cache"
                assert harness.wait_until(cache.exists, timeout=60), "the update never started its cache"
                for _ in range(100):  # the free space read while the cache stood still
                    held = cache.stat().st_blocks * 512
                    room = free_bytes(volume)
                    if cache.stat().st_blocks * 512 == held:
                        break
                filler = room - (rounded(cache_bytes) - held) - BIG // 2
                assert filler > 0
                # In the game folder, where a player's own file would be: the launcher leaves it alone.
                (run.folder / "filler.bin").write_bytes(bytes(filler // 4096 * 4096))
                assert shows_disk_full(run, origin, needed, volume, timeout=90)
                assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
                ends_on_its_exit_button(run, origin)
        finally:
            run.stop()
        (run.folder / "filler.bin").unlink()
        assert not no_partial_files(run.folder)
        assert cache.stat().st_size == cache_bytes  # every verified chunk kept
        assert run.version() == 10001
        files = client_files(run.folder)
        assert set(files) == set(v1)  # the big file was never moved in
        for name, data in files.items():
            assert data in (v1[name], v2[name]), name  # each file whole, old or new
