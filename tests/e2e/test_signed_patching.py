"""Signed patch information: the launcher branded with the build's test key (launcher_keyed.exe)
against folders signed by the operators' tool, and the plain launcher beside them. A keyed
launcher installs only what the manifest lists, and any refusal of a fetch keeps its copies."""
import os
import shutil
import sys
import time
from pathlib import Path

import pytest

import harness
from test_fault_matrix import (HEAD, READY, ends_on_its_exit_button, no_partial_files, runs_to_a_failure, shows,
                               watched_outside)

sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

KEY = harness.BUILD / "test-signing" / "signing.key"
KEYED = "launcher_keyed.exe"
SIDE_FILES = ("LauncherPatchInfo.txt", "LauncherPatchInfo.manifest", "LauncherPatchInfo.manifest.sig")


def write_tree(root, files):
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def tree_bytes(root, ignore):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*")
            if p.is_file() and p.relative_to(root).as_posix() not in ignore}


def served(server):
    return {name: (server.root / name).read_bytes() for name in SIDE_FILES}


def restore(server, files):
    for name, data in files.items():
        server.put(name, data)


def test_the_publishing_round_trip_through_a_keyed_launcher_is_byte_exact(launcher, server, folder):
    v1 = {"Brevanta.exe": b"game v1", "data/base.pak": os.urandom(100000), "data/maps/a.map": b"A1" * 5000}
    v2 = dict(v1, **{"data/maps/a.map": b"A2" * 7000, "data/maps/b.map": b"B" * 3000})
    v3 = dict(v2, **{"Brevanta.exe": b"game v3", "data/ui/deep/er/icons.dat": os.urandom(50000)})
    clients = {}
    for version, files in ((10001, v1), (10002, v2), (10003, v3)):
        clients[version] = folder / "clients" / str(version)
        write_tree(clients[version], files)
    for old, new in ((10001, 10002), (10002, 10003)):
        assert publish_patch.main(["--old", str(clients[old]), "--new", str(clients[new]), "--version", str(new),
                                   "--out", str(server.root), "--sign-key", str(KEY), "--expires", "1d"]) == 0

    run = launcher("player", KEYED)
    write_tree(run.folder, v1)
    run.write_config(10001)
    mark = server.log_mark()
    run.start()
    assert shows(run.origin(), READY.format(10003), timeout=60)
    run.stop()
    own = {"launcher.exe", "config", "update.dat", "update.manifest", "update.manifest.sig"}
    assert tree_bytes(run.folder, own) == tree_bytes(clients[10003], set())
    assert (run.folder / "update.manifest").read_bytes() == (server.root / "LauncherPatchInfo.manifest").read_bytes()
    fetched = [r["path"].rsplit("/", 1)[1] for r in server.requests_since(mark) if r["method"] == "GET"]
    assert fetched[:3] == list(SIDE_FILES[1:]) + [SIDE_FILES[0]]


def test_a_patch_file_with_one_byte_changed_replaces_nothing(launcher, server, folder):
    v1 = {"Brevanta.exe": b"game v1", "data/a.bin": b"a1" * 20000}
    v2 = dict(v1, **{"data/a.bin": b"a2" * 20000})
    write_tree(folder / "v1", v1)
    write_tree(folder / "v2", v2)
    publish_patch.publish(folder / "v1", folder / "v2", 10002, server.root)
    patch_signing.sign_folder(server.root, KEY)
    archive = server.root / "Player" / "patch_10002.zip"
    data = bytearray(archive.read_bytes())
    data[len(data) // 2] ^= 0x20
    archive.write_bytes(bytes(data))

    run = launcher("game", KEYED)
    write_tree(run.folder, v1)
    run.write_config(10001)
    runs_to_a_failure(run, "Downloading failed - verify (patch_10002.zip)")
    assert run.version() == 10001
    assert tree_bytes(run.folder, {"launcher.exe", "config", "update.dat", "update.manifest", "update.manifest.sig"}) == v1
    assert not no_partial_files(run.folder)


def make_refused(kind, server, tmp):
    """Changes the served, signed folder (HEAD, 10003, then 10004 a.txt) so that a keyed
    launcher must refuse it."""
    if kind == "changed-information":
        info = server.root / "LauncherPatchInfo.txt"
        info.write_bytes(info.read_bytes().replace(b"a.txt", b"b.txt"))
        server.put("Player/b.txt", "b")
    elif kind == "another-key":
        patch_signing.keygen(tmp / "other.key", tmp / "other.pub")
        patch_signing.sign_folder(server.root, tmp / "other.key")
    elif kind == "no-signature":
        (server.root / "LauncherPatchInfo.manifest.sig").unlink()
    elif kind == "expired":
        patch_signing.sign_folder(server.root, KEY, expires="1h", now=time.time() - 7200)


@pytest.mark.parametrize("kind", ["changed-information", "another-key", "no-signature", "older-sequence", "expired"])
def test_a_refused_fetch_keeps_the_verified_copies(launcher, server, folder, kind):
    server.put("Player/a.txt", "a")
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n10004 a.txt\n")
    patch_signing.sign_folder(server.root, KEY)
    replay = served(server)
    # What an earlier start kept: the folder signed before step 10004 was published (signed
    # after it when the older copy is to be replayed, so that its sequence is the higher one).
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n")
    patch_signing.sign_folder(server.root, KEY, now=time.time() + 60)
    kept = served(server)
    run = launcher("game", KEYED)
    run.write_config(10003)
    (run.folder / "update.dat").write_bytes(kept["LauncherPatchInfo.txt"])
    (run.folder / "update.manifest").write_bytes(kept["LauncherPatchInfo.manifest"])
    (run.folder / "update.manifest.sig").write_bytes(kept["LauncherPatchInfo.manifest.sig"])
    restore(server, replay)
    if kind != "older-sequence":
        patch_signing.sign_folder(server.root, KEY, now=time.time() + 120)
        make_refused(kind, server, folder)

    mark = server.log_mark()
    with watched_outside(run):
        run.start()
        origin = run.origin()
        assert shows(origin, READY.format(10003), timeout=30)
        ends_on_its_exit_button(run, origin)
    assert (run.folder / "update.dat").read_bytes() == kept["LauncherPatchInfo.txt"]
    assert (run.folder / "update.manifest").read_bytes() == kept["LauncherPatchInfo.manifest"]
    assert run.version() == 10003
    assert not no_partial_files(run.folder)
    assert not [r for r in server.requests_since(mark) if "/Player/" in r["path"]]


def test_a_launcher_without_a_key_never_asks_for_the_manifest(launcher, server):
    server.put("Player/a.txt", "a")
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n10004 a.txt\n")
    server.put("LauncherPatchInfo.manifest", "not a manifest")
    server.put("LauncherPatchInfo.manifest.sig", "not a signature")
    run = launcher("game")
    run.write_config(10003)
    mark = server.log_mark()
    run.start()
    assert shows(run.origin(), READY.format(10004), timeout=30)
    run.stop()
    assert (run.folder / "a.txt").read_bytes() == b"a"
    assert not (run.folder / "update.manifest").exists()
    assert not [r for r in server.requests_since(mark) if ".manifest" in r["path"]]
