"""Channels of a content patch folder: each with its own signed patch information under
channels/NAME/, all sharing the Content/ store, and verify and sign across them."""
import random
import sys
from pathlib import Path

import pytest

from tool_support import run, tree

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import patch_signing  # noqa: E402

FAST = ["--level", "3", "--launcher-version", "1.1.1.24", "--delta-releases", "0", "--chunk-sizes", "1K,4K,16K"]


def listing(out):
    return {p.relative_to(out).as_posix(): p.read_bytes() for p in out.rglob("*") if p.is_file()}


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    """live at 10001 (installer 1.0.0.7), beta at 10002, both signed."""
    root = tmp_path_factory.mktemp("channels")
    rng = random.Random(3)
    key, public = root / "signing.key", root / "signing.pub"
    patch_signing.keygen(key, public)
    v1 = tree(root / "v1", {"data/a.pak": rng.randbytes(50000), "readme.txt": b"one\n"})
    v2 = tree(root / "v2", {"data/a.pak": rng.randbytes(50000), "readme.txt": b"two\n"})
    out = root / "patches"
    for args in (["--new", v1, "--version", 10001, "--installer-version", "1.0.0.7"],
                 ["--new", v2, "--version", 10002, "--channel", "beta"]):
        result = run("content", *args, "--out", out, "--sign-key", key, *FAST)
        assert result.returncode == 0, result.stderr
    return {"root": root, "out": out, "key": key, "public": public, "v2": v2}


def test_a_channel_has_its_own_signed_patch_information_over_the_shared_store(folder):
    out, public = folder["out"], folder["public"]
    beta = (out / "channels/beta/LauncherPatchInfo.txt").read_text()
    # live's installer and launcher, so that no channel is sent to an Updater live does not name.
    assert beta.split() == ["[INSTALLER]", "1.0.0.7", "[LAUNCHER]", "1.1.1.24", "[PLAYER]", "10002"]
    assert (out / "LauncherPatchInfo.txt").read_text().split()[-1] == "10001"
    live = patch_signing.read_manifest(out)[2]
    listed = patch_signing.read_manifest(out, "beta")[2]
    assert not any(name.startswith(b"channels/") for name in live)
    assert listed[b"LauncherPatchInfo.txt"][0] == len(beta)
    store = {name for name in live if name.startswith(b"Content/")}
    assert store == {name for name in listed if name != b"LauncherPatchInfo.txt"}
    assert b"Content/releases/10002.release" in store
    result = run("verify", out, "--public-key", public)
    assert result.returncode == 0, result.stderr


def test_refusals_write_nothing(folder):
    out, key, v2 = folder["out"], folder["key"], folder["v2"]
    before = listing(out)
    for args, message in ((["--channel", "Beta"], "a-z, 0-9"), (["--channel", "../x"], "a-z, 0-9"),
                          (["--channel", "x" * 33], "a-z, 0-9"),
                          (["--channel", "beta", "--old", v2], "without channels"),
                          (["--channel", "beta", "--version", 10002], "not above"),
                          (["--channel", "nightly", "--version", 10001], "exists")):
        version = [] if "--version" in args else ["--version", 10003]
        result = run("content", "--new", v2, *version, *args, "--out", out, "--sign-key", key, *FAST)
        assert result.returncode == 1 and message in result.stderr, (args, result.stderr)
    # Each channel's newest release is kept: live's 10001 and beta's 10002 both stay.
    kept = run("prune", "--keep", "1", "--grace", "0", "--out", out)
    assert kept.returncode == 0 and "keeps release(s) 10001, 10002" in kept.stdout, kept.stdout + kept.stderr
    assert listing(out) == before


def test_verify_names_the_channel_whose_files_differ(folder, tmp_path):
    import shutil
    out = tmp_path / "copy"
    shutil.copytree(folder["out"], out)
    info = out / "channels/beta/LauncherPatchInfo.txt"
    info.write_text(info.read_text() + "10003\n")
    result = run("verify", out, "--public-key", folder["public"])
    assert result.returncode == 1
    assert "channels/beta: LauncherPatchInfo.txt: differs from the manifest" in result.stderr
    assert "channel beta: the newest [PLAYER] version 10003 has no" in result.stderr
    # Signing again covers every channel; the manifest's own patch information still says 10003.
    assert run("sign", out, "--sign-key", folder["key"]).returncode == 0
    result = run("verify", out, "--public-key", folder["public"])
    assert "patch_signing" not in result.stderr and "channel beta" in result.stderr
