"""Checks a patch folder's content releases and packs: every release parses, every pack it
names is there with its size, and every chunk decompresses to its size and SHA-256."""
import hashlib
from pathlib import Path

import zstandard

import content_release
import content_release_delta
from content_publish import PACK_NAME, PACKS, RELEASE_NAME, RELEASES


def _releases(folder, problems):
    """{version: Release} of the folder's release files that parse."""
    found = {}
    for path in sorted((folder / RELEASES).iterdir()):
        relative = path.relative_to(folder).as_posix()
        if path.name.endswith(".part"):
            continue
        match = RELEASE_NAME.fullmatch(path.name)
        if not match or not path.is_file():
            problems.append(f"{relative}: not a release file (<version>.release)")
            continue
        try:
            found[int(match.group(1))] = content_release.parse(path.read_bytes(), int(match.group(1)))
        except content_release.ReleaseError as error:
            problems.append(f"{relative}: {error}")
    return found


def _packs(releases, problems):
    """{(release, index): (size, {offset: chunk})} over all releases, which must agree."""
    packs = {}
    for version, release in sorted(releases.items()):
        for pack_release, index, size in release.packs:
            known_size, _ = packs.setdefault((pack_release, index), (size, {}))
            if known_size != size:
                problems.append(f"{version}.release: pack {content_release.pack_name(pack_release, index)} is "
                                f"{size} bytes, another release says {known_size}")
        for chunk in release.chunks:
            key = release.packs[chunk.pack][:2]
            name, chunks = content_release.pack_name(*key), packs[key][1]
            other = chunks.setdefault(chunk.offset, chunk)
            if (other.sha, other.raw, other.stored) != (chunk.sha, chunk.raw, chunk.stored):
                problems.append(f"{version}.release: the chunk at {chunk.offset} of {name} differs from another "
                                "release's")
    return packs


def _frame_problem(frame, chunk):
    try:
        parameters = zstandard.get_frame_parameters(frame)
        if parameters.content_size != chunk.raw or parameters.has_checksum:
            return f"its frame says {parameters.content_size} bytes (checksum {parameters.has_checksum}), " \
                   f"not {chunk.raw}"
        reader = zstandard.ZstdDecompressor().decompressobj()
        data = reader.decompress(frame)
        if not reader.eof or reader.unused_data:
            return "is not exactly one zstd frame"
    except zstandard.ZstdError as error:
        return f"does not decompress ({error})"
    if len(data) != chunk.raw or hashlib.sha256(data).digest() != chunk.sha:
        return "decompresses to other bytes than its size and SHA-256 name"
    return None


def _check_pack(path, size, chunks, problems):
    relative = (PACKS / path.name).as_posix()
    if not path.is_file():
        problems.append(f"{relative}: missing")
        return
    if path.stat().st_size != size:
        problems.append(f"{relative}: {path.stat().st_size} bytes, the releases list {size}")
        return
    end = 0
    with path.open("rb") as stream:
        for offset in sorted(chunks):
            chunk = chunks[offset]
            if offset < end:
                problems.append(f"{relative}: the chunk at {offset} overlaps the one before it")
            stream.seek(offset)
            problem = _frame_problem(stream.read(chunk.stored), chunk)
            if problem:
                problems.append(f"{relative}: the chunk at {offset} ({chunk.sha.hex()[:16]}) {problem}")
            end = offset + chunk.stored


def _check_deltas(folder, version, release, problems):
    """Every delta is one frame of the release's file size, whose bytes have its SHA-256."""
    for i, (file, base, _, _, pack, offset, stored, sha, _) in enumerate(release.deltas):
        path = folder / PACKS / content_release.pack_name(*release.packs[pack][:2])
        try:
            with path.open("rb") as stream:
                stream.seek(offset)
                frame = stream.read(stored)
            size = zstandard.get_frame_parameters(frame).content_size
        except (OSError, zstandard.ZstdError):
            size = None
        if hashlib.sha256(frame if size is not None else b"").digest() != sha or size != release.files[file].size:
            problems.append(f"{version}.release: delta {i} (from {base}) in {path.name} at {offset} is not a frame "
                            f"of {release.files[file].size} bytes with its SHA-256")


def verify_folder(folder, newest):
    """(problems, notes) of the folder's content, whose newest [PLAYER] version is newest, or
    {channel: newest} for a folder with channels: problems make verify fail, notes do not."""
    if isinstance(newest, dict):
        return _verify_channels(folder, newest)
    folder = Path(folder)
    problems, notes = [], []
    if not (folder / RELEASES).is_dir():
        return problems, notes
    releases = _releases(folder, problems)
    packs = _packs(releases, problems)
    for (release, index), (size, chunks) in sorted(packs.items()):
        _check_pack(folder / PACKS / content_release.pack_name(release, index), size, chunks, problems)
    for version, release in sorted(releases.items()):
        gone = [content_release.pack_name(*p[:2]) for p in release.packs
                if not (folder / PACKS / content_release.pack_name(*p[:2])).is_file()]
        if gone:
            # A player reaching this release would fail; pruning removes such a release's manifest first.
            problems.append(f"{version}.release: its pack(s) {', '.join(gone)} are gone; players cannot reach "
                            f"{version}")
    for version, release in sorted(releases.items()):
        _check_deltas(folder, version, release, problems)
    problems += content_release_delta.check_store(
        folder, {v: (folder / RELEASES / f"{v}.release").read_bytes() for v in releases})
    for path in sorted((folder / PACKS).glob("*")) if (folder / PACKS).is_dir() else []:
        match = PACK_NAME.fullmatch(path.name)
        if not path.name.endswith(".part") and (not match or (int(match[1]), int(match[2])) not in packs):
            notes.append(f"{(PACKS / path.name).as_posix()}: no release names it")
    if releases and newest not in releases:
        problems.append(f"the newest [PLAYER] version {newest} has no {RELEASES.as_posix()}/{newest}.release: "
                        "content launchers would find no release")
    notes += [f"{RELEASES.as_posix()}/{v}.release: not announced, the newest [PLAYER] version is {newest}"
              for v in releases if newest is not None and v > newest]
    return problems, notes


def _verify_channels(folder, newest):
    """verify_folder for {channel: newest [PLAYER] version}: the store is checked once, each
    channel's newest must have its release, and a release is unannounced only above them all."""
    others = {c: v for c, v in newest.items() if c != "live"}
    known = [v for v in newest.values() if v is not None]
    problems, notes = verify_folder(folder, newest.get("live") if not others else (max(known) if known else None))
    releases = {int(p.name.split(".")[0]) for p in (Path(folder) / RELEASES).glob("*.release")
                if RELEASE_NAME.fullmatch(p.name)}
    for channel, version in sorted(others.items()):
        if releases and version not in releases:
            problems.append(f"channel {channel}: the newest [PLAYER] version {version} has no "
                            f"{RELEASES.as_posix()}/{version}.release: its content launchers would find no release")
    live = newest.get("live")
    if others and releases and live is not None and live not in releases:
        problems.append(f"the newest [PLAYER] version {live} has no {RELEASES.as_posix()}/{live}.release: "
                        "content launchers would find no release")
    return problems, notes
