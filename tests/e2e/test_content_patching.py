"""Content patching: launcher_content.exe (the build's test key, the content mode on) against
content releases published and signed by the operators' tool. The folder is brought to the
newest release from any version or from nothing, with only the chunks it lacks fetched."""
import os
import signal
import sys
import time
from pathlib import Path

import harness
from test_fault_matrix import READY, no_partial_files, shows, wait_until

sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

KEY = harness.BUILD / "test-signing" / "signing.key"
CONTENT = "launcher_content.exe"
SIZES = (1024, 4096, 16384)
OWN = {"launcher.exe", "config", "update.dat", "update.manifest", "update.manifest.sig"}


def write_tree(root, files):
    for name, data in files.items():
        path = Path(root) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def game_files(seed):
    rng = __import__("random").Random(seed)
    return {"Brevanta.exe": rng.randbytes(30000), "data/base.pak": rng.randbytes(200000),
            "data/maps/a.map": rng.randbytes(50000), "data/empty.txt": b""}


def client_files(root):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in Path(root).rglob("*")
            if p.is_file() and p.relative_to(root).as_posix() not in OWN
            and not p.name.startswith("content.")}


def publish(server, folder, releases):
    """releases: [(version, files)] published in order as content releases, then signed."""
    for version, files in releases:
        write_tree(folder / "clients" / str(version), files)
        publish_patch.publish_content(folder / "clients" / str(version), version, server.root, sizes=SIZES,
                                      level=3)
    patch_signing.sign_folder(server.root, KEY)


def content_run(launcher, files, version):
    run = launcher("player", CONTENT)
    write_tree(run.folder, files)
    if version:
        run.write_config(version)
    return run


def ranges(server, mark):
    """(pack, first, last) of every pack request since mark."""
    found = []
    for r in server.requests_since(mark):
        if "/Content/packs/" in r["path"]:
            wanted = {k.lower(): v for k, v in (r.get("headers") or {}).items()}.get("range", "")
            first, last = wanted.split("=")[1].split("-")
            found.append((r["path"].rsplit("/", 1)[1], int(first), int(last)))
    return found


def versions_four(folder):
    v1 = game_files(1)
    v2 = dict(v1, **{"data/maps/a.map": v1["data/maps/a.map"][:20000] + b"v2" * 100 + v1["data/maps/a.map"][20000:]})
    v3 = dict(v2, **{"data/ui/icons.dat": os.urandom(40000)})
    v4 = dict(v3, **{"Brevanta.exe": v3["Brevanta.exe"][:10000] + b"4" + v3["Brevanta.exe"][10001:]})
    return v1, v2, v3, v4


def test_a_player_at_10001_comes_to_10004_in_one_start(launcher, server, folder):
    v1, v2, v3, v4 = versions_four(folder)
    publish(server, folder, [(10002, v2), (10003, v3), (10004, v4)])
    run = content_run(launcher, v1, 10001)
    (run.folder / "screenshots").mkdir()
    (run.folder / "screenshots" / "mine.png").write_bytes(b"the player's own")
    run.start()
    assert shows(run.origin(), READY.format(10004), timeout=90)
    run.stop()
    assert client_files(run.folder) == dict(v4, **{"screenshots/mine.png": b"the player's own"})
    assert run.version() == 10004
    assert (run.folder / "content.state").exists() and (run.folder / "content.10004.release").exists()
    assert not (run.folder / "content.cache").exists()
    assert not no_partial_files(run.folder)


def test_an_empty_folder_gets_the_whole_client(launcher, server, folder):
    v1, v2, v3, v4 = versions_four(folder)
    publish(server, folder, [(10004, v4)])
    run = content_run(launcher, {}, None)
    run.start()
    assert shows(run.origin(), READY.format(10004), timeout=90)
    run.stop()
    assert client_files(run.folder) == v4
    assert run.version() == 10004


def test_the_line_and_the_bars_move_within_one_long_range_request(launcher, server, folder):
    # One request fetches the whole pack: the line and the upper bar (the bytes of the update)
    # follow its chunks as they come; the lower one counts the files built, none yet.
    publish(server, folder, [(10002, {"data/base.pak": os.urandom(600000)})])
    server.set_faults(["Content/packs/*=slow:100000"])
    run = content_run(launcher, {}, None)
    run.start()
    origin = run.origin()
    looks = []
    deadline = time.time() + 60
    while time.time() < deadline and not (run.folder / "data" / "base.pak").exists():
        # The cache exists from just before the range request; the partial file from its end on.
        if (run.folder / "content.cache").exists() and not list((run.folder / "data").glob("*.part")):
            shot = harness.screenshot()
            looks.append((harness.bar_fill(shot, origin, 418, 216), harness.bar_fill(shot, origin, 430, 217),
                          harness.region(shot, origin, harness.STATUS_BAND).tobytes()))
        time.sleep(0.1)
    assert shows(origin, READY.format(10002), timeout=60)
    run.stop()
    assert len(looks) >= 2, len(looks)
    assert any(0 < upper < 276 for upper, _, _ in looks), [look[:2] for look in looks]
    assert all(lower == 0 for _, lower, _ in looks), [look[:2] for look in looks]
    assert len({line for _, _, line in looks}) >= 2  # the count of KB moved


def test_the_building_line_counts_within_one_file(launcher, server, folder):
    v1 = {"data/base.pak": os.urandom(300000)}
    v2 = {"data/base.pak": b"10003 head" + v1["data/base.pak"][10:]}
    publish(server, folder, [(10002, v1)])
    run = content_run(launcher, {}, None)
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=90)
    run.stop()
    # Damaged behind its stamp (same size and time): each chunk the new file reuses from it fails
    # its hash while the file is built and is fetched on its own, slowly, so the build lasts.
    pak = run.folder / "data" / "base.pak"
    stamp = pak.stat()
    pak.write_bytes(bytes(b ^ 0x5A for b in pak.read_bytes()))
    os.utime(pak, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
    publish(server, folder, [(10003, v2)])
    server.set_faults(["Content/packs/10002-0.pack=slow:100000"])
    run.start()
    origin = run.origin()
    lines = set()
    deadline = time.time() + 60
    while time.time() < deadline and run.version() != 10003:
        if list(pak.parent.glob("base.pak.~*.part")):
            lines.add(harness.region(harness.screenshot(), origin, harness.STATUS_BAND).tobytes())
        time.sleep(0.1)
    assert shows(origin, READY.format(10003), timeout=60)
    run.stop()
    assert client_files(run.folder) == v2
    assert len(lines) >= 3, len(lines)  # the count of KB built moved within the file


FETCH_FAILED = "내려받기 실패 ({})"
RELEASE_FAILED = "릴리스 확인 실패 ({})"


def test_a_file_edited_in_one_place_is_rebuilt_from_its_own_chunks(launcher, server, folder):
    v1 = game_files(2)
    pak = bytearray(v1["data/base.pak"])
    pak[100000:100010] = b"edited!!!!"
    v2 = dict(v1, **{"data/base.pak": bytes(pak)})
    publish(server, folder, [(10001, v1), (10002, v2)])
    run = content_run(launcher, v1, 10001)
    mark = server.log_mark()
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=90)
    run.stop()
    assert client_files(run.folder) == v2
    fetched = ranges(server, mark)
    # Only the chunks around the edit, all first stored by 10002: a few KiB of a 280 KB client.
    assert fetched and all(name.startswith("10002-") for name, _, _ in fetched), fetched
    assert sum(last - first + 1 for _, first, last in fetched) <= (server.root / "Content" / "packs" /
                                                                   "10002-0.pack").stat().st_size
    assert sum(last - first + 1 for _, first, last in fetched) < 3 * SIZES[2]


def test_a_file_the_new_release_drops_is_deleted_and_the_players_own_stay(launcher, server, folder):
    v2 = dict(game_files(3), **{"data/old.dat": b"only in 10002" * 100})
    v3 = {k: v for k, v in v2.items() if k != "data/old.dat"}
    publish(server, folder, [(10002, v2)])
    run = content_run(launcher, {}, None)
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=90)
    run.stop()
    write_tree(run.folder, {"data/mine.cfg": b"the player's", "logs/today.log": b"log"})
    publish(server, folder, [(10003, v3)])
    run.start()
    assert shows(run.origin(), READY.format(10003), timeout=90)
    run.stop()
    assert client_files(run.folder) == dict(v3, **{"data/mine.cfg": b"the player's", "logs/today.log": b"log"})
    assert not (run.folder / "content.10002.release").exists()


def test_a_chunk_with_one_byte_changed_is_refused_and_nothing_is_replaced(launcher, server, folder):
    v1 = game_files(4)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10002, v2)])
    pack = server.root / "Content" / "packs" / "10002-0.pack"
    data = bytearray(pack.read_bytes())
    data[-50] ^= 0x01  # inside the last chunk's stored (raw) block: it decodes, to other bytes
    pack.write_bytes(bytes(data))
    patch_signing.sign_folder(server.root, KEY)  # the pack's listing matches: only the chunk's hash refuses it
    run = content_run(launcher, v1, 10001)
    run.start()
    assert shows(run.origin(), FETCH_FAILED.format("Content/packs/10002-0.pack"), timeout=90)
    run.stop()
    assert client_files(run.folder) == v1
    assert run.version() == 10001
    assert not (run.folder / "content.state").exists()


def test_a_release_the_signed_manifest_does_not_list_is_refused(launcher, server, folder):
    v1 = game_files(5)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10002, v2)])
    release = server.root / "Content" / "releases" / "10002.release"
    kept = release.read_bytes()
    release.unlink()
    patch_signing.sign_folder(server.root, KEY)
    release.write_bytes(kept)
    run = content_run(launcher, v1, 10001)
    run.start()
    assert shows(run.origin(), RELEASE_FAILED.format("Content/releases/10002.release"), timeout=90)
    run.stop()
    assert client_files(run.folder) == v1
    assert run.version() == 10001


def test_a_kill_mid_update_leaves_whole_files_and_the_next_start_ends_ready(launcher, server, folder):
    v1, v2, v3, v4 = versions_four(folder)
    v4 = dict(v4, **{"data/base.pak": os.urandom(200000)})
    publish(server, folder, [(10004, v4)])
    run = content_run(launcher, v1, 10001)
    server.set_faults(["Content/packs/*=slow:20000@1"])
    run.start()
    run.wait_window()
    # The cache is made just before the first range request, which the server then sends slowly.
    deadline = time.time() + 60
    while time.time() < deadline and not (run.folder / "content.cache").exists():
        time.sleep(0.1)
    time.sleep(1.5)
    assert run.running()
    run.stop()
    server.set_faults([])
    now = client_files(run.folder)
    for name, data in now.items():
        assert data in (v1.get(name), v4.get(name)), name
    assert run.version() == 10001
    run.start()
    assert shows(run.origin(), READY.format(10004), timeout=90)
    run.stop()
    assert client_files(run.folder) == v4
    assert run.version() == 10004


BUILDING = "파일 만드는 중: {} ({} / {} KB)"


def set_bytes_keeping_stamp(path, data, stamp_ns):
    """Writes data to path with its last-write time put back: the kept state still vouches for it."""
    path.write_bytes(data)
    os.utime(path, ns=(stamp_ns, stamp_ns))


def kill_now(run):
    """Ends the launcher the way a crash or a task manager does: no exit code of its own runs."""
    os.killpg(run.process.pid, signal.SIGKILL)
    run.process.wait(timeout=10)
    run.stop()


def test_kills_while_files_are_built_leave_whole_files_every_time(launcher, server, folder):
    # Four files, each changed in its middle by 10002, built in path order; the last one's
    # Korean name must show right in the status line.
    names = ["data/a.dat", "data/b.dat", "data/c.dat", "지도/가나.map"]
    v1 = {name: os.urandom(60000 + 7000 * i) for i, name in enumerate(names)}
    v2 = {name: data[:30000] + b"10002" * 200 + data[31000:] for name, data in v1.items()}
    publish(server, folder, [(10001, v1)])
    run = content_run(launcher, {}, None)
    run.start()
    assert shows(run.origin(), READY.format(10001), timeout=90)
    run.stop()
    stamps = {name: (run.folder / name).stat().st_mtime_ns for name in names}
    publish(server, folder, [(10002, v2)])
    # A byte of each file's first chunk, changed without its stamp, is found out while that file
    # is built: the chunk is then fetched on its own, from 10001's pack, which the server sends
    # slowly. So every start below stops in the build of file k, files 0..k-1 moved into place.
    server.set_faults(["Content/packs/10001-*=slow:50"])
    for k, name in enumerate(names):
        path = run.folder / name
        damaged = bytearray(v1[name])
        damaged[100] ^= 0xFF
        set_bytes_keeping_stamp(path, bytes(damaged), stamps[name])
        # Files before k-1 are in place from earlier starts: this start builds k-1 (restored) onward.
        built = names[max(k - 1, 0):]
        done = sum(len(v2[n]) for n in built[:built.index(name)])
        total = sum(len(v2[n]) for n in built)
        run.start()
        assert shows(run.origin(), BUILDING.format(name, done >> 10, total >> 10), timeout=90), name
        time.sleep(0.4 * k)  # a later moment each time, the slow chunk still on its way
        assert run.running()
        kill_now(run)
        assert wait_until(lambda: not no_partial_files(run.folder), timeout=10), no_partial_files(run.folder)
        now = client_files(run.folder)
        expected = {**{n: v2[n] for n in names[:k]}, **{n: v1[n] for n in names[k + 1:]}, name: bytes(damaged)}
        assert set(now) == set(names)
        for n in names:
            assert now[n] == expected[n], (k, n, "new" if now[n] == v2[n] else "old" if now[n] == v1[n] else "torn")
        assert run.version() == 10001
        set_bytes_keeping_stamp(path, v1[name], stamps[name])
    server.set_faults([])
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=90)
    run.stop()
    assert client_files(run.folder) == v2
    assert run.version() == 10002
    assert not no_partial_files(run.folder)


def kept_stamps(folder):
    """(size, last-write time) of every file content.state vouches for, as sorted pairs."""
    data = (Path(folder) / "content.state").read_bytes()
    count = int.from_bytes(data[12:16], "little")
    return sorted(tuple(int.from_bytes(data[56 + 16 * i + k:64 + 16 * i + k], "little") for k in (0, 8))
                  for i in range(count))


def file_stamps(folder, names):
    """{name: (size, last-write time)} as Wine gives them: a FILETIME from the modification time."""
    stamps = {}
    for name in names:
        st = (Path(folder) / name).stat()
        stamps[name] = (st.st_size, st.st_mtime_ns // 100 + 116444736000000000)
    return stamps


def test_unchanged_files_carried_to_a_new_release_keep_their_stamps(launcher, server, folder):
    # Files a new release lists unchanged are neither rebuilt nor looked at again: the state
    # keeps the stamps the survey found, so the next start vouches for every file once more.
    v1 = game_files(6)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10001, v1)])
    run = content_run(launcher, {}, None)
    run.start()
    assert shows(run.origin(), READY.format(10001), timeout=90)
    run.stop()
    installed = file_stamps(run.folder, v1)
    assert kept_stamps(run.folder) == sorted(installed.values())
    publish(server, folder, [(10002, v2), (10003, v2)])
    run.start()
    assert shows(run.origin(), READY.format(10003), timeout=90)
    run.stop()
    assert client_files(run.folder) == v2
    now = file_stamps(run.folder, v2)
    assert kept_stamps(run.folder) == sorted(now.values())
    assert all(now[n] == installed[n] for n in v1 if v1[n] == v2[n])
