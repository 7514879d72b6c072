"""The release manifest Content/releases/<V>.release: written canonically, read strictly."""
import struct
from dataclasses import dataclass

import content_paths
from content_chunker import check_sizes

MAGIC = b"QORCONT1"
HEADER = struct.Struct("<8s10I")
PACK = struct.Struct("<IIQ")
CHUNK = struct.Struct("<32sIIII")
FILE = struct.Struct("<QIIIHH")
REF = struct.Struct("<I")
DELTA = struct.Struct("<II32sQIII32sI")
MAX_VERSION = 2 ** 31 - 1
MAX_PACKS = 65536
MAX_CHUNKS = 1 << 24
MAX_FILES = 1 << 20
MAX_REFS = 1 << 26
MAX_PATH_BYTES = 1 << 28
MAX_BYTES = 256 << 20
MAX_PACK_SIZE = (1 << 32) - 1
MAX_DELTAS_PER_FILE = 16


class ReleaseError(Exception):
    pass


@dataclass(frozen=True)
class Chunk:
    sha: bytes
    raw: int
    stored: int
    pack: int      # index into Release.packs
    offset: int


@dataclass(frozen=True)
class File:
    path: bytes
    size: int
    chunks: tuple  # indices into Release.chunks, in file order


@dataclass(frozen=True)
class Release:
    version: int
    sizes: tuple   # (min, avg, max)
    packs: tuple   # (release, index, size), ascending
    chunks: tuple  # Chunk, ascending (pack, offset)
    files: tuple   # File, ascending path
    deltas: tuple = ()  # raw DELTA tuples, kept as read

    def encoded_size(self):
        return encoded_size(len(self.packs), len(self.chunks), len(self.files),
                            sum(len(f.chunks) for f in self.files), len(self.deltas),
                            sum(len(f.path) for f in self.files))


def encoded_size(packs, chunks, files, refs, deltas, path_bytes):
    return (HEADER.size + PACK.size * packs + CHUNK.size * chunks + FILE.size * files + REF.size * refs
            + DELTA.size * deltas + path_bytes)


def pack_name(release, index):
    return f"{release}-{index}.pack"


def count_problem(packs, chunks, files, refs, path_bytes, deltas=0):
    """Why counts cannot be written or read, or None."""
    for name, value, bound in (("packs", packs, MAX_PACKS), ("chunks", chunks, MAX_CHUNKS),
                               ("files", files, MAX_FILES), ("chunk references", refs, MAX_REFS),
                               ("path bytes", path_bytes, MAX_PATH_BYTES), ("deltas", deltas, MAX_DELTAS_PER_FILE * files)):
        if value > bound:
            return f"{value} {name}; a release holds at most {bound}"
    total = encoded_size(packs, chunks, files, refs, deltas, path_bytes)
    if total > MAX_BYTES:
        return f"the release would take {total} bytes; at most {MAX_BYTES}"
    return None


def build(version, sizes, files, locations, pack_sizes, deltas=()):
    """The canonical release of files [(path, size, [sha, ...])] whose chunks lie at
    locations {sha: ((pack release, pack index), offset, raw, stored)}; pack_sizes holds
    the size of each pack. deltas: [(file index in ascending path, base release, base
    SHA-256, base size, pack key, offset, stored size, SHA-256 of the stored frame)], listed
    in (file, base release) order."""
    files = sorted(files)
    used = {sha for _, _, shas in files for sha in shas}
    pack_keys = sorted({locations[sha][0] for sha in used} | {d[4] for d in deltas})
    pack_index = {key: i for i, key in enumerate(pack_keys)}
    placed = sorted((pack_index[locations[sha][0]], locations[sha][1], sha) for sha in used)
    chunk_index = {sha: i for i, (_, _, sha) in enumerate(placed)}
    chunks = tuple(Chunk(sha, locations[sha][2], locations[sha][3], pack, offset) for pack, offset, sha in placed)
    rows = tuple((file, base, base_sha, base_size, pack_index[key], offset, stored, sha, 0)
                 for file, base, base_sha, base_size, key, offset, stored, sha in sorted(deltas, key=lambda d: d[:2]))
    return Release(version, tuple(sizes), tuple((*key, pack_sizes[key]) for key in pack_keys), chunks,
                   tuple(File(path, size, tuple(chunk_index[s] for s in shas)) for path, size, shas in files), rows)


def encode(release):
    refs = sum(len(f.chunks) for f in release.files)
    path_bytes = sum(len(f.path) for f in release.files)
    out = [HEADER.pack(MAGIC, release.version, *release.sizes, len(release.packs), len(release.chunks),
                       len(release.files), refs, len(release.deltas), path_bytes)]
    out += [PACK.pack(*p) for p in release.packs]
    out += [CHUNK.pack(c.sha, c.raw, c.stored, c.pack, c.offset) for c in release.chunks]
    first, offset = 0, 0
    for f in release.files:
        out.append(FILE.pack(f.size, first, len(f.chunks), offset, len(f.path), 0))
        first += len(f.chunks)
        offset += len(f.path)
    out += [REF.pack(c) for f in release.files for c in f.chunks]
    out += [DELTA.pack(*d) for d in release.deltas]
    out += [f.path for f in release.files]
    return b"".join(out)


def _sections(data):
    if len(data) < HEADER.size:
        raise ReleaseError(f"{len(data)} bytes, shorter than the header")
    magic, version, low, average, high, p, c, f, r, d, t = HEADER.unpack_from(data)
    if magic != MAGIC:
        raise ReleaseError("not a release manifest (magic)")
    if not 1 <= version <= MAX_VERSION:
        raise ReleaseError(f"release {version} is not 1 to {MAX_VERSION}")
    try:
        check_sizes(low, average, high)
    except ValueError as error:
        raise ReleaseError(str(error)) from None
    problem = count_problem(p, c, f, r, t, d)
    if problem:
        raise ReleaseError(problem)
    if len(data) != encoded_size(p, c, f, r, d, t):
        raise ReleaseError(f"{len(data)} bytes; its counts make {encoded_size(p, c, f, r, d, t)}")
    at, views = HEADER.size, []
    for record, count in ((PACK, p), (CHUNK, c), (FILE, f), (REF, r), (DELTA, d)):
        views.append(list(record.iter_unpack(data[at:at + record.size * count])))
        at += record.size * count
    views.append(bytes(data[at:]))
    return version, (low, average, high), views


def _check_packs(packs, version):
    for i, (release, index, size) in enumerate(packs):
        if release > version:
            raise ReleaseError(f"pack {i} belongs to release {release}, after {version}")
        if size > MAX_PACK_SIZE:
            raise ReleaseError(f"pack {i} is {size} bytes, not below 2^32")
        if i and packs[i - 1][:2] >= (release, index):
            raise ReleaseError(f"pack {i} is not after pack {i - 1} in (release, index)")


def _check_chunks(rows, packs, high):
    chunks, names = [], set()
    for i, (sha, raw, stored, pack, offset) in enumerate(rows):
        if not 1 <= raw <= high or stored < 1 or pack >= len(packs) or offset + stored > packs[pack][2]:
            raise ReleaseError(f"chunk {i} ({raw} bytes, {stored} stored in pack {pack} at {offset}) is out of bounds")
        if sha in names:
            raise ReleaseError(f"chunk {i} repeats the SHA-256 of an earlier one")
        if i and (pack, offset) <= (chunks[-1].pack, chunks[-1].offset):
            raise ReleaseError(f"chunk {i} is not after chunk {i - 1} in (pack, offset)")
        names.add(sha)
        chunks.append(Chunk(sha, raw, stored, pack, offset))
    return chunks


def _check_files(rows, refs, paths, chunks):
    files, next_ref, next_path = [], 0, 0
    for i, (size, first, count, offset, length, flags) in enumerate(rows):
        if first != next_ref or offset != next_path or flags != 0:
            raise ReleaseError(f"file {i}: its references or path do not follow the previous file's, or flags are set")
        path = paths[offset:offset + length]
        ids = tuple(ref for (ref,) in refs[first:first + count])
        if len(ids) != count or any(ref >= len(chunks) for ref in ids):
            raise ReleaseError(f"file {i}: a reference past the chunks or the references")
        if sum(chunks[ref].raw for ref in ids) != size:
            raise ReleaseError(f"file {i}: its chunks do not add up to its size {size}")
        problem = content_paths.path_problem(path) if len(path) == length else "runs past the paths"
        if problem:
            raise ReleaseError(f"file {i} {content_paths.display(path)}: {problem}")
        if files and path <= files[-1].path:
            raise ReleaseError(f"file {i} {content_paths.display(path)}: paths are not in ascending order")
        files.append(File(path, size, ids))
        next_ref, next_path = first + count, offset + length
    if next_ref != len(refs) or next_path != len(paths):
        raise ReleaseError("the files do not use every reference and path byte")
    clashes = content_paths.set_problems([f.path for f in files])
    if clashes:
        name, reason = clashes[0]
        raise ReleaseError(f"{content_paths.display(name)} {reason}")
    return files


def _check_deltas(rows, version, file_count, packs):
    for i, (file, base, _, _, pack, offset, stored, _, reserved) in enumerate(rows):
        if file >= file_count or base >= version or pack >= len(packs) or reserved or \
                offset + stored > packs[pack][2]:
            raise ReleaseError(f"delta {i} is out of bounds")


def parse(data, version=None):
    """The Release in data, or ReleaseError naming the first broken rule. With version, the
    manifest must be that release's."""
    found, sizes, (packs, chunk_rows, file_rows, refs, deltas, paths) = _sections(memoryview(data))
    if version is not None and found != version:
        raise ReleaseError(f"holds release {found}, not {version}")
    _check_packs(packs, found)
    chunks = _check_chunks(chunk_rows, packs, sizes[2])
    files = _check_files(file_rows, refs, paths, chunks)
    _check_deltas(deltas, found, len(files), packs)
    return Release(found, sizes, tuple(packs), tuple(chunks), tuple(files), tuple(deltas))
