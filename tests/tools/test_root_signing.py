"""Root keys in the operators' tool: the built-in keys file, root documents that wait for their
signatures, walks that refuse what launchers refuse, manifests that only the newest root's
online keys sign, and signing through a command that holds the key."""
import sys
import time
from pathlib import Path

import pytest

TOOLS = Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS))
import patch_signing  # noqa: E402
import root_signing  # noqa: E402

from tool_support import run, tree  # noqa: E402


@pytest.fixture(scope="module")
def keys(tmp_path_factory):
    """Three root keys, two online keys, and the built-in file of the root keys (2 of 3)."""
    folder = tmp_path_factory.mktemp("keys")
    pairs = {}
    for name in ("r1", "r2", "r3", "r4", "on1", "on2"):
        patch_signing.keygen(folder / f"{name}.key", folder / f"{name}.pub")
        pairs[name] = (folder / f"{name}.key", folder / f"{name}.pub")
    result = run("root-keys", "--threshold", 2, *[a for n in ("r1", "r2", "r3") for a in ("--key", pairs[n][1])],
                 "--out", folder / "root-keys.txt")
    assert result.returncode == 0, result.stderr
    pairs["built-in"] = folder / "root-keys.txt"
    return pairs


def signers(keys, *names):
    return [patch_signing.KeySigner(keys[n][0]) for n in names]


def test_the_keys_file_is_what_the_build_reads_and_refuses_what_would_weaken_it(keys, tmp_path):
    lines = keys["built-in"].read_bytes().split(b"\n")
    assert lines[:2] == [b"QOR-PATCH-ROOT-KEYS 1", b"threshold 2"] and lines[-1] == b""
    assert lines[2:-1] == sorted(lines[2:-1]) and len(lines[2:-1]) == 3
    assert root_signing.read_root_keys(keys["built-in"]).threshold == 2
    same = run("root-keys", "--threshold", 1, "--key", keys["r1"][1], "--key", keys["r1"][1], "--out", tmp_path / "k")
    over = run("root-keys", "--threshold", 3, "--key", keys["r1"][1], "--key", keys["r2"][1], "--out", tmp_path / "k")
    assert same.returncode == over.returncode == 1 and not (tmp_path / "k").exists()


def test_a_root_waits_for_its_signatures_then_walks_and_rotates(keys, tmp_path):
    folder = tree(tmp_path / "pub", {"LauncherPatchInfo.txt": b"info"})
    path, missing = root_signing.new_root(folder, signers(keys, "r1"), [keys["on1"][1]],
                                          built_in_path=keys["built-in"])
    assert path.name == "LauncherPatchInfo.root.1.pending" and "1 more of root 0's keys" in missing
    # Not served yet: the launcher's walk (and the tool's) sees no root 1.
    assert root_signing.walk(folder, root_signing.read_root_keys(keys["built-in"])).version == 0
    path, missing = root_signing.sign_pending(folder, signers(keys, "r2"), built_in_path=keys["built-in"])
    assert path.name == "LauncherPatchInfo.root.1" and missing is None
    assert not list(folder.glob("*.pending"))
    # Replace a root key: the new set's own threshold and the old set's must both sign.
    r4 = [keys[n][1] for n in ("r1", "r2", "r4")]
    path, missing = root_signing.new_root(folder, signers(keys, "r2", "r4"), root_key_paths=r4)
    assert missing == "1 more of root 1's keys"
    path, missing = root_signing.sign_pending(folder, signers(keys, "r1"))
    assert missing is None
    newest = root_signing.walk(folder, root_signing.read_root_keys(keys["built-in"]))
    assert newest.version == 2 and newest.online == root_signing.newest_root(folder).online
    # A byte changed in a served root: the walk stops with its name.
    data = bytearray(path.read_bytes())
    data[data.index(b"expires ") + 9] ^= 1
    path.write_bytes(bytes(data))
    with pytest.raises(patch_signing.SigningError, match="root.2: signed by fewer keys"):
        root_signing.walk(folder, root_signing.read_root_keys(keys["built-in"]))


def test_only_an_online_key_signs_and_a_rotation_starts_the_sequence_over(keys, tmp_path):
    folder = tree(tmp_path / "pub", {"LauncherPatchInfo.txt": b"info"})
    root_signing.new_root(folder, signers(keys, "r1", "r2"), [keys["on1"][1]], built_in_path=keys["built-in"])
    refused = run("sign", folder, "--sign-key", keys["r1"][0])
    assert refused.returncode == 1 and "not an online key of root version 1" in refused.stderr
    now = time.time()
    sequence, _ = patch_signing.sign_folder(folder, keys["on1"][0], now=now)
    manifest = (folder / "LauncherPatchInfo.manifest").read_bytes()
    # Root keys: an expiry always, 14 days unless told otherwise; root documents are not listed.
    assert b"\nexpires %d\n" % (int(now) + 14 * 86400) in manifest and b"root." not in manifest
    patch_signing.sign_folder(folder, keys["on1"][0], now=now - 10 ** 6)
    assert patch_signing.read_manifest(folder)[0] == sequence + 1
    ahead, _ = patch_signing.sign_folder(folder, keys["on1"][0], now=now + 10 ** 6)
    assert run("verify", folder, "--root-keys", keys["built-in"]).returncode == 0

    root_signing.new_root(folder, signers(keys, "r2", "r3"), [keys["on2"][1]])
    stale = run("verify", folder, "--root-keys", keys["built-in"])
    assert stale.returncode == 1 and "not signed by an online key of root version 2" in stale.stderr
    command = f"openssl pkeyutl -sign -inkey {keys['on2'][0]}"
    assert run("sign", folder, "--sign-command", command).returncode == 0
    assert patch_signing.read_manifest(folder)[0] < ahead  # the old key's count does not floor the new
    assert run("verify", folder, "--root-keys", keys["built-in"]).returncode == 0


@pytest.mark.parametrize("command, words", [
    ("false", "exited with 1"),
    ("head -c 5 /dev/zero", "did not write a DER ECDSA signature"),
    ("no-such-signing-command", "No such file"),
], ids=["fails", "writes-garbage", "missing"])
def test_a_signing_command_that_cannot_sign_writes_nothing(keys, tmp_path, command, words):
    folder = tree(tmp_path / "pub", {"LauncherPatchInfo.txt": b"info"})
    result = run("sign", folder, "--sign-command", command)
    assert result.returncode == 1 and words in result.stderr
    assert not (folder / "LauncherPatchInfo.manifest").exists()
