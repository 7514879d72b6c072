"""Root keys: the launcher and Updater built with the build tree's three test root keys (two of
which must sign) against folders whose root documents and manifests the operators' tool signed.
They walk from the root the machine keeps to the newest one, one version at a time; only that
root's online keys sign a manifest, every manifest expires, and a rotation of the online key
revokes the old one and starts the rollback floors over."""
import re
import shutil
import sys
import time

import pytest

import harness
from harness import BASE_URL, BUILD
from test_content_patching import SIZES, client_files, game_files, write_tree
from test_fault_matrix import HEAD, READY, no_partial_files, shows
from test_updater import (NEW, ends, game_folder, hands_over_and_comes_back_ready, server_folder,  # noqa: F401
                          start_updater)

sys.path.insert(0, str(harness.ROOT / "tools"))
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402
import root_signing  # noqa: E402

TEST_ROOT = BUILD / "test-root"
BUILT_IN = TEST_ROOT / "root-keys.txt"
ROOT_KEYS = [TEST_ROOT / f"root{n}.key" for n in (1, 2, 3)]
ROOTED = "launcher_rooted.exe"
MANIFEST = "LauncherPatchInfo.manifest"
HIGHEST = 10 ** 18 - 1
NOT_VERIFIED = 12


def online_key(folder, name):
    private, public = folder / f"{name}.key", folder / f"{name}.pub"
    if not private.exists():
        patch_signing.keygen(private, public)
    return private, public


def publish_root(server, online, signers=ROOT_KEYS[:2], **options):
    path, missing = root_signing.new_root(server.root, [patch_signing.KeySigner(k) for k in signers], [online],
                                          built_in_path=BUILT_IN, **options)
    return path


def sign_by_hand(server, key, sequence, expires):
    """A manifest the tool would not write (a sequence at the top, or no expiry), signed by key."""
    text = patch_signing.manifest_text(sequence, expires, patch_signing.folder_entries(server.root))
    server.put(MANIFEST, text)
    server.put(MANIFEST + ".sig", patch_signing.sign_bytes(patch_signing.KeySigner(key), text))


def installation_values():
    """The values under the installation's key in the test prefix: {name: bytes}."""
    text = harness.installation_key_text("root-keys")
    return {name: bytes.fromhex(data.replace(",", ""))
            for name, data in re.findall(r'"([^"]+)"=hex(?:\(b\))?:([0-9a-fA-F,]+)', text)}


def trusted_version(values):
    root = values.get("TrustedRoot")
    return int(re.search(rb"\nversion (\d+)\n", root).group(1)) if root else None


def floors(values):
    """{online keys' tag: sequence} of the live channel's floors."""
    return {name.partition("@")[2]: int.from_bytes(data, "little") for name, data in values.items()
            if name.startswith("ManifestSequence@")}


def ready_at(run, version):
    run.start()
    assert shows(run.origin(), READY.format(version), timeout=40)
    run.stop()


def test_a_rotated_online_key_recovers_a_fast_forward_and_revokes_the_old_key(launcher, server, folder):
    old_key, old_public = online_key(folder, "online-a")
    new_key, new_public = online_key(folder, "online-b")
    publish_root(server, old_public)
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n")
    # A manifest signed once at the highest sequence: every later one of this key is below it.
    sign_by_hand(server, old_key, HIGHEST, int(time.time()) + 86400)
    run = launcher("game", ROOTED)
    run.write_config(10003)
    ready_at(run, 10003)
    values = installation_values()
    assert trusted_version(values) == 1 and list(floors(values).values()) == [HIGHEST]

    server.put("Player/a.txt", "a")
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n10004 a.txt\n")
    with pytest.raises(patch_signing.SigningError, match="beyond what launchers read"):
        patch_signing.sign_folder(server.root, old_key)
    # The way out: a new root names a new online key; the signing command holds it.
    publish_root(server, new_public)
    assert publish_patch.main(["sign", str(server.root), "--sign-command",
                               f"openssl pkeyutl -sign -inkey {new_key}"]) == 0
    ready_at(run, 10004)
    assert (run.folder / "a.txt").read_bytes() == b"a"
    values = installation_values()
    assert trusted_version(values) == 2
    new_floors = {tag: n for tag, n in floors(values).items() if n != HIGHEST}
    assert len(new_floors) == 1 and list(new_floors.values())[0] < HIGHEST

    # The old key is revoked: what it signs, however new, is refused and nothing is fetched.
    server.put("Player/b.txt", "b")
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n10004 a.txt\n10005 b.txt\n")
    sign_by_hand(server, old_key, int(time.time()) + 3600, int(time.time()) + 86400)
    mark = server.log_mark()
    ready_at(run, 10004)
    assert not [r for r in server.requests_since(mark) if "/Player/" in r["path"]]


def root_signed_by_one_key(server, old, new):
    path = publish_root(server, new[1], signers=ROOT_KEYS[:1])
    path.rename(path.with_name(path.name[:-len(root_signing.PENDING)]))  # served all the same
    patch_signing.sign_folder(server.root, new[0])


def root_version_skipped(server, old, new):
    publish_root(server, new[1])
    publish_root(server, new[1])
    root_signing.root_path(server.root, 2).unlink()
    patch_signing.sign_folder(server.root, new[0])


def root_expired(server, old, new):
    publish_root(server, new[1], expires="1h", now=time.time() - 7200)
    patch_signing.sign_folder(server.root, new[0], now=time.time() - 7200)


def manifest_expired(server, old, new):
    patch_signing.sign_folder(server.root, old[0], expires="1h", now=time.time() - 7200)


def manifest_without_expiry(server, old, new):
    sign_by_hand(server, old[0], int(time.time()) + 60, None)


REFUSED = {
    # name: (how the folder is spoiled, the root version the machine trusts afterwards)
    "root-signed-by-one-key": (root_signed_by_one_key, 1),
    "root-version-skipped": (root_version_skipped, 1),
    "root-expired": (root_expired, 2),
    "manifest-expired": (manifest_expired, 1),
    "manifest-without-expiry": (manifest_without_expiry, 1),
}


@pytest.mark.parametrize("kind", sorted(REFUSED))
def test_what_no_current_root_vouches_for_keeps_the_verified_copies(launcher, server, folder, kind):
    old, new = online_key(folder, "online-a"), online_key(folder, "online-b")
    publish_root(server, old[1])
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n")
    patch_signing.sign_folder(server.root, old[0])
    run = launcher("game", ROOTED)
    run.write_config(10003)
    ready_at(run, 10003)
    kept = (run.folder / "update.manifest").read_bytes()

    server.put("Player/a.txt", "a")
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n10004 a.txt\n")
    spoil, trusted = REFUSED[kind]
    spoil(server, old, new)
    mark = server.log_mark()
    ready_at(run, 10003)
    assert (run.folder / "update.manifest").read_bytes() == kept
    assert not [r for r in server.requests_since(mark) if "/Player/" in r["path"]]
    assert trusted_version(installation_values()) == trusted
    assert not no_partial_files(run.folder)


def rooted_folder(launcher, server):
    run = game_folder(launcher, server)
    shutil.copy2(BUILD / ROOTED, run.folder / "launcher.exe")
    shutil.copy2(BUILD / "rooted" / "Updater.exe", run.folder / "Updater.exe")
    version, _ = publish_patch.publish_launchers([BUILD / "rooted" / "next" / "launcher.exe"], server.root)
    assert version == NEW
    return run


def test_a_rooted_updater_walks_the_roots_and_installs_what_the_newest_vouches_for(launcher, server, folder, ends):
    run = rooted_folder(launcher, server)
    old, new = online_key(folder, "online-a"), online_key(folder, "online-b")
    publish_root(server, old[1])
    publish_root(server, new[1])
    patch_signing.sign_folder(server.root, new[0])
    hands_over_and_comes_back_ready(run, server.root / server_folder() / NEW / "launcher.exe")
    assert trusted_version(installation_values()) == 2


def test_a_rooted_updater_takes_nothing_past_an_expired_root(launcher, server, folder, ends):
    run = rooted_folder(launcher, server)
    online = online_key(folder, "online-a")
    publish_root(server, online[1], expires="1h", now=time.time() - 7200)
    patch_signing.sign_folder(server.root, online[0], now=time.time() - 7200)
    kept = sorted((p.name, p.read_bytes()) for p in run.folder.iterdir())
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"], "no box from the Updater"
    assert "no current root document" in box["text"] and "Nothing was changed" in box["text"], box["text"]
    assert updater.wait(30) == NOT_VERIFIED
    assert sorted((p.name, p.read_bytes()) for p in run.folder.iterdir()) == kept


def test_a_ready_content_game_stays_ready_past_an_expired_manifest(launcher, server, folder):
    key, public = online_key(folder, "online-a")
    publish_root(server, public)
    files = {}
    for version, seed in ((10002, 1), (10003, 2)):
        files[version] = game_files(seed)
        write_tree(folder / "clients" / str(version), files[version])
    publish_patch.publish_content(folder / "clients" / "10002", 10002, server.root, sizes=SIZES, level=3)
    patch_signing.sign_folder(server.root, key)
    run = launcher("player", "launcher_content_rooted.exe")
    ready_at(run, 10002)  # from nothing
    assert client_files(run.folder) == files[10002]

    publish_patch.publish_content(folder / "clients" / "10003", 10003, server.root, sizes=SIZES, level=3)
    patch_signing.sign_folder(server.root, key, expires="1h", now=time.time() - 7200)
    mark = server.log_mark()
    ready_at(run, 10002)
    assert client_files(run.folder) == files[10002]
    assert not [r for r in server.requests_since(mark) if "/Content/" in r["path"]]
