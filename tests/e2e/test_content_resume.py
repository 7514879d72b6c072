"""Resume across starts: the chunks a killed launcher had verified wait in content.cache, and the
next start builds from them instead of fetching them again; the cache goes once the record names
the new release."""
import os

import harness
from test_content_patching import CONTENT, client_files, kill_now, publish, ranges, write_tree
from test_fault_matrix import READY, no_partial_files, shows, wait_until

MAGIC = b"QORCACH1"
RECORD = 48  # a record's header: SHA-256, raw size, stored size, its check, 0


def whole_frames(path):
    """The frames of the cache's whole records in order; a torn tail is no record."""
    data = path.read_bytes()
    if data[:len(MAGIC)] != MAGIC:
        return []
    frames, at = [], len(MAGIC)
    while len(data) - at >= RECORD:
        stored = int.from_bytes(data[at + 36:at + 40], "little")
        if len(data) - at - RECORD < stored:
            break
        frames.append(data[at + RECORD:at + RECORD + stored])
        at += RECORD + stored
    return frames


def recorded(run):
    """The record's version, or None while it is being replaced."""
    try:
        return run.version()
    except (OSError, ValueError, IndexError):
        return None


def overlaps(first, last, spans):
    return [(at, n) for at, n in spans if first < at + n and at <= last]


def test_a_kill_at_10_50_and_90_percent_fetches_no_verified_chunk_again(launcher, server, folder):
    # After the kill at 50% one byte of the first held frame is changed on disk: that chunk, and
    # only that one, is fetched again, on its own, while its file is built.
    v1 = {"data/a.pak": os.urandom(100000), "readme.txt": b"the same in both"}
    v2 = {"data/a.pak": os.urandom(1500000), "data/b.pak": os.urandom(1500000), "readme.txt": v1["readme.txt"]}
    publish(server, folder, [(10002, v2)])
    packs = {p.name: p.read_bytes() for p in (server.root / "Content" / "packs").glob("10002-*.pack")}
    total = sum(map(len, packs.values()))
    for percent in (10, 50, 90):
        run = launcher(f"player-{percent}", CONTENT)
        write_tree(run.folder, v1)
        run.write_config(10001)
        server.set_faults(["Content/packs/*=slow:1000000"])
        run.start()
        cache = run.folder / "content.cache"
        reached = wait_until(lambda: cache.exists() and cache.stat().st_size >= total * percent // 100,
                             timeout=60, interval=0.02)
        assert reached and run.running(), percent
        kill_now(run)
        server.set_faults([])
        held = whole_frames(cache)
        assert held, percent
        # Killed while fetching: every file is the old one, whole, and the record still names it.
        assert wait_until(lambda: not no_partial_files(run.folder), timeout=10), no_partial_files(run.folder)
        assert client_files(run.folder) == v1, percent
        assert run.version() == 10001
        spans = {}
        for frame in held:
            name = next(n for n, data in packs.items() if data.find(frame) >= 0)
            spans.setdefault(name, []).append((packs[name].find(frame), len(frame)))

        damaged = []
        if percent == 50:
            with open(cache, "r+b") as f:
                f.seek(len(MAGIC) + RECORD + len(held[0]) // 2)
                byte = f.read(1)
                f.seek(-1, os.SEEK_CUR)
                f.write(bytes([byte[0] ^ 0xFF]))
            name = next(n for n, data in packs.items() if data.find(held[0]) >= 0)
            damaged = [(name, *spans[name].pop(spans[name].index((packs[name].find(held[0]), len(held[0])))))]

        mark = server.log_mark()
        run.start()
        # The record and the cache's removal say the update ended; the ready line is looked for
        # once (a look at the screen costs seconds under a loaded Wine).
        assert wait_until(lambda: recorded(run) == 10002 and not cache.exists(), timeout=60), percent
        assert percent != 90 or shows(run.origin(), READY.format(10002), timeout=60)
        run.stop()
        asked = ranges(server, mark)
        assert asked, percent
        for name, first, last in asked:
            assert not overlaps(first, last, spans.get(name, [])), (percent, name, first, last)
        for name, at, n in damaged:
            assert [r for r in asked if r[0] == name and r[1] <= at + n - 1 and at <= r[2]] == [(name, at, at + n - 1)]
        fetched = sum(last - first + 1 for _, first, last in asked)
        assert fetched <= total - sum(map(len, held)) + sum(n for *_, n in damaged), (percent, fetched)
        assert client_files(run.folder) == v2, percent
        assert run.version() == 10002
        assert not cache.exists()
        assert not no_partial_files(run.folder)
    # A cache a kill left after the record named the release, before it was removed: the next
    # start, finding the release installed, removes it.
    cache.write_bytes(MAGIC + bytes(RECORD))
    run.start()
    assert wait_until(lambda: not cache.exists(), timeout=60)
    run.stop()
    assert client_files(run.folder) == v2
