"""Deltas of a content release: for a file that changed since one of the last few releases, a
zstd frame that makes the new file from that release's file (zstd --patch-from: the old file
is the frame's prefix). A delta is kept only when it is smaller than the file's chunks the
older release lacks, which is what a player with that file would fetch otherwise."""
import hashlib
import os
import shutil
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path

import zstandard

import content_delta_base
import content_release
from content_publish import RELEASES, ContentError, compress_bound

ZSTD = "/usr/bin/zstd"
FAST_LEVEL = 1  # the pass that finds out a delta not worth its slow level
DEFAULT_RELEASES = 3
DEFAULT_BOUND = 256 << 20
# What the deltas made at once may hold in memory (each its base and its new file).
DELTA_MEMORY = 1 << 30
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
    reuse: tuple = None  # the last release's delta of the same file from the same base, as listed


@dataclass
class Delta:
    file: int
    base_release: int
    base_sha: bytes
    base_size: int
    data: bytes
    at: tuple = None     # (pack key, offset, stored, SHA-256) of a frame already in the store


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
        import content_remote
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
    from content_publish import read_release
    return [(older, read_release(Path(out) / RELEASES / f"{older}.release", older)[1])
            for older in content_release_delta.earlier_versions(out, version, count)]


def eligible(out, version, releases, bound):
    """Whether a file (name, size) of the new client may take a delta: the prepare step keeps
    such a file's bytes from its cut, so that the delta needs no second reading of it."""
    names = {f.path for _, base in earlier_releases(out, version, releases) for f in base.files
             if 0 < f.size <= bound}
    return lambda name, size: 0 < size <= bound and name in names


def _last_deltas(releases):
    """{(path, its chunks, base release): the delta row} of the newest earlier release."""
    if not releases:
        return {}
    _, last = releases[0]
    found = {}
    for row in last.deltas:
        f = last.files[row[0]]
        key, offset = last.packs[row[4]][:2], row[5]
        found[(f.path, tuple(last.chunks[c].sha for c in f.chunks), row[1])] = (row[2], row[3], key, offset,
                                                                               row[6], row[7])
    return found


def candidates(prepared, out, releases, bound):
    """Every (file, earlier release) pair that could take a delta: the file is in both, not
    empty in either, changed, and both sizes within bound. A file the last release had as it
    is now, with a delta from the same base, takes that delta's frame again (reuse)."""
    found = []
    earlier = earlier_releases(out, prepared.version, releases)
    last = _last_deltas(earlier)
    for older, base in earlier:
        by_path = {f.path: f for f in base.files}
        listed = {c.sha for c in base.chunks}
        for index, (name, path, size, shas) in enumerate(prepared.files):
            old = by_path.get(name)
            if old is None or not size or not old.size or size > bound or old.size > bound:
                continue
            if [base.chunks[c].sha for c in old.chunks] == shas:
                continue
            lacking = list(dict.fromkeys(sha for sha in shas if sha not in listed))
            found.append(Candidate(index, path, size, shas, older, base, old, lacking,
                                   last.get((name, tuple(shas), older))))
    return found


def delta_bytes_at_most(prepared, found):
    """A bound on the bytes of the deltas written (each is below its lacking chunks' frames)."""
    raw = {sha: raw for sha, _, _, raw in prepared.new}
    return sum(compress_bound(raw.get(sha, 0)) for c in found if not c.reuse for sha in c.lacking)


def applies(delta, base, expected_sha, size, log):
    """True when the frame, with base as its prefix, gives exactly the new file."""
    prefix = zstandard.ZstdCompressionDict(bytes(base), dict_type=zstandard.DICT_TYPE_RAWCONTENT)
    try:
        if zstandard.get_frame_parameters(delta).content_size != size:
            return False
        data = zstandard.ZstdDecompressor(dict_data=prefix, max_window_size=1 << log).decompress(delta)
    except zstandard.ZstdError:
        return False
    return len(data) == size and hashlib.sha256(data).digest() == expected_sha


def _patch_from(base_path, new_path, delta_path, level, log):
    command = [ZSTD, "-q", "-f", f"-{level}", "--no-check", f"--long={log}", f"--patch-from={base_path}",
               str(new_path), "-o", str(delta_path)]
    if level > 19:
        command.insert(1, "--ultra")
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise ContentError(f"zstd --patch-from failed on {new_path}: {result.stderr.strip()}")
    return delta_path.read_bytes()


def _fast_size(base, new, log):
    """The size of the delta at FAST_LEVEL, made in memory: its match table sized to the base
    (zstd's own for a small input would find nothing past its first megabytes). An entry for
    one position in 64 of the base is plenty: a match found anywhere in a region that stayed
    runs on to the region's end, and the pass only tells an edit from a rewrite."""
    hash_log = max(16, min(20, len(base).bit_length() - 6))
    parameters = zstandard.ZstdCompressionParameters.from_level(FAST_LEVEL, window_log=log, hash_log=hash_log)
    prefix = zstandard.ZstdCompressionDict(bytes(base), dict_type=zstandard.DICT_TYPE_RAWCONTENT)
    prefix.precompute_compress(compression_params=parameters)
    return len(zstandard.ZstdCompressor(dict_data=prefix, compression_params=parameters).compress(new))


def _base_helps(base, new, log, worth):
    """Whether a delta at FAST_LEVEL is below 9/10 of the file compressed alone at that level
    and below twice the bytes the chunks it would replace take at most (worth)."""
    delta = _fast_size(base, new, log)
    if delta >= 2 * worth:
        return False
    return delta * 10 < len(zstandard.ZstdCompressor(level=FAST_LEVEL).compress(new)) * 9


def _new_bytes(candidate, kept, raw_sizes):
    """The new file's bytes: those its cut kept, else read again and checked chunk by chunk
    against that cut (the delta must make the file the release lists)."""
    if kept is not None:
        return kept
    data, offset = candidate.path.read_bytes(), 0
    for sha in candidate.shas:
        raw = raw_sizes[sha]
        if hashlib.sha256(memoryview(data)[offset:offset + raw]).digest() != sha:
            raise ContentError(f"{candidate.path} changed while it was published")
        offset += raw
    if offset != len(data):
        raise ContentError(f"{candidate.path} changed while it was published")
    return data


def make(candidate, out, level, work, new, served=None, have=None, worth=None, raw_sizes=None):
    """The delta of one candidate (a Delta), None when it cannot be smaller than worth bytes,
    or ContentError when zstd fails; new: the new file's bytes, or None to read them again
    (checked against raw_sizes {sha: raw}); served and have as content_delta_base.build."""
    new = _new_bytes(candidate, new, raw_sizes)
    own = content_delta_base.own_chunks(candidate, raw_sizes)
    base, base_sha = content_delta_base.build(candidate, out, new, own, served, have)
    log = window_log(len(base), candidate.size)
    # A slow level costs seconds a MiB. A file rewritten rather than edited is found out by a
    # fast pass in memory first: when the base does not make the fast delta clearly smaller
    # than the file compressed alone at the same level, the slow pass gains nothing over chunks.
    if worth is not None and level > FAST_LEVEL and not _base_helps(base, new, log, worth):
        return None
    folder = Path(tempfile.mkdtemp(dir=work))
    try:
        base_path, new_path = folder / "base", folder / "new"
        base_path.write_bytes(base)
        new_path.write_bytes(new)
        data = _patch_from(base_path, new_path, folder / "delta", level, log)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    if not applies(data, base, hashlib.sha256(new).digest(), candidate.size, log):
        raise ContentError(f"the delta of {candidate.path} from release {candidate.base_release} does not "
                           "give the file back")
    return Delta(candidate.file, candidate.base_release, base_sha, len(base), data)


def _key(c):
    return (c.file, tuple(c.base.chunks[i].sha for i in c.base_file.chunks))


def refusal_key(c, level):
    """What names a delta's trial between runs: the file's path and chunks, the base release and
    its file's chunks, and the level; the same trial gives the same answer."""
    digest = hashlib.sha256()
    for part in (c.base_file.path, b"".join(c.shas), str(c.base_release).encode(),
                 b"".join(c.base.chunks[i].sha for i in c.base_file.chunks), str(level).encode()):
        digest.update(len(part).to_bytes(8, "little") + part)
    return digest.hexdigest()


class Pending:
    """The deltas of a publication under way on threads of their own, beside the chunks'
    compression: at most as many at once as DELTA_MEMORY holds. stamps (content_stamps.Stamps)
    remembers the deltas found not worth keeping: a file rewritten in one build stays a
    candidate for the next releases, and is not read again to be turned down again."""

    def __init__(self, prepared, out, found, level, threads, base_url=None, ca_file=None, gap=None, stamps=None):
        self.found, self.jobs, self.served, self.stamps = found, {}, None, stamps
        self.refusals = {id(c): refusal_key(c, level) for c in found if not c.reuse} if stamps else {}
        self.skipped = {i for i, key in self.refusals.items() if stamps.refused_before(key)}
        if base_url:
            # Only a build machine without the store needs the network (and http's import time).
            import content_remote
            self.served = content_remote.Served(base_url, ca_file, gap or content_remote.DEFAULT_GAP)
        self.work = tempfile.mkdtemp(prefix="content-deltas-")
        making = [c for c in found if not c.reuse and id(c) not in self.skipped]
        largest = max((c.size + c.base_file.size for c in making), default=1)
        self.executor = ThreadPoolExecutor(max(1, min(threads, DELTA_MEMORY // largest)))
        if not making:
            return
        raw_sizes = {sha: location[2] for sha, location in prepared.locations.items()}
        raw_sizes.update((sha, raw) for sha, _, _, raw in prepared.new)
        have = content_delta_base.client_chunks(prepared, raw_sizes)
        worth = {}
        for c in making:
            bound = sum(compress_bound(raw_sizes[sha]) for sha in c.lacking)
            worth[_key(c)] = max(worth.get(_key(c), 0), bound)
        for c in making:
            if _key(c) not in self.jobs:
                self.jobs[_key(c)] = self.executor.submit(make, c, out, level, self.work, prepared.whole.get(c.path),
                                                          self.served, have, worth[_key(c)], raw_sizes)

    def finish(self, prepared, pack_limit):
        """The deltas worth keeping, in (file, base release) order, once every chunk's stored
        size is known: a delta must be smaller than the chunks the base release lacks, and fit
        a pack like any frame (above the pack limit the file's chunks serve). A file that was
        the same in several earlier releases gets one frame, listed once per release (a player
        of any of them takes it)."""
        stored = {sha: location[3] for sha, location in prepared.locations.items()}
        kept = []
        try:
            for c in self.found:
                if c.reuse:
                    base_sha, base_size, key, offset, size, sha = c.reuse
                    kept.append(Delta(c.file, c.base_release, base_sha, base_size, b"", (key, offset, size, sha)))
                    continue
                if id(c) in self.skipped:
                    continue
                delta = self.jobs[_key(c)].result()
                if delta and len(delta.data) < sum(stored[sha] for sha in c.lacking) and \
                        len(delta.data) <= pack_limit:
                    kept.append(Delta(c.file, c.base_release, delta.base_sha, delta.base_size, delta.data))
                elif self.stamps:
                    self.stamps.refuse(self.refusals[id(c)])
        finally:
            self.close()
        return sorted(kept, key=lambda d: (d.file, d.base_release))

    def close(self):
        for job in self.jobs.values():
            job.cancel()
        self.executor.shutdown(wait=True)
        shutil.rmtree(self.work, ignore_errors=True)
        if self.served:
            self.served.close()
            self.served = None
