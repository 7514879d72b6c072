"""Publishing a content release: a client folder cut into chunks, the new ones compressed into
packs, and the release manifest that lists every file's chunks."""
import collections
import hashlib
import os
import re
import stat
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

import zstandard

import content_chunker
import content_paths
import content_release

RELEASES = Path("Content") / "releases"
PACKS = Path("Content") / "packs"
DEFAULT_LEVEL = 19
DEFAULT_PACK_LIMIT = 64 << 20
RELEASE_NAME = re.compile(r"([1-9][0-9]{0,9})\.release")
PACK_NAME = re.compile(r"([1-9][0-9]{0,9})-(0|[1-9][0-9]{0,4})\.pack")
SHOWN_PROBLEMS = 20
# What a run keeps of the bytes it cut (new chunks on their way to compression, and whole files a
# delta will be made of), so that a pipeline's small release reads each changed byte once. Past
# this a first publication's chunks are read again when their turn to be written comes.
KEEP_BYTES = 1 << 30


class ContentError(Exception):
    pass


def compress_bound(size):
    """zstd's ZSTD_COMPRESSBOUND: no frame of size input bytes is longer."""
    return size + (size >> 8) + ((128 * 1024 - size) >> 11 if size < 128 * 1024 else 0)


def check_options(sizes, level, pack_limit):
    try:
        content_chunker.check_sizes(*sizes)
    except ValueError as error:
        raise ContentError(str(error)) from None
    if not 1 <= level <= 22:
        raise ContentError(f"--level {level}: zstd levels are 1 to 22")
    if not compress_bound(sizes[2]) <= pack_limit <= content_release.MAX_PACK_SIZE:
        raise ContentError(f"--pack-limit {pack_limit}: a pack must hold the largest frame "
                           f"({compress_bound(sizes[2])} bytes) and stay below 2^32")


def _refuse(folder, problems):
    shown = [f"  {content_paths.display(name)}: {reason}" for name, reason in problems[:SHOWN_PROBLEMS]]
    if len(problems) > SHOWN_PROBLEMS:
        shown.append(f"  ... and {len(problems) - SHOWN_PROBLEMS} more")
    raise ContentError(f"cannot publish {folder}:\n" + "\n".join(shown))


def scan_client(folder, programs=()):
    """[(path bytes, file, size)] of every file below folder, ascending path; ContentError
    naming every file that cannot be published. programs: the operator's branded program
    names, refused in the top level like launcher.exe and Updater.exe."""
    folder = Path(folder)
    if not folder.is_dir():
        raise ContentError(f"{folder} is not a folder")
    found, problems = [], []
    for root, dirs, names in os.walk(folder):
        for name in sorted(dirs + names):
            path = Path(root) / name
            relative = os.fsencode(path.relative_to(folder).as_posix())
            mode = path.lstat().st_mode
            if stat.S_ISDIR(mode):
                continue
            if not stat.S_ISREG(mode):
                problems.append((relative, "is not a regular file (a link, device or pipe)"))
                continue
            reason = content_paths.path_problem(relative, programs)
            if reason:
                problems.append((relative, reason))
            found.append((relative, path, path.stat().st_size))
    if not found and not problems:
        # A content launcher would delete every file of the release before: surely the wrong folder.
        raise ContentError(f"{folder} holds no file; a release of nothing would empty players' folders")
    found.sort()
    problems += content_paths.set_problems([name for name, _, _ in found])
    if problems:
        _refuse(folder, sorted(problems))
    return found


_releases_read, _releases_parsed = {}, {}


def _release_key(path):
    info = os.stat(path)
    return os.path.abspath(path), info.st_size, info.st_mtime_ns


def release_bytes(path):
    """A release manifest's bytes, read once a run while it stays as it was: a publication
    looks at the last releases several times, and a large game's manifests run to megabytes."""
    key = _release_key(path)
    if key not in _releases_read:
        _releases_read[key] = Path(path).read_bytes()
    return _releases_read[key]


def read_release(path, version):
    """(bytes, content_release.Release) of a release manifest, read and parsed once a run (as
    release_bytes); ReleaseError when it is not a release."""
    data = release_bytes(path)
    key = (_release_key(path), version)
    if key not in _releases_parsed:
        _releases_parsed[key] = content_release.parse(data, version)
    return data, _releases_parsed[key]


def chunk_table(path, version):
    """(packs, chunk rows) of a release manifest: the release this run parsed already, else only
    its header, packs and chunks, checked as a parse checks them. The chunks are all a
    publication needs of the releases before the last few, and a large game's file table is
    most of a parse's time. ReleaseError when they are broken."""
    key = (_release_key(path), version)
    if key in _releases_parsed:
        return _releases_parsed[key].packs, _releases_parsed[key].chunks
    return content_release.chunk_table(release_bytes(path), version)


def published(out, version, packs_served=False):
    """({sha: ((release, index), offset, raw, stored)}, {(release, index): size}) of every
    chunk of the releases in out; ContentError if one is broken, a pack it names is
    missing (unless packs_served: the packs out lacks are served elsewhere), or something
    of this version is already there."""
    out = Path(out)
    locations, pack_sizes = {}, {}
    if (out / RELEASES / f"{version}.release").exists():
        raise ContentError(f"{out / RELEASES / f'{version}.release'} exists; a published release never changes")
    leftovers = sorted((out / PACKS).glob(f"{version}-*.pack"))
    if leftovers:
        raise ContentError(f"{leftovers[0]} exists but no release {version} names it: left by an interrupted "
                           f"publication? Remove Content/packs/{version}-*.pack (never announced) and publish again")
    for path in sorted((out / RELEASES).glob("*.release")):
        match = RELEASE_NAME.fullmatch(path.name)
        try:
            if not match:
                raise content_release.ReleaseError("the name is not <version>.release")
            packs, chunks = chunk_table(path, int(match.group(1)))
        except content_release.ReleaseError as error:
            raise ContentError(f"{path}: {error}") from None
        for pack_release, index, size in packs:
            if pack_sizes.setdefault((pack_release, index), size) != size:
                raise ContentError(f"{path}: pack {pack_release}-{index} has another size in an earlier release")
        keys = [p[:2] for p in packs]
        for sha, raw, stored, pack, offset in chunks:
            locations.setdefault(sha, (keys[pack], offset, raw, stored))
    for (pack_release, index), size in pack_sizes.items():
        path = out / PACKS / content_release.pack_name(pack_release, index)
        if packs_served and not path.exists():
            continue
        if not path.is_file() or path.stat().st_size != size:
            raise ContentError(f"{path} is missing or not {size} bytes long, as the releases list it: run verify")
    return locations, pack_sizes


@dataclass
class Prepared:
    """A release cut and checked, whose new chunks are not written yet."""
    version: int
    sizes: tuple
    files: list                   # (path, file, size, [sha, ...])
    new: list                     # (sha, file, offset, raw), in storing order
    locations: dict               # of the chunks already published
    pack_sizes: dict
    content_bytes: int = 0
    reused: int = 0
    new_packs_at_most: int = 0
    written: list = field(default_factory=list)
    deltas: list = field(default_factory=list)   # (content_delta.Delta, pack key, offset)
    manifest_deltas: list = field(default_factory=list)   # (base release, size) of the manifest's deltas
    frames: dict = field(default_factory=dict)   # {sha: future of its frame}, started while cutting
    whole: dict = field(default_factory=dict)    # {path: bytes} of files kept whole from their cut
    kept_bytes: int = 0

    def cancel(self):
        for job in self.frames.values():
            job.cancel()
        self.frames.clear()
        self.whole.clear()


def cut_file(path, sizes, executor, take=None):
    """[(sha, offset, length)] of a file's chunks; take(sha, data) sees each chunk's bytes."""
    out, offset = [], 0
    with open(path, "rb") as stream:
        for data in content_chunker.iter_chunks(stream, *sizes, executor=executor):
            sha = hashlib.sha256(data).digest()
            out.append((sha, offset, len(data)))
            offset += len(data)
            if take:
                take(sha, data)
    return out


def _cut_stamped(path, size, sizes, executor, stamps, take=None):
    """The file's chunks: from its stamp when its size and last-write time still match it."""
    if stamps is None:
        return cut_file(path, sizes, executor, take)
    info = os.stat(path)
    chunks = stamps.chunks(path, info, sizes) if info.st_size == size else None
    if chunks is None:
        stamps.cuts += 1
        started = time.time_ns()
        chunks = cut_file(path, sizes, executor, take)
        after = os.stat(path)
        if (after.st_size, after.st_mtime_ns) == (info.st_size, info.st_mtime_ns):
            stamps.record(path, info, sizes, chunks, started)
    return chunks


def _keeper(prepared, name, path, size, level, executor, whole):
    """What a file's cut keeps (take for cut_file) and the function that ends it: each new
    chunk's compression starts at once, and a file whole(name, size) names is kept whole."""
    parts = [] if whole and whole(name, size) and prepared.kept_bytes + size <= KEEP_BYTES else None
    if parts is not None:
        prepared.kept_bytes += size

    def take(sha, data):
        if parts is not None:
            parts.append(data)
        if level and sha not in prepared.locations and sha not in prepared.frames and \
                prepared.kept_bytes + len(data) <= KEEP_BYTES:
            prepared.kept_bytes += len(data)
            prepared.frames[sha] = executor.submit(compress, data, level)

    def end(cut):
        if parts is not None and cut:
            prepared.whole[path] = b"".join(parts)
        elif parts is not None:
            prepared.kept_bytes -= size
    return take, end


def prepare(new, version, out, sizes, pack_limit, executor, programs=(), stamps=None, progress=None,
            packs_served=False, level=None, whole=None):
    """Cuts every file of the client folder new and checks what the release would hold,
    before anything is written; programs as scan_client. stamps (content_stamps.Stamps)
    spares the files cut before; progress (content_stamps.Progress class) reports long work;
    packs_served as published. With level, the new chunks' compression starts while the cut
    goes on; whole(name, size) names the files whose bytes the deltas will want (both within
    KEEP_BYTES)."""
    files = scan_client(new, programs)
    locations, pack_sizes = published(out, version, packs_served)
    prepared = Prepared(version, tuple(sizes), [], [], locations, pack_sizes)
    try:
        return _prepare(prepared, new, files, sizes, pack_limit, executor, stamps, progress, level, whole)
    except BaseException:
        prepared.cancel()
        raise


def _prepare(prepared, new, files, sizes, pack_limit, executor, stamps, progress, level, whole):
    locations, seen = prepared.locations, set()
    shown = progress(len(files)) if progress else None
    for name, path, size in files:
        take, end = _keeper(prepared, name, path, size, level, executor, whole)
        cuts = stamps.cuts if stamps else 0
        chunks = _cut_stamped(path, size, sizes, executor, stamps, take)
        end(stamps is None or stamps.cuts != cuts)
        if sum(length for _, _, length in chunks) != size:
            raise ContentError(f"{path} changed while it was read")
        before = len(prepared.new)
        for sha, offset, length in chunks:
            if sha in seen:
                continue
            seen.add(sha)
            if sha in locations:
                prepared.reused += 1
            else:
                prepared.new.append((sha, path, offset, length))
        prepared.files.append((name, path, size, [sha for sha, _, _ in chunks]))
        prepared.content_bytes += size
        if shown:
            shown.add(size, len(prepared.new) - before)
    new_bytes = sum(compress_bound(raw) for _, _, _, raw in prepared.new)
    # A pack is closed only when the next frame, at most one bound long, would not fit: every
    # pack but the last holds more than the limit less that bound.
    room = max(1, pack_limit - compress_bound(sizes[2]))
    prepared.new_packs_at_most = new_bytes // room + 1 if prepared.new else 0
    packs = len({locations[sha][0] for sha in seen if sha in locations}) + prepared.new_packs_at_most
    problem = content_release.count_problem(packs, len(seen), len(files), sum(len(f[3]) for f in prepared.files),
                                            sum(len(f[0]) for f in prepared.files))
    if problem:
        raise ContentError(f"cannot publish {new}: {problem}")
    return prepared


_compressors = threading.local()
# Data that level 1 leaves within 1% of its size is already compressed (most of a game's
# archives): level 19 would spend a hundred times longer on it to gain next to nothing.
QUICK_LEVEL = 1
INCOMPRESSIBLE = 0.99


def _compressor(level):
    compressors = getattr(_compressors, "by_level", None)
    if compressors is None:
        compressors = _compressors.by_level = {}
    if level not in compressors:
        compressors[level] = zstandard.ZstdCompressor(level=level, write_checksum=False, write_content_size=True,
                                                      write_dict_id=False)
    return compressors[level]


def compress(data, level):
    """One zstd frame with the content size and no checksum (the SHA-256 is the check)."""
    quick = _compressor(min(level, QUICK_LEVEL)).compress(data)
    if level <= QUICK_LEVEL or len(quick) >= INCOMPRESSIBLE * len(data):
        return quick
    return _compressor(level).compress(data)


def _sources(prepared):
    """The bytes of each new chunk whose compression the cut did not start, read again and
    checked against the first reading; (sha, raw, None) for those it did."""
    current, stream = None, None
    try:
        for sha, path, offset, raw in prepared.new:
            if sha in prepared.frames:
                yield sha, raw, None
                continue
            if path != current:
                if stream:
                    stream.close()
                current, stream = path, open(path, "rb")
            stream.seek(offset)
            data = stream.read(raw)
            if hashlib.sha256(data).digest() != sha:
                raise ContentError(f"{path} changed while it was published")
            yield sha, raw, data
    finally:
        if stream:
            stream.close()


class _PackWriter:
    """Appends frames to Content/packs/<V>-<N>.pack, each pack written as .part and renamed
    when full, so no pack is seen half written."""

    def __init__(self, prepared, folder, limit):
        self.prepared, self.folder, self.limit = prepared, folder, limit
        self.index, self.stream, self.size = 0, None, 0

    def add(self, sha, raw, frame):
        key, offset = self.place(frame)
        self.prepared.locations[sha] = (key, offset, raw, len(frame))

    def place(self, frame):
        """Appends frame (at most the limit long); returns its pack and offset."""
        if self.stream and self.size + len(frame) > self.limit:
            self.close()
        if not self.stream:
            self.name = self.folder / content_release.pack_name(self.prepared.version, self.index)
            self.part = self.name.with_name(self.name.name + ".part")
            self.prepared.written.append(self.part)
            self.stream, self.size = open(self.part, "xb"), 0
        key, offset = (self.prepared.version, self.index), self.size
        self.stream.write(frame)
        self.size += len(frame)
        return key, offset

    def close(self):
        if self.stream:
            self.stream.close()
            self.stream = None
            if self.name.exists():
                raise ContentError(f"{self.name} appeared while it was written; packs are never replaced")
            os.replace(self.part, self.name)
            self.prepared.written.append(self.name)
            self.prepared.pack_sizes[(self.prepared.version, self.index)] = self.size
            self.index += 1


def write_packs(prepared, out, level, pack_limit, executor, threads, deltas=None, shown=None):
    """Compresses the new chunks on the executor's threads (zstd lets go of the interpreter
    lock) and appends them in their order, then the frames deltas(prepared) returns (once
    every chunk's stored size is known) after them; returns the number of packs written.
    shown(count, bytes) makes what is told of each chunk stored (content_stamps.Storing)."""
    folder = Path(out) / PACKS
    folder.mkdir(parents=True, exist_ok=True)
    writer, jobs = _PackWriter(prepared, folder, pack_limit), collections.deque()
    told = shown(len(prepared.new), sum(raw for _, _, _, raw in prepared.new)) if shown else None

    def store(done, raw, job):
        writer.add(done, raw, job.result())
        if told:
            told.add(raw)
    try:
        for sha, raw, data in _sources(prepared):
            started = prepared.frames.pop(sha, None)
            jobs.append((sha, raw, started or executor.submit(compress, data, level)))
            # Enough frames in flight to keep every thread busy, few enough to bound memory.
            while len(jobs) > 2 * threads + 2:
                store(*jobs.popleft())
        while jobs:
            store(*jobs.popleft())
        placed = {}
        for delta in deltas(prepared) if deltas else ():
            if delta.at:
                # The last release's frame, for a file as it was then: nothing to write.
                prepared.deltas.append((delta, *delta.at[:2]))
                continue
            # One frame serves every release whose file it was made from.
            if id(delta.data) not in placed:
                placed[id(delta.data)] = writer.place(delta.data)
            prepared.deltas.append((delta, *placed[id(delta.data)]))
        writer.close()
    finally:
        if writer.stream:
            writer.stream.close()
        for _, _, job in jobs:
            job.cancel()
        prepared.cancel()
    return writer.index


def write_release(prepared, out, delta_releases=3, level=DEFAULT_LEVEL):
    """Writes Content/releases/<V>.release and its deltas against the last delta_releases
    manifests before it (content_release_delta; prepared.manifest_deltas); returns the release
    and its size."""
    import content_release_delta
    deltas = [(d.file, d.base_release, d.base_sha, d.base_size, key, offset,
               *(d.at[2:] if d.at else (len(d.data), hashlib.sha256(d.data).digest())))
              for d, key, offset in prepared.deltas]
    release = content_release.build(prepared.version, prepared.sizes,
                                    [(name, size, shas) for name, _, size, shas in prepared.files],
                                    prepared.locations, prepared.pack_sizes, deltas)
    data = content_release.encode(release)
    folder = Path(out) / RELEASES
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / f"{prepared.version}.release"
    part = target.with_name(target.name + ".part")
    prepared.written.append(part)
    part.write_bytes(data)
    os.replace(part, target)
    prepared.written.append(target)
    prepared.manifest_deltas = content_release_delta.write_deltas(out, prepared.version, data, delta_releases,
                                                                  level, prepared.written)
    return release, len(data)


def remove_written(prepared):
    """Takes back what an unfinished publication wrote: nothing of it was announced yet."""
    for path in reversed(prepared.written):
        try:
            path.unlink()
        except FileNotFoundError:
            pass
