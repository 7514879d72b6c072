"""What a keyed launcher keeps in its folder is a hint, never an authority: a kept manifest
counts only while its kept signature verifies, and the newest sequence it committed stays in the
machine's registry, where deleting the folder's copies cannot lower it. And a content launcher
reads past the classic road's hundred step slots to the newest release."""
import re
import sys
import time

import harness
from test_content_patching import CONTENT, client_files, publish
from test_fault_matrix import HEAD, READY, ends_on_its_exit_button, no_partial_files, shows, watched_outside

sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402

KEY = harness.BUILD / "test-signing" / "signing.key"
KEYED = "launcher_keyed.exe"
SIDE_FILES = ("LauncherPatchInfo.txt", "LauncherPatchInfo.manifest", "LauncherPatchInfo.manifest.sig")
FLOOR = "ManifestSequence"


def served(server):
    return {name: (server.root / name).read_bytes() for name in SIDE_FILES}


def sequence_of(manifest):
    return int(manifest.split(b"\n")[1].split()[1])


def machine_floor():
    """The floor in the test prefix's registry, or None without one. Wine's reg prints a
    REG_QWORD's data as "(null)", so the key is exported and its hex(b) bytes read."""
    text = harness.installation_key_text("floor")
    found = re.search(r'"%s"=hex\(b\):([0-9a-fA-F,]+)' % FLOOR, text)
    return int.from_bytes(bytes.fromhex(found.group(1).replace(",", "")), "little") if found else None


def test_an_older_signed_folder_replayed_after_the_kept_copies_were_deleted_is_refused(launcher, server, folder):
    # The older folder announces step 10004; the newer one, signed a minute later, does not.
    server.put("Player/a.txt", "a")
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n10004 a.txt\n")
    patch_signing.sign_folder(server.root, KEY)
    older = served(server)
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n")
    patch_signing.sign_folder(server.root, KEY, now=time.time() + 60)
    newer = served(server)
    run = launcher("game", KEYED)  # the fixture removed the key: a fresh installation's floor
    run.write_config(10003)
    assert machine_floor() is None
    run.start()
    assert shows(run.origin(), READY.format(10003), timeout=30)
    run.stop()
    assert (run.folder / "update.manifest.sig").read_bytes() == newer["LauncherPatchInfo.manifest.sig"]
    assert machine_floor() == sequence_of(newer["LauncherPatchInfo.manifest"])

    # A user deletes both kept files and the server replays the older folder.
    (run.folder / "update.manifest").unlink()
    (run.folder / "update.manifest.sig").unlink()
    for name, data in older.items():
        server.put(name, data)
    mark = server.log_mark()
    with watched_outside(run):
        run.start()
        origin = run.origin()
        assert shows(origin, READY.format(10003), timeout=30)
        ends_on_its_exit_button(run, origin)
    assert (run.folder / "update.dat").read_bytes() == newer["LauncherPatchInfo.txt"]
    assert not (run.folder / "update.manifest").exists()
    assert run.version() == 10003 and not (run.folder / "a.txt").exists()
    assert not no_partial_files(run.folder)
    assert not [r for r in server.requests_since(mark) if "/Player/" in r["path"]]
    assert machine_floor() == sequence_of(newer["LauncherPatchInfo.manifest"])


def test_an_empty_folder_reaches_the_newest_of_150_releases_in_one_start(launcher, server, folder):
    # One real content release at the end of a [PLAYER] section of 150 lines: the hundredth,
    # 10100, is where the classic road's slots end, and no content release was published for it.
    files = {"Brevanta.exe": b"game 10150" * 300, "data/a.bin": bytes(range(256)) * 64}
    publish(server, folder, [(10150, files)])
    info = (server.root / "LauncherPatchInfo.txt").read_text()
    head, _, player = info.partition("[PLAYER]\n")
    lines = [line for line in player.splitlines() if line.strip()]
    assert lines and lines[-1].split()[0] == "10150", info
    earlier = "".join(f"{version}\n" for version in range(10001, 10150))
    server.put("LauncherPatchInfo.txt", head + "[PLAYER]\n" + earlier + "\n".join(lines) + "\n")
    patch_signing.sign_folder(server.root, KEY)
    run = launcher("player", CONTENT)
    run.start()
    assert shows(run.origin(), READY.format(10150), timeout=90)
    run.stop()
    assert client_files(run.folder) == files
    assert run.version() == 10150
