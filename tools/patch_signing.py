#!/usr/bin/python3
"""Signs a patch folder for launchers built with a signing key (LAUNCHER_SIGNING_PUBLIC_KEY).

    publish_patch.py keygen --private signing.key --public signing.pub
    publish_patch.py sign PATCH_FOLDER --sign-key signing.key [--expires 30d]
    publish_patch.py verify PATCH_FOLDER --public-key signing.pub

`sign` writes PATCH_FOLDER/LauncherPatchInfo.manifest, listing the size and SHA-256 of every
file in the folder, and its signature LauncherPatchInfo.manifest.sig (ECDSA P-256 over the
manifest's SHA-256: r then s, 32 bytes each, 64 bytes in all). Every signing raises the
sequence number (to at least the previous one plus 1 and at least the signing time in
seconds since 1970), so launchers refuse an older manifest replayed to them. With --expires
launchers refuse the manifest once that time has passed; sign again before then.

Only Debian's python3-cryptography does the cryptography.
"""
import argparse
import calendar
import hashlib
import os
import re
import sys
import time
from pathlib import Path

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, utils

FORMAT_LINE = b"QOR-PATCH-MANIFEST 1"
MANIFEST = "LauncherPatchInfo.manifest"
SIGNATURE = "LauncherPatchInfo.manifest.sig"
PATCH_INFO = "LauncherPatchInfo.txt"
# The launcher's limits: more files, a longer path or a larger number make it refuse the manifest.
MAX_FILES = 4096
MAX_PATH_BYTES = 95
MAX_NUMBER = 10 ** 18 - 1
COMMANDS = ("keygen", "sign", "verify")


class SigningError(Exception):
    pass


def keygen(private_path, public_path):
    """Writes a new P-256 key pair: the private key (PKCS #8 PEM) readable by its owner only."""
    private_path, public_path = Path(private_path), Path(public_path)
    for path in (private_path, public_path):
        if path.exists():
            raise SigningError(f"{path} exists; a signing key is never overwritten")
    key = ec.generate_private_key(ec.SECP256R1())
    private_pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption())
    public_pem = key.public_key().public_bytes(serialization.Encoding.PEM,
                                               serialization.PublicFormat.SubjectPublicKeyInfo)
    # Created with its final mode, so that it is never readable by others, not even for a moment.
    fd = os.open(private_path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(fd, "wb") as f:
        f.write(private_pem)
    public_path.write_bytes(public_pem)


def load_private_key(path):
    try:
        key = serialization.load_pem_private_key(Path(path).read_bytes(), password=None)
    except (OSError, ValueError, TypeError) as error:
        raise SigningError(f"{path}: not a readable unencrypted PEM private key ({error})") from None
    if not isinstance(key, ec.EllipticCurvePrivateKey) or not isinstance(key.curve, ec.SECP256R1):
        raise SigningError(f"{path}: not an ECDSA P-256 (prime256v1) private key")
    return key


def load_public_key(path):
    try:
        key = serialization.load_pem_public_key(Path(path).read_bytes())
    except (OSError, ValueError) as error:
        raise SigningError(f"{path}: not a readable PEM public key ({error})") from None
    if not isinstance(key, ec.EllipticCurvePublicKey) or not isinstance(key.curve, ec.SECP256R1):
        raise SigningError(f"{path}: not an ECDSA P-256 (prime256v1) public key")
    return key


def parse_expires(text, now):
    """'30d', '12h', '2027-01-31', '2027-01-31T12:00:00Z' (UTC) -> seconds since 1970."""
    match = re.fullmatch(r"(\d+)([dh])", text)
    if match:
        return int(now) + int(match.group(1)) * (86400 if match.group(2) == "d" else 3600)
    for pattern in ("%Y-%m-%d", "%Y-%m-%dT%H:%M:%SZ"):
        try:
            return calendar.timegm(time.strptime(text, pattern))
        except ValueError:
            pass
    raise SigningError(f"--expires {text!r}: give days (30d), hours (12h) or a UTC time (2027-01-31T12:00:00Z)")


def sha256_file(path):
    h = hashlib.sha256()
    with path.open("rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def folder_entries(folder):
    """(path bytes, size, sha-256 hex) of every published file, in the launcher's order."""
    entries = []
    for path in Path(folder).rglob("*"):
        relative = path.relative_to(folder).as_posix()
        if not path.is_file() or relative in (MANIFEST, SIGNATURE) or relative.endswith(".part"):
            continue
        name = os.fsencode(relative)
        if len(name) > MAX_PATH_BYTES or any(b <= 0x20 or b == 0x7F for b in name):
            raise SigningError(f"{relative!r}: a listed path is 1 to {MAX_PATH_BYTES} bytes without blanks "
                               "or control characters")
        entries.append((name, path.stat().st_size, sha256_file(path)))
    if len(entries) > MAX_FILES:
        raise SigningError(f"{len(entries)} files in {folder}; a manifest lists at most {MAX_FILES}")
    return sorted(entries)


def read_manifest(folder):
    """(sequence, expires or None, {path bytes: (size, hash)}) of the folder's manifest, or None."""
    path = Path(folder) / MANIFEST
    if not path.exists():
        return None
    lines = path.read_bytes().split(b"\n")
    if lines[0] != FORMAT_LINE or not lines[1].startswith(b"sequence "):
        raise SigningError(f"{path}: not a manifest this tool wrote")
    sequence, expires, files = int(lines[1].split()[1]), None, {}
    for line in lines[2:]:
        fields = line.split(b" ")
        if fields[0] == b"expires":
            expires = int(fields[1])
        elif fields[0] == b"file":
            files[fields[1]] = (int(fields[2]), fields[3].decode())
    return sequence, expires, files


def manifest_text(sequence, expires, entries):
    lines = [FORMAT_LINE, b"sequence %d" % sequence]
    if expires is not None:
        lines.append(b"expires %d" % expires)
    lines += [b"file %s %d %s" % (name, size, digest.encode()) for name, size, digest in entries]
    return b"\n".join(lines) + b"\n"


def sign_bytes(key, data):
    r, s = utils.decode_dss_signature(key.sign(data, ec.ECDSA(hashes.SHA256())))
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def write_atomically(path, data):
    part = path.with_name(path.name + ".part")
    part.write_bytes(data)
    os.replace(part, path)


def check_options(key_path, expires, now=None):
    """The key and the expiry time of a signing, or SigningError before anything is written."""
    now = time.time() if now is None else now
    key = load_private_key(key_path)
    expiry = parse_expires(expires, now) if expires is not None else None
    if expiry is not None and not now < expiry <= MAX_NUMBER:
        raise SigningError(f"--expires {expires!r} is not in the future: every launcher would refuse the manifest")
    return key, expiry


def sign_folder(folder, key_path, expires=None, now=None):
    """Lists every file of the folder in a new manifest with a higher sequence and signs it.
    Returns (sequence, number of files)."""
    folder = Path(folder)
    now = time.time() if now is None else now
    key, expiry = check_options(key_path, expires, now)
    if not (folder / PATCH_INFO).is_file():
        raise SigningError(f"{folder / PATCH_INFO} is missing: launchers fetch it first")
    previous = read_manifest(folder)
    if previous and previous[1] is not None and expiry is None:
        print("patch_signing: warning: the new manifest has no expiry; the last one had", file=sys.stderr)
    sequence = max(previous[0] + 1 if previous else 1, int(now))
    if sequence > MAX_NUMBER:
        raise SigningError(f"sequence {sequence} is beyond what launchers read")
    entries = folder_entries(folder)
    text = manifest_text(sequence, expiry, entries)
    write_atomically(folder / MANIFEST, text)
    write_atomically(folder / SIGNATURE, sign_bytes(key, text))
    return sequence, len(entries)


def verify_folder(folder, public_key_path):
    """Checks the signature and every listed file; returns a list of problems (empty: good)."""
    folder = Path(folder)
    key = load_public_key(public_key_path)
    try:
        text = (folder / MANIFEST).read_bytes()
        signature = (folder / SIGNATURE).read_bytes()
    except OSError as error:
        return [str(error)]
    if len(signature) != 64:
        return [f"{SIGNATURE} holds {len(signature)} bytes, not 64"]
    der = utils.encode_dss_signature(int.from_bytes(signature[:32], "big"), int.from_bytes(signature[32:], "big"))
    try:
        key.verify(der, text, ec.ECDSA(hashes.SHA256()))
    except InvalidSignature:
        return ["the signature does not match the manifest and this key"]
    listed = read_manifest(folder)[2]
    actual = {name: (size, digest) for name, size, digest in folder_entries(folder)}
    problems = [f"{os.fsdecode(name)}: not in the folder" for name in listed if name not in actual]
    problems += [f"{os.fsdecode(name)}: not listed" for name in actual if name not in listed]
    problems += [f"{os.fsdecode(name)}: differs from the manifest" for name in listed
                 if name in actual and actual[name] != listed[name]]
    return sorted(problems)


def main(argv):
    parser = argparse.ArgumentParser(prog="publish_patch.py", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    keys = commands.add_parser("keygen", help="write a new P-256 key pair")
    keys.add_argument("--private", required=True, help="private key file to create (mode 0600)")
    keys.add_argument("--public", required=True, help="public key file to create (for LAUNCHER_SIGNING_PUBLIC_KEY)")
    sign = commands.add_parser("sign", help="rewrite and sign the manifest of a patch folder")
    sign.add_argument("folder")
    sign.add_argument("--sign-key", required=True, help="PEM private key (keygen, openssl ecparam -genkey, genpkey)")
    sign.add_argument("--expires", help="launchers refuse the manifest after this: 30d, 12h or 2027-01-31T12:00:00Z")
    check = commands.add_parser("verify", help="check a signed patch folder as a launcher would")
    check.add_argument("folder")
    check.add_argument("--public-key", required=True)
    args = parser.parse_args(argv)
    try:
        if args.command == "keygen":
            keygen(args.private, args.public)
            print(f"patch_signing: wrote {args.private} (keep it secret) and {args.public}")
        elif args.command == "sign":
            sequence, count = sign_folder(args.folder, args.sign_key, args.expires)
            print(f"patch_signing: signed {count} file(s), sequence {sequence}")
        else:
            problems = verify_folder(args.folder, args.public_key)
            for problem in problems:
                print(f"patch_signing: {problem}", file=sys.stderr)
            return 1 if problems else 0
    except SigningError as error:
        print(f"patch_signing: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
