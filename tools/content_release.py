"""The release manifest Content/releases/<V>.release: written canonically, read strictly."""
import itertools
import struct
from dataclasses import dataclass
from typing import NamedTuple

import numpy as np

import content_paths
from content_chunker import check_sizes

MAGIC = b"QORCONT1"
HEADER = struct.Struct("<8s10I")
PACK = struct.Struct("<IIQ")
CHUNK = struct.Struct("<32sIIII")
FILE = struct.Struct("<QIIIHH")
REF = struct.Struct("<I")
DELTA = struct.Struct("<II32sQIII32sI")
# The chunk records as numpy reads them, for checks a column at a time.
CHUNK_COLUMNS = np.dtype([("sha", "V32"), ("raw", "<u4"), ("stored", "<u4"), ("pack", "<u4"), ("offset", "<u4")])
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


# Tuples rather than dataclasses: a 50 GB game's release holds some 800,000 chunks, and each
# record is made at every parse.
class Chunk(NamedTuple):
    sha: bytes
    raw: int
    stored: int
    pack: int      # index into Release.packs
    offset: int


class File(NamedTuple):
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
    used = list(set(itertools.chain.from_iterable(shas for _, _, shas in files)))
    located = list(map(locations.__getitem__, used))
    pack_keys = sorted({where[0] for where in located} | {d[4] for d in deltas})
    pack_index = {key: i for i, key in enumerate(pack_keys)}
    packs = [pack_index[where[0]] for where in located]
    # Offsets in a pack are below 2^32: one integer orders (pack, offset).
    keys = [pack << 32 | where[1] for pack, where in zip(packs, located)]
    order = sorted(range(len(used)), key=keys.__getitem__)
    chunks = tuple(itertools.starmap(Chunk, ((used[i], located[i][2], located[i][3], packs[i], located[i][1])
                                             for i in order)))
    chunk_index = {c.sha: i for i, c in enumerate(chunks)}
    rows = tuple((file, base, base_sha, base_size, pack_index[key], offset, stored, sha, 0)
                 for file, base, base_sha, base_size, key, offset, stored, sha in sorted(deltas, key=lambda d: d[:2]))
    return Release(version, tuple(sizes), tuple((*key, pack_sizes[key]) for key in pack_keys), chunks,
                   tuple(File(path, size, tuple(map(chunk_index.__getitem__, shas))) for path, size, shas in files),
                   rows)


def encode(release):
    refs = sum(len(f.chunks) for f in release.files)
    path_bytes = sum(len(f.path) for f in release.files)
    out = [HEADER.pack(MAGIC, release.version, *release.sizes, len(release.packs), len(release.chunks),
                       len(release.files), refs, len(release.deltas), path_bytes)]
    out += [PACK.pack(*p) for p in release.packs]
    out += [CHUNK.pack(*c) for c in release.chunks]
    first, offset = 0, 0
    for f in release.files:
        out.append(FILE.pack(f.size, first, len(f.chunks), offset, len(f.path), 0))
        first += len(f.chunks)
        offset += len(f.path)
    out.append(struct.pack(f"<{refs}I", *itertools.chain.from_iterable(f.chunks for f in release.files)))
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
        section = data[at:at + record.size * count]
        # The references, one number each, as one flat tuple.
        views.append(struct.unpack(f"<{count}I", section) if record is REF else list(record.iter_unpack(section)))
        at += record.size * count
    views.append(bytes(data[at:]))
    chunk_bytes = data[HEADER.size + PACK.size * p:HEADER.size + PACK.size * p + CHUNK.size * c]
    return version, (low, average, high), views, chunk_bytes


def _check_packs(packs, version):
    for i, (release, index, size) in enumerate(packs):
        if release > version:
            raise ReleaseError(f"pack {i} belongs to release {release}, after {version}")
        if size > MAX_PACK_SIZE:
            raise ReleaseError(f"pack {i} is {size} bytes, not below 2^32")
        if i and packs[i - 1][:2] >= (release, index):
            raise ReleaseError(f"pack {i} is not after pack {i - 1} in (release, index)")


def _chunks_hold(chunk_bytes, rows, packs, high):
    """Whether every chunk record keeps the rules, checked a column at a time."""
    if not rows:
        return True
    table = np.frombuffer(chunk_bytes, dtype=CHUNK_COLUMNS)
    raw, stored, pack = table["raw"], table["stored"], table["pack"]
    if raw.min() < 1 or raw.max() > high or stored.min() < 1 or pack.max() >= len(packs):
        return False
    sizes = np.array([p[2] for p in packs], dtype=np.uint64)
    offset = table["offset"].astype(np.uint64)
    if np.any(offset + stored > sizes[pack]):
        return False
    keys = pack.astype(np.uint64) << np.uint64(32) | offset
    if np.any(keys[1:] <= keys[:-1]):
        return False
    return len({row[0] for row in rows}) == len(rows)


def _check_chunks(chunk_bytes, rows, packs, high):
    if _chunks_hold(chunk_bytes, rows, packs, high):
        return list(itertools.starmap(Chunk, rows))
    # Row by row, for the first rule broken and its message.
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
    raise AssertionError("a chunk row broke a rule the row-by-row check did not find")


def _check_files(rows, refs, paths, chunks):
    files, next_ref, next_path = [], 0, 0
    raw_of = [c.raw for c in chunks]
    for i, (size, first, count, offset, length, flags) in enumerate(rows):
        if first != next_ref or offset != next_path or flags != 0:
            raise ReleaseError(f"file {i}: its references or path do not follow the previous file's, or flags are set")
        path = paths[offset:offset + length]
        ids = refs[first:first + count]
        if len(ids) != count or (ids and max(ids) >= len(chunks)):
            raise ReleaseError(f"file {i}: a reference past the chunks or the references")
        if sum(map(raw_of.__getitem__, ids)) != size:
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


def chunk_table(data, version=None):
    """(packs, chunk rows (sha, raw, stored, pack, offset)) of the release in data, its header,
    packs and chunks checked as parse checks them, its files not read; ReleaseError."""
    found, sizes, (packs, chunk_rows, *_), chunk_bytes = _sections(memoryview(data))
    if version is not None and found != version:
        raise ReleaseError(f"holds release {found}, not {version}")
    _check_packs(packs, found)
    if not _chunks_hold(chunk_bytes, chunk_rows, packs, sizes[2]):
        _check_chunks(chunk_bytes, chunk_rows, packs, sizes[2])
    return tuple(packs), chunk_rows


def parse(data, version=None):
    """The Release in data, or ReleaseError naming the first broken rule. With version, the
    manifest must be that release's."""
    found, sizes, (packs, chunk_rows, file_rows, refs, deltas, paths), chunk_bytes = _sections(memoryview(data))
    if version is not None and found != version:
        raise ReleaseError(f"holds release {found}, not {version}")
    _check_packs(packs, found)
    chunks = _check_chunks(chunk_bytes, chunk_rows, packs, sizes[2])
    files = _check_files(file_rows, refs, paths, chunks)
    _check_deltas(deltas, found, len(files), packs)
    return Release(found, sizes, tuple(packs), tuple(chunks), tuple(files), tuple(deltas))
