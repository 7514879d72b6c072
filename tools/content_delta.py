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
import content_remote
from content_publish import PACKS, RELEASES, ContentError, compress_bound

ZSTD = "/usr/bin/zstd"
FAST_LEVEL = 1  # the pass that finds out a delta not worth its slow level
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


def check_options(releases, bound, base_url=None, ca_file=None):
    """base_url and ca_file: where earlier releases' packs are served (content_remote), checked
    before anything is cut."""
    if not 0 <= releases <= content_release.MAX_DELTAS_PER_FILE:
        raise ContentError(f"--delta-releases {releases}: 0 to {content_release.MAX_DELTAS_PER_FILE}")
    if bound < 0:
        raise ContentError(f"--delta-bound {bound}: a size in bytes")
    if releases and not os.access(ZSTD, os.X_OK):
        raise ContentError(f"deltas need {ZSTD} (the zstd package), or --delta-releases 0")
    if ca_file and not base_url:
        raise ContentError("--ca-file checks the server of --base-url: give both")
    if base_url:
        content_remote.check_url(base_url)
        if base_url.startswith("https:"):
            content_remote.tls_context(ca_file)


def window_log(base_size, size):
    """The smallest window that holds the old file and the new one: every byte of the old
    file stays in reach until the last byte of the new one is written."""
    return max(10, min(LARGEST_WINDOW_LOG, (base_size + size - 1).bit_length()))


def earlier_releases(out, version, count):
    """[(version, Release)] of the last count releases before version, newest first."""
    import content_release_delta
    return [(older, content_release.parse((Path(out) / RELEASES / f"{older}.release").read_bytes(), older))
            for older in content_release_delta.earlier_versions(out, version, count)]


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


def _base_places(candidate):
    """{chunk index: [offsets in the old file]} and the old file's size."""
    places, position = {}, 0
    for index in candidate.base_file.chunks:
        places.setdefault(index, []).append(position)
        position += candidate.base.chunks[index].raw
    return places, position


def client_chunks(prepared):
    """{sha: (file, offset, raw)} of the new client's chunks. Most of an earlier file's chunks
    are still in the client it was rebuilt into: read from there they cost no pack read, no
    decompression and, for packs that are only served, no request."""
    found = {}
    for _, path, _, shas in prepared.files:
        offset = 0
        for sha in shas:
            raw = prepared.locations[sha][2]
            found.setdefault(sha, (path, offset, raw))
            offset += raw
    return found


def _copy_from_client(stream, place, chunk, positions):
    """Writes chunk at positions from the client file place; False when it is no longer there
    (the file changed: the pack still holds it)."""
    path, offset, raw = place
    with open(path, "rb") as source:
        source.seek(offset)
        data = source.read(raw)
    if len(data) != chunk.raw or hashlib.sha256(data).digest() != chunk.sha:
        return False
    for position in positions:
        stream.seek(position)
        stream.write(data)
    return True


def _local_frames(path, chunks):
    """Yields (offset, frame bytes, where) of chunks [(offset, stored)] of a pack on disk."""
    with open(path, "rb") as source:
        for offset, stored in sorted(set(chunks)):
            source.seek(offset)
            yield offset, source.read(stored), str(path)


def _pack_frames(release, pack, chunks, out, served):
    """(frames, what to do about a damaged one) of one pack: from the patch folder when it
    holds the pack, else served."""
    pack_release, index, size = release.packs[pack]
    name = content_release.pack_name(pack_release, index)
    path = Path(out) / PACKS / name
    if path.is_file() and path.stat().st_size == size:
        return _local_frames(path, chunks), "run verify"
    if served is None:
        raise ContentError(f"{path} is missing or not {size} bytes long, as release {release.version} lists it: "
                           "run verify, or give --base-url to fetch earlier releases' packs")
    return served.frames(name, size, chunks), "the served pack is damaged or not this store's"


def _write_base(candidate, out, target, served=None, have=None):
    """Writes the earlier release's file from the new client's chunks it still holds (have, as
    client_chunks) and its packs (each chunk checked against the release, wherever it came
    from); returns its SHA-256."""
    release, (places, size) = candidate.base, _base_places(candidate)
    by_pack, have = {}, have or {}
    decompressor = zstandard.ZstdDecompressor()
    with open(target, "wb") as stream:
        stream.truncate(size)
        for index, positions in places.items():
            c = release.chunks[index]
            if c.sha not in have or not _copy_from_client(stream, have[c.sha], c, positions):
                by_pack.setdefault(c.pack, {})[c.offset] = index
        for pack, at in sorted(by_pack.items()):
            wanted = [(offset, release.chunks[i].stored) for offset, i in at.items()]
            frames, fix = _pack_frames(release, pack, wanted, out, served)
            for offset, frame, where in frames:
                c = release.chunks[at[offset]]
                try:
                    data = decompressor.decompress(frame, max_output_size=c.raw)
                except zstandard.ZstdError:
                    data = b""
                if len(data) != c.raw or hashlib.sha256(data).digest() != c.sha:
                    raise ContentError(f"{where}: the chunk at {offset} is not what release "
                                       f"{candidate.base_release} lists: {fix}")
                for position in places[at[offset]]:
                    stream.seek(position)
                    stream.write(data)
    digest = hashlib.sha256()
    with open(target, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
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


def _patch_from(candidate, base_path, delta_path, level, log):
    command = [ZSTD, "-q", "-f", f"-{level}", "--no-check", f"--long={log}", f"--patch-from={base_path}",
               str(candidate.path), "-o", str(delta_path)]
    if level > 19:
        command.insert(1, "--ultra")
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise ContentError(f"zstd --patch-from failed on {candidate.path}: {result.stderr.strip()}")
    return delta_path.read_bytes()


def _base_helps(candidate, base_path, folder, log, worth):
    """Whether a delta at FAST_LEVEL is below 9/10 of the file compressed alone at that level
    and below twice the bytes of the chunks it would replace (worth)."""
    delta = len(_patch_from(candidate, base_path, folder / "fast", FAST_LEVEL, log))
    if delta >= 2 * worth:
        return False
    alone = folder / "alone"
    result = subprocess.run([ZSTD, "-q", "-f", f"-{FAST_LEVEL}", "--no-check", f"--long={log}", str(candidate.path),
                             "-o", str(alone)], stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise ContentError(f"zstd failed on {candidate.path}: {result.stderr.strip()}")
    return delta * 10 < alone.stat().st_size * 9


def make(candidate, out, level, work, served=None, have=None, worth=None):
    """The delta of one candidate (a Delta), None when it cannot be smaller than worth bytes,
    or ContentError when zstd fails; served and have as _write_base."""
    folder = Path(tempfile.mkdtemp(dir=work))
    try:
        base_path, delta_path = folder / "base", folder / "delta"
        base_sha = _write_base(candidate, out, base_path, served, have)
        log = window_log(candidate.base_file.size, candidate.size)
        # A slow level costs seconds a MiB. A file rewritten rather than edited is found out by
        # a fast pass first: when the base does not make the fast delta clearly smaller than
        # the file compressed alone at the same level, the slow pass gains nothing over chunks.
        if worth is not None and level > FAST_LEVEL and not _base_helps(candidate, base_path, folder, log, worth):
            return None
        data = _patch_from(candidate, base_path, delta_path, level, log)
        new_sha = hashlib.sha256(candidate.path.read_bytes()).digest()
        if not applies(data, base_path.read_bytes(), new_sha, candidate.size, log):
            raise ContentError(f"the delta of {candidate.path} from release {candidate.base_release} does not "
                               "give the file back (did it change while it was published?)")
        return Delta(candidate.file, candidate.base_release, base_sha, candidate.base_file.size, data)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def write_deltas(prepared, out, found, level, pack_limit, executor, base_url=None, ca_file=None,
                 gap=content_remote.DEFAULT_GAP):
    """Makes every candidate's delta on the executor's threads (each runs one zstd process)
    and returns the ones worth keeping, in (file, base release) order. A file that was the
    same in several earlier releases gets one frame, listed once per release (a player of any
    of them takes it). A delta must fit a pack like any frame: above the pack limit the
    file's chunks serve. An earlier release's pack that out does not hold comes from base_url
    (content_remote.Served: ca_file, gap)."""
    served = content_remote.Served(base_url, ca_file, gap) if base_url else None
    have = client_chunks(prepared)
    stored = {sha: location[3] for sha, location in prepared.locations.items()}
    work = tempfile.mkdtemp(prefix="content-deltas-")
    worth = {}
    for c in found:
        key = (c.file, tuple(c.base.chunks[i].sha for i in c.base_file.chunks))
        worth[key] = max(worth.get(key, 0), sum(stored[sha] for sha in c.lacking))
    jobs = {}
    for c in found:
        key = (c.file, tuple(c.base.chunks[i].sha for i in c.base_file.chunks))
        if key not in jobs:
            jobs[key] = executor.submit(make, c, out, level, work, served, have, worth[key])
    kept = []
    try:
        for c in found:
            delta = jobs[(c.file, tuple(c.base.chunks[i].sha for i in c.base_file.chunks))].result()
            if delta is None:
                continue
            if len(delta.data) < sum(stored[sha] for sha in c.lacking) and len(delta.data) <= pack_limit:
                kept.append(Delta(c.file, c.base_release, delta.base_sha, delta.base_size, delta.data))
    finally:
        for job in jobs.values():
            job.cancel()
        for job in jobs.values():
            if not job.cancelled():
                job.exception()
        shutil.rmtree(work, ignore_errors=True)
        if served:
            served.close()
    return sorted(kept, key=lambda d: (d.file, d.base_release))
