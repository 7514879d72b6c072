"""Content patching: launcher_content.exe (the build's test key, the content mode on) against
content releases published and signed by the operators' tool. The folder is brought to the
newest release from any version or from nothing, with only the chunks it lacks fetched."""
import os
import sys
from pathlib import Path

import harness
from test_fault_matrix import READY, no_partial_files, shows

sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

KEY = harness.BUILD / "test-signing" / "signing.key"
CONTENT = "launcher_content.exe"
SIZES = (1024, 4096, 16384)
OWN = {"launcher.exe", "config", "update.dat", "update.manifest"}


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
