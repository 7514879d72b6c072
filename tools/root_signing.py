#!/usr/bin/python3
"""Root keys: a trust that survives a lost key, for launchers built with LAUNCHER_ROOT_KEYS.

    publish_patch.py root-keys --threshold 2 --key a.pub --key b.pub --key c.pub --out root-keys.txt
    publish_patch.py root PATCH_FOLDER --online-key online.pub --sign-key a.key --sign-key b.key
                          [--root-key PUB ... --threshold M] [--expires 365d] [--built-in root-keys.txt]
    publish_patch.py root-sign PATCH_FOLDER --sign-key c.key [--built-in root-keys.txt]

`root-keys` writes the file the launcher is built with: N root public keys (kept offline) and
how many of them (M) must sign. `root` writes the next root document, version N+1: the root
keys and threshold (the last root's unless given), the online keys that may sign the manifest
(`sign`), and its own expiry. Launchers take version N+1 only when M of version N's root keys
and its own threshold of its own keys signed it; they walk from the root they trust to the
newest, one version at a time. A root that still lacks signatures is written as
LauncherPatchInfo.root.N.pending, never served as a root, until `root-sign` completes it.

Rotating the online key after a leak: `root` with the new --online-key; the old key's
manifests are refused from then on, and launchers' rollback floors start over (a
fast-forwarded sequence is recovered the same way). Replacing a lost or leaked root key:
`root` with the new --root-key set, signed by M of the old keys and M of the new.
"""
import argparse
import hashlib
import re
import sys
import time
from pathlib import Path

import patch_signing
from patch_signing import SigningError

FORMAT_LINE = b"QOR-PATCH-ROOT 1"
KEYS_FORMAT_LINE = b"QOR-PATCH-ROOT-KEYS 1"
PREFIX = "LauncherPatchInfo.root."
PENDING = ".pending"
MAX_KEYS = 8
MAX_ONLINE = 4
MAX_SIGNATURES = 16
MAX_BYTES = 8192
ROOT_EXPIRES = "365d"
COMMANDS = ("root-keys", "root", "root-sign")
_NUMBER = rb"(0|[1-9][0-9]{0,17})"
_KEY = rb"([0-9a-f]{128})"


class Root:
    """A root document: version 0 is the keys built into launchers (no expiry, no online key)."""

    def __init__(self, version, threshold, keys, online=(), expires=None, signatures=()):
        self.version, self.threshold, self.expires = version, threshold, expires
        self.keys, self.online = sorted(set(keys)), sorted(set(online))
        self.signatures = list(signatures)

    def body(self):
        lines = [FORMAT_LINE, b"version %d" % self.version, b"expires %d" % self.expires,
                 b"threshold %d" % self.threshold]
        lines += [b"root " + key.hex().encode() for key in self.keys]
        lines += [b"online " + key.hex().encode() for key in self.online]
        return b"\n".join(lines) + b"\n"

    def text(self):
        return self.body() + b"".join(b"signature %s %s\n" % (key.hex().encode(), sig.hex().encode())
                                      for key, sig in self.signatures)

    def signers(self, keys):
        """How many of keys signed this document's body, each once."""
        digest = hashlib.sha256(self.body()).digest()
        good = {key for key, sig in self.signatures if patch_signing.verifies(key, digest, sig)}
        return len(good & set(keys))


def parse_root(data, where):
    """The Root a launcher reads from data; SigningError naming where otherwise."""
    lines = data.split(b"\n")
    if not data.endswith(b"\n") or len(data) > MAX_BYTES or lines[0] != FORMAT_LINE or len(lines) < 6:
        raise SigningError(f"{where}: not a root document")
    fields = [re.fullmatch(rb"%s %s" % (word, _NUMBER), line) for word, line in
              zip((b"version", b"expires", b"threshold"), lines[1:4])]
    if not all(fields):
        raise SigningError(f"{where}: not a root document")
    version, expires, threshold = (int(f.group(1)) for f in fields)
    keys, online, signatures = [], [], []
    for line in lines[4:-1]:
        root, other = re.fullmatch(rb"root " + _KEY, line), re.fullmatch(rb"online " + _KEY, line)
        signature = re.fullmatch(rb"signature %s ([0-9a-f]{128})" % _KEY, line)
        if root and not online and not signatures:
            keys.append(bytes.fromhex(root.group(1).decode()))
        elif other and not signatures:
            online.append(bytes.fromhex(other.group(1).decode()))
        elif signature:
            signatures.append(tuple(bytes.fromhex(g.decode()) for g in signature.groups()))
        else:
            raise SigningError(f"{where}: not a root document ({line[:40]!r})")
    root = Root(version, threshold, keys, online, expires, signatures)
    if root.text() != data or not 1 <= threshold <= len(keys) <= MAX_KEYS or not 1 <= len(online) <= MAX_ONLINE:
        raise SigningError(f"{where}: not a root document launchers read")
    return root


def read_root_keys(path):
    """The built-in Root (version 0) of a root keys file."""
    try:
        lines = Path(path).read_bytes().split(b"\n")
    except OSError as error:
        raise SigningError(str(error)) from None
    match = re.fullmatch(rb"threshold ([1-8])", lines[1]) if len(lines) > 2 else None
    keys = [re.fullmatch(rb"root " + _KEY, line) for line in lines[2:] if line]
    if lines[0] != KEYS_FORMAT_LINE or not match or not keys or not all(keys):
        raise SigningError(f"{path}: not a root keys file (publish_patch.py root-keys writes one)")
    return Root(0, int(match.group(1)), [bytes.fromhex(k.group(1).decode()) for k in keys])


def write_root_keys(threshold, public_paths, out):
    points = sorted({patch_signing.point_of(patch_signing.load_public_key(p)) for p in public_paths})
    if len(points) != len(public_paths) or not 1 <= len(points) <= MAX_KEYS:
        raise SigningError(f"give 1 to {MAX_KEYS} different root keys")
    if not 1 <= threshold <= len(points):
        raise SigningError(f"--threshold {threshold}: between 1 and the number of keys ({len(points)})")
    text = KEYS_FORMAT_LINE + b"\nthreshold %d\n" % threshold + b"".join(b"root %s\n" % p.hex().encode()
                                                                          for p in points)
    Path(out).write_bytes(text)


def root_path(folder, version, pending=False):
    return Path(folder) / f"{PREFIX}{version}{PENDING if pending else ''}"


def versions(folder):
    """The version numbers of the folder's complete root documents, ascending."""
    found = [re.fullmatch(re.escape(PREFIX) + r"([1-9][0-9]{0,17})", p.name) for p in Path(folder).glob(PREFIX + "*")]
    return sorted(int(m.group(1)) for m in found if m)


def newest_root(folder):
    """The newest complete Root of the folder, or None (a folder without root keys)."""
    found = versions(folder)
    return parse_root(root_path(folder, found[-1]).read_bytes(), root_path(folder, found[-1])) if found else None


def walk(folder, built_in):
    """Walks from built_in through the folder's roots as a launcher does; returns the newest
    it takes, or raises SigningError naming the first it refuses."""
    trusted = built_in
    for version in versions(folder):
        if version <= trusted.version:
            continue
        path = root_path(folder, version)
        nxt = parse_root(path.read_bytes(), path)
        if nxt.version != trusted.version + 1:
            raise SigningError(f"{path}: version {nxt.version} does not follow version {trusted.version}")
        if nxt.signers(trusted.keys) < trusted.threshold or nxt.signers(nxt.keys) < nxt.threshold:
            raise SigningError(f"{path}: signed by fewer keys than its thresholds ask")
        trusted = nxt
    return trusted


def previous_root(folder, version, built_in_path):
    if version > 1:
        return parse_root(root_path(folder, version - 1).read_bytes(), root_path(folder, version - 1))
    if built_in_path is None:
        raise SigningError("the first root is signed by the launcher's built-in keys: give --built-in root-keys.txt")
    return read_root_keys(built_in_path)


def add_signatures(root, previous, signers):
    """Signs root's body with each signer; every signer must hold one of the keys that count."""
    candidates = set(previous.keys) | set(root.keys)
    digest = hashlib.sha256(root.body()).digest()
    for signer in signers:
        point = signer.point if signer.point is not None else signer.identify(sorted(candidates))
        if point not in candidates:
            raise SigningError(f"{signer.name}: neither a key of root {previous.version} nor of the new root")
        root.signatures = [(k, s) for k, s in root.signatures if k != point] + [(point, signer.sign_digest(digest))]
    if len(root.signatures) > MAX_SIGNATURES:
        raise SigningError(f"more than {MAX_SIGNATURES} signatures")


def place(folder, root, previous):
    """Writes root where it goes: complete, as the next root; short of signatures, pending.
    Returns (path, what is missing or None)."""
    old, own = root.signers(previous.keys), root.signers(root.keys)
    missing = []
    if old < previous.threshold:
        missing.append(f"{previous.threshold - old} more of root {previous.version}'s keys")
    if own < root.threshold:
        missing.append(f"{root.threshold - own} more of its own keys")
    pending = root_path(folder, root.version, pending=True)
    path = root_path(folder, root.version, pending=bool(missing))
    patch_signing.write_atomically(path, root.text())
    if not missing and pending.exists():
        pending.unlink()
    return path, " and ".join(missing) or None


def new_root(folder, signers, online_paths=(), root_key_paths=(), threshold=None, expires=ROOT_EXPIRES,
             built_in_path=None, now=None):
    now = time.time() if now is None else now
    folder = Path(folder)
    found = versions(folder)
    version = found[-1] + 1 if found else 1
    if root_path(folder, version, pending=True).exists():
        raise SigningError(f"{root_path(folder, version, pending=True)} waits for signatures: root-sign it first")
    previous = previous_root(folder, version, built_in_path)
    keys = [patch_signing.point_of(patch_signing.load_public_key(p)) for p in root_key_paths] or previous.keys
    online = [patch_signing.point_of(patch_signing.load_public_key(p)) for p in online_paths] or previous.online
    threshold = threshold if threshold is not None else previous.threshold
    if not online:
        raise SigningError("the first root names its online keys: give --online-key")
    if len(set(keys)) > MAX_KEYS or len(set(online)) > MAX_ONLINE or not 1 <= threshold <= len(set(keys)):
        raise SigningError(f"a root has 1 to {MAX_KEYS} root keys, 1 to {MAX_ONLINE} online keys and a threshold "
                           "between 1 and its number of root keys")
    expiry = patch_signing.parse_expires(expires, now)
    if not now < expiry <= patch_signing.MAX_NUMBER:
        raise SigningError(f"--expires {expires!r} is not in the future")
    root = Root(version, threshold, keys, online, expiry)
    add_signatures(root, previous, signers)
    return place(folder, root, previous)


def sign_pending(folder, signers, built_in_path=None):
    folder = Path(folder)
    pending = sorted(folder.glob(PREFIX + "*" + PENDING))
    if not pending:
        raise SigningError(f"no root waits for signatures in {folder}")
    root = parse_root(pending[-1].read_bytes(), pending[-1])
    previous = previous_root(folder, root.version, built_in_path)
    add_signatures(root, previous, signers)
    return place(folder, root, previous)


def root_main(argv):
    parser = argparse.ArgumentParser(prog="publish_patch.py", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    keys = commands.add_parser("root-keys", help="write the root keys file launchers are built with")
    keys.add_argument("--threshold", type=int, required=True, help="how many of the keys must sign a root")
    keys.add_argument("--key", action="append", required=True, metavar="PUB", help="a root public key (PEM)")
    keys.add_argument("--out", required=True, help="the file for LAUNCHER_ROOT_KEYS")
    for name, text in (("root", "write and sign the next root document"),
                       ("root-sign", "add signatures to the root that waits for them")):
        command = commands.add_parser(name, help=text)
        command.add_argument("folder")
        command.add_argument("--sign-key", action="append", default=[], metavar="KEY", help="a root private key")
        command.add_argument("--sign-command", action="append", default=[], metavar="CMD",
                             help="a command holding a root key: digest on its input, DER signature out")
        command.add_argument("--built-in", metavar="FILE", help="the root keys file launchers are built with "
                                                                "(signs the first root)")
        if name == "root":
            command.add_argument("--online-key", action="append", default=[], metavar="PUB",
                                 help="a key that may sign the manifest (default: the last root's)")
            command.add_argument("--root-key", action="append", default=[], metavar="PUB",
                                 help="the new root's root keys, all of them (default: the last root's)")
            command.add_argument("--threshold", type=int, help="signatures a next root needs (default: the last's)")
            command.add_argument("--expires", default=ROOT_EXPIRES, help="when launchers stop taking this root "
                                                                         "(default 365d)")
    args = parser.parse_args(argv)
    try:
        if args.command == "root-keys":
            write_root_keys(args.threshold, args.key, args.out)
            print(f"root_signing: wrote {args.out}")
            return 0
        signers = [patch_signing.KeySigner(k) for k in args.sign_key]
        signers += [patch_signing.CommandSigner(c) for c in args.sign_command]
        if args.command == "root":
            path, missing = new_root(args.folder, signers, args.online_key, args.root_key, args.threshold,
                                     args.expires, args.built_in)
        else:
            path, missing = sign_pending(args.folder, signers, args.built_in)
    except SigningError as error:
        print(f"root_signing: {error}", file=sys.stderr)
        return 1
    if missing:
        print(f"root_signing: wrote {path}; launchers take it once it has {missing} (root-sign)")
        return 3
    print(f"root_signing: wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(root_main(sys.argv[1:]))
