"""Signing patch folders: key pairs, the manifest a launcher reads, its signature checked by
OpenSSL, sequences that only grow, expiry, and refusals before anything is written."""
import re
import stat
import subprocess
import sys
import time
from pathlib import Path

import pytest
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec

TOOLS = Path(__file__).resolve().parents[2] / "tools"
TOOL = TOOLS / "publish_patch.py"
sys.path.insert(0, str(TOOLS))
import patch_signing  # noqa: E402

from tool_support import run, tree  # noqa: E402

LINE = re.compile(rb"file ([\x21-\x7e\x80-\xff]{1,95}) (0|[1-9][0-9]{0,17}) ([0-9a-f]{64})")


def manifest_lines(folder):
    """The manifest checked against the launcher's grammar: {path: (size, hash)}, sequence, expiry."""
    text = (folder / "LauncherPatchInfo.manifest").read_bytes()
    assert text.endswith(b"\n")
    lines = text[:-1].split(b"\n")
    assert lines[0] == b"QOR-PATCH-MANIFEST 1"
    sequence = int(re.fullmatch(rb"sequence (0|[1-9][0-9]{0,17})", lines[1]).group(1))
    rest, expires = lines[2:], None
    if rest and rest[0].startswith(b"expires "):
        expires = int(re.fullmatch(rb"expires ([1-9][0-9]{0,17})", rest[0]).group(1))
        rest = rest[1:]
    files = [LINE.fullmatch(line).groups() for line in rest]
    paths = [path for path, _, _ in files]
    assert paths == sorted(set(paths))  # ascending bytes, no path twice
    return {p.decode(): (int(size), digest.decode()) for p, size, digest in files}, sequence, expires


def openssl_verifies(folder, public_key):
    signature = (folder / "LauncherPatchInfo.manifest.sig").read_bytes()
    assert len(signature) == 64
    der = folder.parent / "signature.der"
    der.write_bytes(patch_signing.utils.encode_dss_signature(int.from_bytes(signature[:32], "big"),
                                                             int.from_bytes(signature[32:], "big")))
    result = subprocess.run(["openssl", "dgst", "-sha256", "-verify", str(public_key), "-signature", str(der),
                             str(folder / "LauncherPatchInfo.manifest")], capture_output=True, timeout=60)
    return result.returncode == 0


@pytest.fixture
def keys(tmp_path):
    private, public = tmp_path / "keys" / "signing.key", tmp_path / "keys" / "signing.pub"
    private.parent.mkdir()
    result = run("keygen", "--private", private, "--public", public)
    assert result.returncode == 0, result.stderr
    return private, public


def test_keygen_writes_a_p256_pair_whose_private_half_only_its_owner_reads(keys):
    private, public = keys
    assert stat.S_IMODE(private.stat().st_mode) == 0o600
    key = serialization.load_pem_private_key(private.read_bytes(), password=None)
    assert isinstance(key.curve, ec.SECP256R1)
    assert public.read_bytes().startswith(b"-----BEGIN PUBLIC KEY-----")
    assert serialization.load_pem_public_key(public.read_bytes()).public_numbers() == key.public_key().public_numbers()
    again = run("keygen", "--private", private, "--public", private.parent / "other.pub")
    assert again.returncode == 1 and "never overwritten" in again.stderr
    assert not (private.parent / "other.pub").exists()


def test_publishing_with_a_key_lists_and_signs_every_file(tmp_path, keys):
    private, public = keys
    a = tree(tmp_path / "a", {"x": b"1"})
    b = tree(tmp_path / "b", {"x": b"2", "y/z.bin": b"z" * 5000})
    out = tmp_path / "patches"
    before = int(time.time())
    result = run("--old", a, "--new", b, "--version", 10002, "--out", out, "--sign-key", private)
    assert result.returncode == 0, result.stderr
    files, sequence, expires = manifest_lines(out)
    assert set(files) == {"LauncherPatchInfo.txt", "Player/patch_10002.zip"}
    for name, (size, digest) in files.items():
        data = (out / name).read_bytes()
        assert (size, digest) == (len(data), patch_signing.hashlib.sha256(data).hexdigest())
    assert sequence >= before and expires is None
    assert openssl_verifies(out, public)
    assert run("verify", out, "--public-key", public).returncode == 0

    # A later publication raises the sequence and lists the new archive too.
    c = tree(tmp_path / "c", {"x": b"3"})
    assert run("--old", b, "--new", c, "--version", 10003, "--out", out, "--sign-key", private).returncode == 0
    files, later, _ = manifest_lines(out)
    assert later > sequence and "Player/patch_10003.zip" in files
    assert openssl_verifies(out, public)


def test_sign_covers_files_added_by_hand_and_renews_the_expiry(tmp_path, keys):
    private, public = keys
    out = tree(tmp_path / "patches", {"LauncherPatchInfo.txt": b"[PLAYER]\n10001\n",
                                      "Launcher/1.1.1.25/launcher.exe": b"MZ launcher",
                                      "Installer/1.0.0.4/QOR_Installer.exe": b"MZ installer",
                                      "Player/leftover.zip.part": b"half"})
    # Far ahead of the clock: the sequence still only grows.
    (out / "LauncherPatchInfo.manifest").write_bytes(b"QOR-PATCH-MANIFEST 1\nsequence 99999999999\n")
    now = time.time()
    result = run("sign", out, "--sign-key", private, "--expires", "30d")
    assert result.returncode == 0, result.stderr
    files, sequence, expires = manifest_lines(out)
    assert sorted(files) == ["Installer/1.0.0.4/QOR_Installer.exe", "Launcher/1.1.1.25/launcher.exe",
                             "LauncherPatchInfo.txt"]
    assert sequence == 100000000000
    assert now + 30 * 86400 - 5 <= expires <= time.time() + 30 * 86400
    assert openssl_verifies(out, public)

    result = run("sign", out, "--sign-key", private)
    assert result.returncode == 0 and "no expiry" in result.stderr
    assert manifest_lines(out)[1:] == (100000000001, None)
    assert patch_signing.parse_expires("2027-01-31T12:00:00Z", 0) == 1801396800
    assert patch_signing.parse_expires("2027-01-31", 0) == 1801353600


def test_an_openssl_key_signs_and_verify_finds_what_changed(tmp_path):
    private, public = tmp_path / "ec.key", tmp_path / "ec.pub"
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", str(private)], check=True,
                   timeout=60)
    subprocess.run(["openssl", "ec", "-in", str(private), "-pubout", "-out", str(public)], check=True,
                   capture_output=True, timeout=60)
    out = tree(tmp_path / "patches", {"LauncherPatchInfo.txt": b"[PLAYER]\n", "Player/a.zip": b"abc"})
    assert run("sign", out, "--sign-key", private).returncode == 0
    assert openssl_verifies(out, public)

    (out / "Player/a.zip").write_bytes(b"abd")
    (out / "Player/new.zip").write_bytes(b"n")
    result = run("verify", out, "--public-key", public)
    assert result.returncode == 1
    assert "Player/a.zip: differs from the manifest" in result.stderr
    assert "Player/new.zip: not listed" in result.stderr

    other = tmp_path / "other"
    other.mkdir()
    assert run("keygen", "--private", other / "k", "--public", other / "p").returncode == 0
    result = run("verify", out, "--public-key", other / "p")
    assert result.returncode == 1 and "signature does not match" in result.stderr


@pytest.mark.parametrize("kind", ["p384", "rsa", "public", "expired", "blank-name", "no-patch-info"])
def test_refusals_write_nothing(tmp_path, keys, kind):
    private, public = keys
    out = tree(tmp_path / "patches", {"LauncherPatchInfo.txt": b"[PLAYER]\n"})
    args = ["sign", out, "--sign-key", private]
    if kind == "p384":
        args[3] = tmp_path / "p384.key"
        subprocess.run(["openssl", "ecparam", "-name", "secp384r1", "-genkey", "-noout", "-out", str(args[3])],
                       check=True, timeout=60)
    elif kind == "rsa":
        args[3] = tmp_path / "rsa.key"
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out",
                        str(args[3])], check=True, capture_output=True, timeout=60)
    elif kind == "public":
        args[3] = public
    elif kind == "expired":
        args += ["--expires", "2020-01-01"]
    elif kind == "blank-name":
        (out / "Player").mkdir()
        (out / "Player" / "has blank.zip").write_bytes(b"x")
    else:
        (out / "LauncherPatchInfo.txt").unlink()
    result = run(*args)
    assert result.returncode == 1, result.stdout
    assert not (out / "LauncherPatchInfo.manifest").exists()
    assert not (out / "LauncherPatchInfo.manifest.sig").exists()


def test_publishing_with_a_bad_key_publishes_nothing(tmp_path):
    bad = tmp_path / "bad.key"
    bad.write_text("not a key")
    a = tree(tmp_path / "a", {"x": b"1"})
    b = tree(tmp_path / "b", {"x": b"2"})
    out = tmp_path / "patches"
    result = run("--old", a, "--new", b, "--version", 10002, "--out", out, "--sign-key", bad)
    assert result.returncode == 1 and "private key" in result.stderr
    assert not (out / "LauncherPatchInfo.txt").exists()
