"""The Updater with a signing key (keyed/Updater.exe, the build tree's test key) against folders
signed by the operators' tool: it installs or starts only a launcher or installer that the
verified manifest lists with its size and SHA-256, and every refusal leaves the folder as it
was. The Updater without a key never asks for the manifest."""
import concurrent.futures
import shutil
import sys
import time

import pytest

import harness
from harness import BASE_PATH, BASE_URL, BUILD, wait_until
from test_updater import (DONE, DOWNLOAD_FAILED, NEW, OLD, ends, game_folder, hands_over_and_comes_back_ready,  # noqa: F401
                          ready_launcher_window, server_folder, start_updater, temporaries)

sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

KEY = BUILD / "test-signing" / "signing.key"
KEYED_UPDATER = BUILD / "keyed" / "Updater.exe"
KEYED_NEXT = BUILD / "keyed" / "next" / "launcher.exe"
KEYED_LAUNCHER = BUILD / "launcher_keyed.exe"
NOT_VERIFIED = 12  # the Updater's exit code (README: "The Updater")
INSTALLER = "1.0.0.10"
MANIFEST = "LauncherPatchInfo.manifest"


def keyed_folder(launcher, server, required=NEW):
    """The keyed launcher 1.1.1.24 with the keyed Updater beside it."""
    run = game_folder(launcher, server, required=required)
    shutil.copy2(KEYED_LAUNCHER, run.folder / "launcher.exe")
    shutil.copy2(KEYED_UPDATER, run.folder / "Updater.exe")
    return run


def publish_keyed_next(server):
    version, _ = publish_patch.publish_launchers([KEYED_NEXT], server.root)
    assert version == NEW
    return server.root / server_folder() / NEW / "launcher.exe"


def listed_launcher():
    return f"{server_folder()}/{NEW}/launcher.exe"


def flip_a_byte(path):
    """One byte in the middle changed, the size kept: past the headers and the version."""
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 0x01
    path.write_bytes(bytes(data))


def gets_of(server, mark, suffix):
    return [r for r in server.requests_since(mark) if r["method"] == "GET" and r["path"].endswith(suffix)]


# ---- the whole road ------------------------------------------------------------------------

def test_a_keyed_updater_installs_the_signed_launcher_which_comes_back_ready(launcher, server, ends):
    run = keyed_folder(launcher, server, required=OLD)
    published = publish_keyed_next(server)
    patch_signing.sign_folder(server.root, KEY)
    mark = server.log_mark()
    # The keyed launcher hands over only once it has verified the patch information.
    elapsed = hands_over_and_comes_back_ready(run, published)
    # The Updater asked for the manifest and its signature with one query, then the launcher.
    by_updater = [r for r in server.requests_since(mark) if r["agent"] == "Updater"]
    assert [(r["method"], r["path"], r["status"]) for r in by_updater] == [
        ("GET", f"{BASE_PATH}/{MANIFEST}", 200), ("GET", f"{BASE_PATH}/{MANIFEST}.sig", 200),
        ("GET", f"{BASE_PATH}/{listed_launcher()}", 200)]
    assert by_updater[0]["query"].startswith("tick=") and by_updater[0]["query"] == by_updater[1]["query"]
    # The new launcher keeps the manifest the old one kept.
    assert (run.folder / "update.manifest").read_bytes() == (server.root / MANIFEST).read_bytes()
    print(f"\nkeyed self-update road: {elapsed:.1f} s from the old launcher's start to the new one's ready state")


# ---- refusals: the old launcher stays, byte for byte ---------------------------------------

def sign_then_flip(server, folder):
    patch_signing.sign_folder(server.root, KEY)
    flip_a_byte(server.root / listed_launcher())


def sign_then_lengthen(server, folder):
    patch_signing.sign_folder(server.root, KEY)
    path = server.root / listed_launcher()
    path.write_bytes(path.read_bytes() + b"\0")


def sign_then_publish(server, folder):
    """The launcher published after the folder was signed: the manifest does not list it."""
    (server.root / listed_launcher()).unlink()
    patch_signing.sign_folder(server.root, KEY)
    publish_patch.place_file(KEYED_NEXT, server.root / listed_launcher())


def sign_with_another_key(server, folder):
    patch_signing.keygen(folder / "other.key", folder / "other.pub")
    patch_signing.sign_folder(server.root, folder / "other.key")


def drop_the_signature(server, folder):
    patch_signing.sign_folder(server.root, KEY)
    (server.root / (MANIFEST + ".sig")).unlink()


def replay_an_older_manifest(server, folder):
    """The launcher kept a newer manifest than the one served."""
    patch_signing.sign_folder(server.root, KEY)
    older = {name: (server.root / name).read_bytes() for name in (MANIFEST, MANIFEST + ".sig")}
    patch_signing.sign_folder(server.root, KEY, now=time.time() + 60)
    (folder / "update.manifest").write_bytes((server.root / MANIFEST).read_bytes())
    (folder / "update.manifest.sig").write_bytes((server.root / (MANIFEST + ".sig")).read_bytes())
    for name, data in older.items():
        server.put(name, data)


def serve_a_huge_manifest(server, folder):
    """More than a manifest may hold: refused by its announced length, before it is read."""
    patch_signing.sign_folder(server.root, KEY)
    server.put(MANIFEST, b"x" * (1024 * 1024 + 1))


def sign_expired(server, folder):
    patch_signing.sign_folder(server.root, KEY, expires="1h", now=time.time() - 7200)


REFUSALS = {
    # name: (how the signed folder is spoiled, words in the box, whether the launcher is fetched)
    "one-byte-changed": (sign_then_flip, "its content is not the one LauncherPatchInfo.manifest lists for", True),
    # Refused by its announced length, before anything is written: the download road's box.
    "one-byte-longer": (sign_then_lengthen, "not the size the signed list of published files gives", True),
    "unlisted": (sign_then_publish, "LauncherPatchInfo.manifest does not list", False),
    "another-key": (sign_with_another_key, "is not signed with the key this Updater was built with", False),
    "no-signature": (drop_the_signature, "LauncherPatchInfo.manifest.sig, could not be downloaded: "
                     "the server answered 404", False),
    "older-sequence": (replay_an_older_manifest, "is older than the one the launcher already has", False),
    "expired": (sign_expired, "LauncherPatchInfo.manifest has expired", False),
    "huge-manifest": (serve_a_huge_manifest, "could not be downloaded: the server announced 1048577 bytes, "
                      "more than the 1048576 this file may have", False),
}


NOT_DOWNLOADED = {"one-byte-longer"}


@pytest.mark.parametrize("kind", sorted(REFUSALS))
def test_a_keyed_updater_refuses_what_the_signed_manifest_does_not_vouch_for(launcher, server, ends, kind):
    spoil, words, fetched = REFUSALS[kind]
    run = keyed_folder(launcher, server)
    publish_keyed_next(server)
    spoil(server, run.folder)
    kept = sorted((p.name, p.read_bytes()) for p in run.folder.iterdir())
    mark = server.log_mark()
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"], "no box from the Updater"
    text = box["text"]
    refused = "could not be downloaded" if kind in NOT_DOWNLOADED else "was refused"
    assert f"The new launcher.exe {refused}" in text and words in text and "Nothing was changed" in text, text
    if kind in ("one-byte-changed", "one-byte-longer", "unlisted"):
        assert listed_launcher() in text
    assert updater.wait(30) == (DOWNLOAD_FAILED if kind in NOT_DOWNLOADED else NOT_VERIFIED)
    # launcher.exe is the keyed 1.1.1.24 byte for byte, and nothing else came or went.
    assert sorted((p.name, p.read_bytes()) for p in run.folder.iterdir()) == kept
    assert bool(gets_of(server, mark, "/launcher.exe")) == fetched
    assert not harness.find_windows()  # no launcher was started


@pytest.mark.parametrize("change", [1 << 20, -1], ids=["a-megabyte-longer", "one-byte-shorter"])
def test_a_keyed_updater_refuses_a_length_other_than_the_signed_one_before_writing(launcher, server, ends, change):
    run = keyed_folder(launcher, server)
    published = publish_keyed_next(server)
    patch_signing.sign_folder(server.root, KEY)
    data = published.read_bytes()
    published.write_bytes(data + b"\0" * change if change > 0 else data[:change])
    # Sent slowly: a file created before the length is compared would be seen meanwhile.
    server.set_faults([f"{listed_launcher()}=slow:100000"])
    kept = sorted((p.name, p.read_bytes()) for p in run.folder.iterdir())
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        probe = pool.submit(harness.probe_box, "Updater", timeout_ms=30000)
        seen = set()
        while not probe.done():
            seen.update(p.name for p in run.folder.iterdir())
            time.sleep(0.05)
        box = probe.result()
    assert box["found"] and "The new launcher.exe could not be downloaded" in box["text"], box
    assert f"the server announced {len(published.read_bytes())} bytes, not the size the signed list" in box["text"]
    assert updater.wait(30) == DOWNLOAD_FAILED
    assert "launcher.exe.updating" not in seen
    assert sorted((p.name, p.read_bytes()) for p in run.folder.iterdir()) == kept


# ---- the installer road --------------------------------------------------------------------

@pytest.mark.parametrize("changed", [False, True], ids=["signed", "one-byte-changed"])
def test_a_keyed_updater_starts_only_the_signed_installer(launcher, server, ends, changed):
    run = keyed_folder(launcher, server, required=OLD)
    installer = server.put(f"Installer/{INSTALLER}/QOR_Installer.exe", (BUILD / "stand_in.exe").read_bytes())
    patch_signing.sign_folder(server.root, KEY)
    if changed:
        flip_a_byte(installer)
    updater = start_updater(run.folder, "Installer", 0, INSTALLER, BASE_URL)
    if not changed:
        assert updater.wait(60) == DONE
        record = wait_until(lambda: run.started_record("QOR_Installer.exe"), timeout=60)
        assert record, "the installer was not started"
        assert (run.folder / "QOR_Installer.exe").read_bytes() == installer.read_bytes()
        return
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"] and "The new QOR_Installer.exe was refused" in box["text"], box
    assert f"lists for Installer/{INSTALLER}/QOR_Installer.exe" in box["text"]
    assert updater.wait(30) == NOT_VERIFIED
    time.sleep(2)  # a started installer would have written its record by now
    assert run.started_record("QOR_Installer.exe") is None
    assert not (run.folder / "QOR_Installer.exe").exists() and temporaries(run.folder) == []


# ---- without a key -------------------------------------------------------------------------

def test_an_updater_without_a_key_never_asks_for_the_manifest(launcher, server, ends):
    run = game_folder(launcher, server)
    published = server.root / server_folder() / NEW / "launcher.exe"
    publish_patch.publish_launchers([BUILD / "next" / "launcher.exe"], server.root)
    server.put(MANIFEST, "not a manifest")
    server.put(MANIFEST + ".sig", "not a signature")
    mark = server.log_mark()
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    assert updater.wait(60) == DONE
    ready_launcher_window()
    assert (run.folder / "launcher.exe").read_bytes() == published.read_bytes()
    assert not [r for r in server.requests_since(mark) if ".manifest" in r["path"]]
