"""Verify and repair in content mode: `launcher.exe --verify` hashes every installed file and
mends the damaged ones from only the chunks they lack; the argument never reaches the game. An
interrupted update, found at start with the newest release recorded, verifies the same way."""
import hashlib
import shutil

import harness
from test_content_patching import SIZES, client_files, content_run, publish, set_bytes_keeping_stamp
from test_fault_matrix import READY, no_partial_files, shows, wait_until

import content_chunker  # noqa: E402  (tools/, on the path from test_content_patching)
import content_release  # noqa: E402

VERSION = 10002
VERIFIED = "게임을 시작할 준비가 되었습니다. [버전: {}] 복구한 파일: {}개"
START_BUTTON = (77, 406)


def release_files():
    rng = __import__("random").Random(11)
    # Intact files between the damaged ones, each longer than the merge gap (64 KiB), so no
    # request of one damaged file can reach into another's chunks.
    return {"Brevanta.exe": (harness.BUILD / "stand_in.exe").read_bytes(),
            "data/a_deleted.dat": rng.randbytes(40000), "data/b_intact.dat": rng.randbytes(150000),
            "data/c_changed.dat": rng.randbytes(200000), "data/d_intact.dat": rng.randbytes(150000),
            "data/e_short.dat": rng.randbytes(120000), "data/f_intact.dat": rng.randbytes(100000)}


INSTALLED = {}  # the folder of the first install, copied (stamps and all) by the later tests


def installed_run(launcher, server, folder):
    """A launcher in a folder holding the whole release as an install leaves it, content.state
    vouching for every file. The release is published for every test (the server starts empty);
    the install runs once per module and is copied after that."""
    files = release_files()
    publish(server, folder, [(VERSION, files)])
    run = content_run(launcher, {}, None)
    if "folder" in INSTALLED:
        shutil.copytree(INSTALLED["folder"], run.folder, dirs_exist_ok=True, copy_function=shutil.copy2)
        return run, files
    run.start()
    assert shows(run.origin(), READY.format(VERSION), timeout=90)
    run.stop()
    INSTALLED["folder"] = run.folder.parent / "installed"
    shutil.copytree(run.folder, INSTALLED["folder"], copy_function=shutil.copy2)
    return run, files


def chunk_digests(data):
    ends = content_chunker.cut_bytes(data, *SIZES)
    return {hashlib.sha256(data[a:b]).digest() for a, b in zip([0] + ends, ends)}


def needed_spans(server, local):
    """{(pack, offset, end)} of the release's chunks that no local file holds any more."""
    release = content_release.parse((server.root / "Content" / "releases" / f"{VERSION}.release").read_bytes())
    have = set().union(*(chunk_digests(data) for data in local.values()))
    spans = set()
    for chunk in release.chunks:
        if chunk.sha not in have:
            pack = release.packs[chunk.pack]
            spans.add((content_release.pack_name(pack[0], pack[1]), chunk.offset, chunk.offset + chunk.stored))
    return spans


def fetched_spans(server, mark):
    spans = []
    for r in server.requests_since(mark):
        if "/Content/packs/" in r["path"]:
            wanted = {k.lower(): v for k, v in (r.get("headers") or {}).items()}.get("range", "")
            first, last = wanted.split("=")[1].split("-")
            spans.append((r["path"].rsplit("/", 1)[1], int(first), int(last) + 1))
    return spans


def covered_exactly(fetched, needed):
    """Every fetched byte belongs to a needed chunk, and every needed chunk was fetched once."""
    total = sum(end - start for _, start, end in fetched)
    inside = all(any(p == q and s <= a and b <= e for q, s, e in fetched) for p, a, b in needed)
    return inside and total == sum(b - a for _, a, b in needed)


def test_verify_mends_a_deleted_a_changed_and_a_cut_file_from_their_chunks_alone(launcher, server, folder):
    run, files = installed_run(launcher, server, folder)
    (run.folder / "data" / "mine.cfg").write_bytes(b"the player's own")
    (run.folder / "data" / "a_deleted.dat").unlink()
    changed = bytearray(files["data/c_changed.dat"])
    changed[123456] ^= 0x01
    (run.folder / "data" / "c_changed.dat").write_bytes(bytes(changed))
    (run.folder / "data" / "e_short.dat").write_bytes(files["data/e_short.dat"][:70001])
    local = client_files(run.folder)
    needed = needed_spans(server, local)
    assert 3 <= len(needed) <= 30, needed  # all of one small file and a tail, a chunk or two of another

    mark = server.log_mark()
    run.start("--verify", "-window", "-server", "7")
    origin = run.origin()
    assert shows(origin, VERIFIED.format(VERSION, 3), timeout=90)
    assert harness.start_button_look(harness.screenshot(), origin) == "enabled"
    assert client_files(run.folder) == dict(files, **{"data/mine.cfg": b"the player's own"})
    assert run.version() == VERSION
    assert not no_partial_files(run.folder) and not (run.folder / "content.cache").exists()
    fetched = fetched_spans(server, mark)
    assert covered_exactly(fetched, needed), (fetched, sorted(needed))

    # The game gets the player's arguments, without the launcher's own.
    harness.click(origin[0] + START_BUTTON[0], origin[1] + START_BUTTON[1])
    assert run.wait(20) == 0
    record = wait_until(lambda: run.started_record("Brevanta.exe"), timeout=10)
    assert record["argc"] == "4" and [record[f"arg{i}"] for i in (1, 2, 3)] == ["-window", "-server", "7"], record


def test_the_start_after_an_interrupted_update_verifies_what_the_stamps_vouch_for(launcher, server, folder):
    run, files = installed_run(launcher, server, folder)
    # Damaged behind its stamp: an ordinary start vouches for it unread and shows the plain
    # ready text (test_content_patching.py's damaged-stamp tests); only a verify mends it.
    pak = run.folder / "data" / "b_intact.dat"
    damaged = bytearray(files["data/b_intact.dat"])
    damaged[5000] ^= 0xFF
    set_bytes_keeping_stamp(pak, bytes(damaged), pak.stat().st_mtime_ns)
    # An update ended before its record was written leaves its chunk cache behind.
    (run.folder / "content.cache").write_bytes(b"\0" * 4096)
    run.start()
    assert shows(run.origin(), VERIFIED.format(VERSION, 1), timeout=90)
    run.stop()
    assert client_files(run.folder) == files
    assert not (run.folder / "content.cache").exists()
