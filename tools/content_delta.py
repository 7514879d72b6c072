"""Deltas of a content release: for a file that changed since one of the last few releases, a
zstd frame that makes the new file from that release's file (zstd --patch-from: the old file
is the frame's prefix). A delta is kept only when it is smaller than the file's chunks the
older release lacks, which is what a player with that file would fetch otherwise."""
import hashlib
import os
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

import zstandard

import content_release
from content_publish import PACKS, RELEASES, RELEASE_NAME, ContentError, compress_bound

ZSTD = "/usr/bin/zstd"
DEFAULT_RELEASES = 3
DEFAULT_BOUND = 256 << 20
# The launcher raises its window limit to what a delta asks for; zstd itself stops at 2^31.
LARGEST_WINDOW_LOG = 31


@dataclass
class Candidate:
    file: int            # index of the new file in the release (ascending path)
    path: Path           # the new file in the client folder
    size: int
    shas: list           # its chunks
    base_release: int
    base: content_release.Release
    base_file: content_release.File
    lacking: list        # the new file's chunks the base release does not list


@dataclass
class Delta:
    file: int
    base_release: int
    base_sha: bytes
    base_size: int
    data: bytes


def check_options(releases, bound):
    if not 0 <= releases <= content_release.MAX_DELTAS_PER_FILE:
        raise ContentError(f"--delta-releases {releases}: 0 to {content_release.MAX_DELTAS_PER_FILE}")
    if bound < 0:
        raise ContentError(f"--delta-bound {bound}: a size in bytes")
    if releases and not os.access(ZSTD, os.X_OK):
        raise ContentError(f"deltas need {ZSTD} (the zstd package), or --delta-releases 0")


def window_log(base_size, size):
    """The smallest window that holds the old file and the new one: every byte of the old
    file stays in reach until the last byte of the new one is written."""
    return max(10, min(LARGEST_WINDOW_LOG, (base_size + size - 1).bit_length()))


def earlier_releases(out, version, count):
    """[(version, Release)] of the last count releases before version, newest first."""
    found = []
    for path in (Path(out) / RELEASES).glob("*.release"):
        match = RELEASE_NAME.fullmatch(path.name)
        if match and int(match.group(1)) < version:
            found.append(int(match.group(1)))
    out_list = []
    for older in sorted(found, reverse=True)[:count]:
        data = (Path(out) / RELEASES / f"{older}.release").read_bytes()
        out_list.append((older, content_release.parse(data, older)))
    return out_list


def candidates(prepared, out, releases, bound):
    """Every (file, earlier release) pair that could take a delta: the file is in both, not
    empty in either, changed, and both sizes within bound."""
    found = []
    for older, base in earlier_releases(out, prepared.version, releases):
        by_path = {f.path: f for f in base.files}
        listed = {c.sha for c in base.chunks}
        for index, (name, path, size, shas) in enumerate(prepared.files):
            old = by_path.get(name)
            if old is None or not size or not old.size or size > bound or old.size > bound:
                continue
            if [base.chunks[c].sha for c in old.chunks] == shas:
                continue
            lacking = list(dict.fromkeys(sha for sha in shas if sha not in listed))
            found.append(Candidate(index, path, size, shas, older, base, old, lacking))
    return found


def delta_bytes_at_most(prepared, found):
    """A bound on the bytes of the deltas kept (each is below its lacking chunks' frames)."""
    raw = {sha: raw for sha, _, _, raw in prepared.new}
    return sum(compress_bound(raw.get(sha, 0)) for c in found for sha in c.lacking) if found else 0


def _write_base(candidate, out, target):
    """Writes the earlier release's file from its packs; returns its SHA-256."""
    digest, release = hashlib.sha256(), candidate.base
    decompressor = zstandard.ZstdDecompressor()
    with open(target, "wb") as stream:
        for c in (release.chunks[i] for i in candidate.base_file.chunks):
            pack = Path(out) / PACKS / content_release.pack_name(*release.packs[c.pack][:2])
            with open(pack, "rb") as source:
                source.seek(c.offset)
                data = decompressor.decompress(source.read(c.stored), max_output_size=c.raw)
            if len(data) != c.raw or hashlib.sha256(data).digest() != c.sha:
                raise ContentError(f"{pack}: the chunk at {c.offset} is not what release "
                                   f"{candidate.base_release} lists: run verify")
            digest.update(data)
            stream.write(data)
    return digest.digest()


def applies(delta, base, expected_sha, size, log):
    """True when the frame, with base as its prefix, gives exactly the new file."""
    prefix = zstandard.ZstdCompressionDict(base, dict_type=zstandard.DICT_TYPE_RAWCONTENT)
    try:
        if zstandard.get_frame_parameters(delta).content_size != size:
            return False
        data = zstandard.ZstdDecompressor(dict_data=prefix, max_window_size=1 << log).decompress(delta)
    except zstandard.ZstdError:
        return False
    return len(data) == size and hashlib.sha256(data).digest() == expected_sha


def make(candidate, out, level, work):
    """The delta of one candidate (a Delta), or ContentError when zstd fails."""
    folder = Path(tempfile.mkdtemp(dir=work))
    try:
        base_path, delta_path = folder / "base", folder / "delta"
        base_sha = _write_base(candidate, out, base_path)
        log = window_log(candidate.base_file.size, candidate.size)
        command = [ZSTD, "-q", "-f", f"-{level}", "--no-check", f"--long={log}", f"--patch-from={base_path}",
                   str(candidate.path), "-o", str(delta_path)]
        if level > 19:
            command.insert(1, "--ultra")
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if result.returncode != 0:
            raise ContentError(f"zstd --patch-from failed on {candidate.path}: {result.stderr.strip()}")
        data = delta_path.read_bytes()
        new_sha = hashlib.sha256(candidate.path.read_bytes()).digest()
        if not applies(data, base_path.read_bytes(), new_sha, candidate.size, log):
            raise ContentError(f"the delta of {candidate.path} from release {candidate.base_release} does not "
                               "give the file back (did it change while it was published?)")
        return Delta(candidate.file, candidate.base_release, base_sha, candidate.base_file.size, data)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def write_deltas(prepared, out, found, level, pack_limit, executor):
    """Makes every candidate's delta on the executor's threads (each runs one zstd process)
    and returns the ones worth keeping, in (file, base release) order. A file that was the
    same in several earlier releases gets one frame, listed once per release (a player of any
    of them takes it). A delta must fit a pack like any frame: above the pack limit the
    file's chunks serve."""
    stored = {sha: location[3] for sha, location in prepared.locations.items()}
    work = tempfile.mkdtemp(prefix="content-deltas-")
    jobs = {}
    for c in found:
        key = (c.file, tuple(c.base.chunks[i].sha for i in c.base_file.chunks))
        if key not in jobs:
            jobs[key] = executor.submit(make, c, out, level, work)
    kept = []
    try:
        for c in found:
            delta = jobs[(c.file, tuple(c.base.chunks[i].sha for i in c.base_file.chunks))].result()
            if len(delta.data) < sum(stored[sha] for sha in c.lacking) and len(delta.data) <= pack_limit:
                kept.append(Delta(c.file, c.base_release, delta.base_sha, delta.base_size, delta.data))
    finally:
        for job in jobs.values():
            job.cancel()
        for job in jobs.values():
            if not job.cancelled():
                job.exception()
        shutil.rmtree(work, ignore_errors=True)
    return sorted(kept, key=lambda d: (d.file, d.base_release))
