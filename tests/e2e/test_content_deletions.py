"""What the content launcher deletes: only files it put there that still hold the old release's
bytes, never before every new file is in place (but what stands where a new file goes), and the
folders a release empties. Nothing outside the game folder changes."""
import hashlib
import struct
import sys

import harness
from test_content_patching import SIZES, client_files, content_run, publish, write_tree
from test_fault_matrix import READY, shows, watched_outside

sys.path.insert(0, str(harness.ROOT / "tools"))
import publish_patch  # noqa: E402

UNAVAILABLE = "서버에 릴리스 {} 없음 ({})"


def game(seed, extra=None):
    rng = __import__("random").Random(seed)
    files = {"Brevanta.exe": rng.randbytes(30000), "data/base.pak": rng.randbytes(60000)}
    files.update(extra or {})
    return files


def update_to(run, version, timeout=90):
    with watched_outside(run):
        run.start()
        assert shows(run.origin(), READY.format(version), timeout=timeout)
        run.stop()


def forge_state(run, folder, version, files):
    """A kept release and content.state claiming `files` were installed as `version`: what any
    user of the machine can write into a game folder."""
    scratch = folder / "forged"
    write_tree(scratch / "client", files)
    publish_patch.publish_content(scratch / "client", version, scratch / "root", sizes=SIZES, level=3)
    manifest = (scratch / "root" / "Content" / "releases" / f"{version}.release").read_bytes()
    (run.folder / f"content.{version}.release").write_bytes(manifest)
    state = b"QORSTAT1" + struct.pack("<IIQ", version, len(files), len(manifest)) + hashlib.sha256(manifest).digest()
    (run.folder / "content.state").write_bytes(state + b"\0" * 16 * len(files))


def test_a_forged_state_deletes_no_file_the_launcher_did_not_put_there(launcher, server, folder):
    v2 = game(1)
    publish(server, folder, [(10002, v2)])
    run = content_run(launcher, dict(v2, **{"notes/mine.txt": b"the player's own notes"}), 10001)
    forge_state(run, folder, 10001, dict(v2, **{"notes/mine.txt": b"what the forger claims"}))
    update_to(run, 10002)
    assert client_files(run.folder) == dict(v2, **{"notes/mine.txt": b"the player's own notes"})


def test_folders_become_files_and_back_and_emptied_folders_go(launcher, server, folder):
    v1 = game(2, {"maps/a.map": b"a" * 5000, "maps/deep/b.map": b"b" * 7000,
                  "old/er/est/x.dat": b"x" * 3000, "kept/y.dat": b"y" * 2000})
    v2 = game(2, {"maps": b"maps is a file now" * 100})
    v3 = game(2, {"maps/c.map": b"c" * 9000})
    publish(server, folder, [(10001, v1)])
    run = content_run(launcher, {}, None)
    update_to(run, 10001)
    write_tree(run.folder, {"kept/mine.txt": b"the player's"})
    publish(server, folder, [(10002, v2)])
    update_to(run, 10002)
    assert client_files(run.folder) == dict(v2, **{"kept/mine.txt": b"the player's"})
    assert not (run.folder / "old").exists(), "a folder the release emptied stays"
    publish(server, folder, [(10003, v3)])
    update_to(run, 10003)
    assert client_files(run.folder) == dict(v3, **{"kept/mine.txt": b"the player's"})
    assert run.version() == 10003


def test_a_fetch_that_fails_after_the_plan_leaves_the_installed_release_whole(launcher, server, folder):
    v1 = game(3, {"maps/a.map": b"a" * 5000, "gone/x.dat": b"x" * 3000})
    v2 = game(4, {"maps": b"maps is a file now" * 100})
    publish(server, folder, [(10001, v1)])
    run = content_run(launcher, {}, None)
    update_to(run, 10001)
    publish(server, folder, [(10002, v2)])
    server.set_faults(["Content/packs/10002-*=status:404"])
    with watched_outside(run):
        run.start()
        assert shows(run.origin(), UNAVAILABLE.format(10002, "Content/packs/10002-0.pack"), timeout=90)
        run.stop()
    assert client_files(run.folder) == v1
    assert run.version() == 10001
    server.set_faults([])
    update_to(run, 10002)
    assert client_files(run.folder) == v2

