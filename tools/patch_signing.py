#!/usr/bin/python3
"""Signs a patch folder for launchers built with a signing key (LAUNCHER_SIGNING_PUBLIC_KEY).

    publish_patch.py keygen --private signing.key --public signing.pub
    publish_patch.py sign PATCH_FOLDER (--sign-key signing.key | --sign-command CMD) [--expires 30d]
    publish_patch.py verify PATCH_FOLDER (--public-key signing.pub | --root-keys root-keys.txt)

`sign` writes PATCH_FOLDER/LauncherPatchInfo.manifest, listing the size and SHA-256 of every
file in the folder, and its signature LauncherPatchInfo.manifest.sig (ECDSA P-256 over the
manifest's SHA-256: r then s, 32 bytes each, 64 bytes in all). Every signing raises the
sequence number (to at least the previous one plus 1 and at least the signing time in
seconds since 1970), so launchers refuse an older manifest replayed to them. With --expires
launchers refuse the manifest once that time has passed; sign again before then.

With --sign-command the key never touches this machine's disk: the command (an HSM's, a cloud
KMS's, `openssl pkeyutl -sign -inkey ...`) gets the 32-byte SHA-256 digest on its standard
input and writes the DER ECDSA signature on its standard output.

Root keys (root_signing.py): in a folder with root documents (LauncherPatchInfo.root.N) the
manifest must be signed by one of the newest root's online keys, always carries an expiry
(14 days unless --expires says otherwise: run `sign` from a scheduled job to renew it), and
its sequence starts over when the last manifest was signed by a key no longer online.

Channels: PATCH_FOLDER/channels/NAME/ holds a channel's own LauncherPatchInfo.txt and its
manifest and signature. A channel's manifest lists its patch information as
"LauncherPatchInfo.txt" and the shared store (Content/) by its paths below PATCH_FOLDER, where
the channel's launchers fetch it. The folder's own manifest (the live channel's) lists
everything but channels/. `sign` signs every manifest, `verify` checks every one.

Only Debian's python3-cryptography does the cryptography.
"""
import argparse
import calendar
import hashlib
import os
import re
import shlex
import subprocess
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
# Root keys: a manifest always expires, by default this long after its signing.
ROOTED_EXPIRES = "14d"
# `sign` warns this long before the newest root expires: the scheduled renewal's log says it.
ROOT_WARNING_DAYS = 30
# A signing command that has not answered by then is stopped.
SIGN_COMMAND_SECONDS = 120
CHANNELS = "channels"
# The names a launcher accepts: they become a folder of the address and a registry value name.
CHANNEL_NAME = re.compile(r"[a-z0-9-]{1,32}")
LIVE = "live"
SHARED_STORE = "Content"
ROOT_PREFIX = "LauncherPatchInfo.root."


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


def point_of(public_key):
    """The 64 bytes a launcher keeps of a P-256 public key: X then Y."""
    numbers = public_key.public_numbers()
    return numbers.x.to_bytes(32, "big") + numbers.y.to_bytes(32, "big")


def signature_bytes(der):
    r, s = utils.decode_dss_signature(der)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def verifies(point, digest, signature):
    """Whether signature (r || s) is point's (X || Y) ECDSA signature of the 32-byte digest."""
    key = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), b"\x04" + point)
    der = utils.encode_dss_signature(int.from_bytes(signature[:32], "big"), int.from_bytes(signature[32:], "big"))
    try:
        key.verify(der, digest, ec.ECDSA(utils.Prehashed(hashes.SHA256())))
        return True
    except InvalidSignature:
        return False


class KeySigner:
    """Signs with a PEM private key file."""

    def __init__(self, path):
        self.key = load_private_key(path)
        self.point = point_of(self.key.public_key())
        self.name = str(path)

    def sign_digest(self, digest):
        return signature_bytes(self.key.sign(digest, ec.ECDSA(utils.Prehashed(hashes.SHA256()))))


class CommandSigner:
    """Signs through a command that holds the key: the digest in, the DER signature out. Its
    public key is not known until a signature is checked against candidates (point)."""

    def __init__(self, command):
        self.argv = shlex.split(command)
        if not self.argv:
            raise SigningError("--sign-command is empty")
        self.point = None
        self.name = command

    def sign_digest(self, digest):
        try:
            result = subprocess.run(self.argv, input=digest, capture_output=True, timeout=SIGN_COMMAND_SECONDS)
        except (OSError, subprocess.TimeoutExpired) as error:
            raise SigningError(f"--sign-command {self.name!r}: {error}") from None
        if result.returncode != 0:
            message = result.stderr.decode(errors="replace").strip()[-300:]
            raise SigningError(f"--sign-command {self.name!r} exited with {result.returncode}: {message}")
        try:
            return signature_bytes(result.stdout)
        except ValueError:
            raise SigningError(f"--sign-command {self.name!r} did not write a DER ECDSA signature "
                               f"({len(result.stdout)} bytes)") from None

    def identify(self, points):
        """The one of points whose key the command holds; SigningError when none is."""
        probe = hashlib.sha256(b"QOR signing command probe %f" % time.time()).digest()
        signature = self.sign_digest(probe)
        for point in points:
            if verifies(point, probe, signature):
                self.point = point
                return point
        raise SigningError(f"--sign-command {self.name!r} signs with none of the keys it must sign with")


def make_signer(key_path=None, command=None):
    """The signer an operator named: a key file or a command (not both)."""
    if (key_path is None) == (command is None):
        raise SigningError("give --sign-key or --sign-command (one of them)")
    return KeySigner(key_path) if key_path is not None else CommandSigner(command)


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


# Hashes by (path, size, last write): every channel's manifest lists the shared store, whose
# packs are read once a run however many channels list them.
_HASHES = {}


def sha256_file(path):
    stat = path.stat()
    key = (str(path), stat.st_size, stat.st_mtime_ns)
    if key not in _HASHES:
        _HASHES[key] = _sha256_read(path)
    return _HASHES[key]


def _sha256_read(path):
    h = hashlib.sha256()
    with path.open("rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def check_channel(name):
    if not CHANNEL_NAME.fullmatch(name or ""):
        raise SigningError(f"channel {name!r}: a channel is 1 to 32 of a-z, 0-9 and -")
    return name


def channel_folder(folder, name):
    """Where channel name's patch information and manifest live (the folder itself for live)."""
    return Path(folder) if check_channel(name) == LIVE else Path(folder) / CHANNELS / name


def channels(folder):
    """The names of the folder's channels besides live: those with their own patch information."""
    root = Path(folder) / CHANNELS
    found = [p.name for p in sorted(root.iterdir()) if (p / PATCH_INFO).is_file()] if root.is_dir() else []
    return [name for name in found if CHANNEL_NAME.fullmatch(name) and name != LIVE]


def listed_files(folder, channel):
    """(listed path, file) of what the channel's manifest lists."""
    folder = Path(folder)
    if channel == LIVE:
        for path in folder.rglob("*"):
            relative = path.relative_to(folder).as_posix()
            # Root documents carry their own signatures, and a root waiting for signatures
            # must not become part of what is vouched for.
            if relative.split("/")[0] != CHANNELS and relative not in (MANIFEST, SIGNATURE) and \
                    not relative.startswith(ROOT_PREFIX):
                yield relative, path
        return
    yield PATCH_INFO, channel_folder(folder, channel) / PATCH_INFO
    for path in (folder / SHARED_STORE).rglob("*"):
        yield path.relative_to(folder).as_posix(), path


def folder_entries(folder, channel=LIVE):
    """(path bytes, size, sha-256 hex) of every file the channel's manifest lists, in the
    launcher's order."""
    entries = []
    for relative, path in listed_files(folder, channel):
        if not path.is_file() or relative.endswith(".part"):
            continue
        name = os.fsencode(relative)
        if len(name) > MAX_PATH_BYTES or any(b <= 0x20 or b == 0x7F for b in name):
            raise SigningError(f"{relative!r}: a listed path is 1 to {MAX_PATH_BYTES} bytes without blanks "
                               "or control characters")
        entries.append((name, path.stat().st_size, sha256_file(path)))
    if len(entries) > MAX_FILES:
        raise SigningError(f"{len(entries)} files in {folder}; a manifest lists at most {MAX_FILES}")
    return sorted(entries)


def read_manifest(folder, channel=LIVE):
    """(sequence, expires or None, {path bytes: (size, hash)}) of the channel's manifest, or None."""
    path = channel_folder(folder, channel) / MANIFEST
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


def sign_bytes(signer, data):
    return signer.sign_digest(hashlib.sha256(data).digest())


def write_atomically(path, data):
    part = path.with_name(path.name + ".part")
    part.write_bytes(data)
    os.replace(part, path)


def _rooted(folder):
    """The folder's newest root document, or None without root keys."""
    import root_signing  # the root tool reads manifests' keys through this module
    return root_signing.newest_root(folder) if folder is not None else None


def check_options(signer, expires, now=None, folder=None):
    """(signer, expiry time, online keys or None) of a signing, or SigningError before anything
    is written. signer: a KeySigner or CommandSigner, or a private key file's path. In a folder
    with root keys the signer must hold one of the newest root's online keys, and a manifest
    always expires."""
    now = time.time() if now is None else now
    if not hasattr(signer, "sign_digest"):
        signer = KeySigner(signer)
    root = _rooted(folder)
    online = None
    if root is not None:
        online = root.online
        expires = ROOTED_EXPIRES if expires is None else expires
        if root.expires <= now:
            raise SigningError(f"the newest root document (version {root.version}) has expired: launchers take "
                               "nothing until a new root is signed (publish_patch.py root)")
        if root.expires - now < ROOT_WARNING_DAYS * 86400:
            print(f"patch_signing: warning: root version {root.version} expires in "
                  f"{(root.expires - now) / 86400:.0f} day(s); launchers take nothing after that until a new root "
                  "is signed (publish_patch.py root)", file=sys.stderr)
        point = signer.point if signer.point is not None else signer.identify(online)
        if point not in online:
            raise SigningError(f"{signer.name} is not an online key of root version {root.version}: launchers "
                               "would refuse the manifest")
    expiry = parse_expires(expires, now) if expires is not None else None
    if expiry is not None and not now < expiry <= MAX_NUMBER:
        raise SigningError(f"--expires {expires!r} is not in the future: every launcher would refuse the manifest")
    return signer, expiry, online


def _signed_by(folder, channel, online):
    """Whether the channel's kept manifest is signed by one of online's keys."""
    target = channel_folder(folder, channel)
    try:
        text, signature = (target / MANIFEST).read_bytes(), (target / SIGNATURE).read_bytes()
    except OSError:
        return False
    digest = hashlib.sha256(text).digest()
    return len(signature) == 64 and any(verifies(point, digest, signature) for point in online)


def _sign_channel(folder, channel, signer, expiry, now, online=None):
    """Writes and signs the channel's manifest; returns (sequence, number of files)."""
    target = channel_folder(folder, channel)
    previous = read_manifest(folder, channel)
    if previous and online is not None and not _signed_by(folder, channel, online):
        # Launchers floor sequences per set of online keys: after a rotation the count starts
        # over, which is how a sequence signed too high is recovered.
        previous = None
    if previous and previous[1] is not None and expiry is None:
        print(f"patch_signing: warning: the new manifest of {channel} has no expiry; the last one had",
              file=sys.stderr)
    sequence = max(previous[0] + 1 if previous else 1, int(now))
    if sequence > MAX_NUMBER:
        raise SigningError(f"sequence {sequence} is beyond what launchers read")
    entries = folder_entries(folder, channel)
    text = manifest_text(sequence, expiry, entries)
    # Signed before either file is replaced: a signing command that fails leaves the pair as
    # it was, never a new manifest beside the old signature.
    signature = sign_bytes(signer, text)
    write_atomically(target / MANIFEST, text)
    write_atomically(target / SIGNATURE, signature)
    return sequence, len(entries)


def sign_folder(folder, signer, expires=None, now=None):
    """Lists every published file in a new manifest with a higher sequence and signs it, for
    the folder (live) and each of its channels: the store they share may have changed under
    any of them. signer: a signer or a private key file's path. Returns live's (sequence,
    number of files), or the last channel's without live."""
    folder = Path(folder)
    now = time.time() if now is None else now
    signer, expiry, online = check_options(signer, expires, now, folder)
    others = channels(folder)
    live = (folder / PATCH_INFO).is_file()
    if not live and not others:
        raise SigningError(f"{folder / PATCH_INFO} is missing: launchers fetch it first")
    # Every manifest is checked for its limits before the first is replaced.
    for channel in ([LIVE] if live else []) + others:
        folder_entries(folder, channel)
    result = None
    for channel in others + ([LIVE] if live else []):
        result = _sign_channel(folder, channel, signer, expiry, now, online)
    return result


def verify_folder(folder, public_key_path=None, root_keys=None, now=None):
    """Checks the signature and every listed file of the folder's manifest and of each
    channel's; returns a list of problems (empty: good), a channel's named after it. With
    root_keys (the file launchers are built with) the roots are walked as launchers walk them
    and the manifests checked against the newest one's online keys and expiry."""
    folder = Path(folder)
    if root_keys is not None:
        return _verify_rooted(folder, root_keys, time.time() if now is None else now)
    key = load_public_key(public_key_path)
    problems = _verify_channel(folder, LIVE, key) if (folder / PATCH_INFO).is_file() or not channels(folder) else []
    for channel in channels(folder):
        problems += [f"{CHANNELS}/{channel}: {p}" for p in _verify_channel(folder, channel, key)]
    return problems


def _verify_rooted(folder, root_keys, now):
    import root_signing
    try:
        root = root_signing.walk(folder, root_signing.read_root_keys(root_keys))
    except SigningError as error:
        return [str(error)]
    if root.version == 0:
        return [f"no root document ({root_signing.PREFIX}1) follows the built-in keys"]
    problems = [f"root version {root.version} has expired"] if root.expires <= now else []
    for channel in ([LIVE] if (folder / PATCH_INFO).is_file() else []) + channels(folder):
        name = "" if channel == LIVE else f"{CHANNELS}/{channel}: "
        if not _signed_by(folder, channel, root.online):
            problems.append(f"{name}{MANIFEST} is not signed by an online key of root version {root.version}")
            continue
        _, expires, _ = read_manifest(folder, channel)
        if expires is None or expires <= now:
            problems.append(f"{name}{MANIFEST} has no expiry or has expired")
        problems += [f"{name}{p}" for p in _listing_problems(folder, channel)]
    return problems


def _verify_channel(folder, channel, key):
    target = channel_folder(folder, channel)
    try:
        text = (target / MANIFEST).read_bytes()
        signature = (target / SIGNATURE).read_bytes()
    except OSError as error:
        return [str(error)]
    if len(signature) != 64:
        return [f"{SIGNATURE} holds {len(signature)} bytes, not 64"]
    der = utils.encode_dss_signature(int.from_bytes(signature[:32], "big"), int.from_bytes(signature[32:], "big"))
    try:
        key.verify(der, text, ec.ECDSA(hashes.SHA256()))
    except InvalidSignature:
        return ["the signature does not match the manifest and this key"]
    return _listing_problems(folder, channel)


def _listing_problems(folder, channel):
    listed = read_manifest(folder, channel)[2]
    actual = {name: (size, digest) for name, size, digest in folder_entries(folder, channel)}
    problems = [f"{os.fsdecode(name)}: not in the folder" for name in listed if name not in actual]
    problems += [f"{os.fsdecode(name)}: not listed" for name in actual if name not in listed]
    problems += [f"{os.fsdecode(name)}: differs from the manifest" for name in listed
                 if name in actual and actual[name] != listed[name]]
    return sorted(problems)


def add_signing_arguments(parser, required=False):
    """--sign-key, --sign-command and --expires, for every command that signs the folder."""
    how = parser.add_mutually_exclusive_group(required=required)
    how.add_argument("--sign-key", help="PEM private key: rewrite and sign the folder's manifest"
                                        + ("" if required else " afterwards"))
    how.add_argument("--sign-command", metavar="CMD", help="sign through CMD instead of a key file: it reads the "
                                                           "SHA-256 digest on its input, writes a DER signature")
    parser.add_argument("--expires", help="launchers refuse the manifest after this: 30d, 12h or "
                                          "2027-01-31T12:00:00Z (14d by default with root keys)")


def signer_of(args):
    """The signer the arguments name, or None when they name none."""
    if args.sign_key is None and args.sign_command is None:
        return None
    return make_signer(args.sign_key, args.sign_command)


def main(argv):
    parser = argparse.ArgumentParser(prog="publish_patch.py", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    keys = commands.add_parser("keygen", help="write a new P-256 key pair")
    keys.add_argument("--private", required=True, help="private key file to create (mode 0600)")
    keys.add_argument("--public", required=True, help="public key file to create (for LAUNCHER_SIGNING_PUBLIC_KEY)")
    sign = commands.add_parser("sign", help="rewrite and sign the manifest of a patch folder")
    sign.add_argument("folder")
    add_signing_arguments(sign, required=True)
    check = commands.add_parser("verify", help="check a signed patch folder as a launcher would")
    check.add_argument("folder")
    trust = check.add_mutually_exclusive_group(required=True)
    trust.add_argument("--public-key", help="the launcher's built-in signing key (PEM)")
    trust.add_argument("--root-keys", help="the launcher's root keys file: walk the roots, check the online key")
    args = parser.parse_args(argv)
    try:
        if args.command == "keygen":
            keygen(args.private, args.public)
            print(f"patch_signing: wrote {args.private} (keep it secret) and {args.public}")
        elif args.command == "sign":
            sequence, count = sign_folder(args.folder, signer_of(args), args.expires)
            print(f"patch_signing: signed {count} file(s), sequence {sequence}")
        else:
            problems = verify_folder(args.folder, args.public_key, args.root_keys)
            for problem in problems:
                print(f"patch_signing: {problem}", file=sys.stderr)
            return 1 if problems else 0
    except SigningError as error:
        print(f"patch_signing: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
