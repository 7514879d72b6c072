"""The base of a delta: an earlier release's file made again in memory, each chunk taken from the
cheapest place that holds it (the new file's own bytes, another file of the new client, the
store's packs, or the served store) and checked against the release wherever it came from."""
import hashlib
from pathlib import Path

import zstandard

import content_release
from content_publish import PACKS, ContentError


def _places(candidate):
    """{chunk index: [offsets in the old file]} and the old file's size."""
    places, position = {}, 0
    for index in candidate.base_file.chunks:
        places.setdefault(index, []).append(position)
        position += candidate.base.chunks[index].raw
    return places, position


def client_chunks(prepared, raw_sizes):
    """{sha: (file, offset, raw)} of the new client's chunks (raw_sizes: {sha: raw}). Most of an earlier file's chunks
    are still in the client it was rebuilt into: read from there they cost no pack read, no
    decompression and, for packs that are only served, no request."""
    found = {}
    for _, path, _, shas in prepared.files:
        offset = 0
        for sha in shas:
            raw = raw_sizes[sha]
            found.setdefault(sha, (path, offset, raw))
            offset += raw
    return found


def own_chunks(candidate, raw_sizes):
    """{sha: offset} of the new file's chunks within its own bytes."""
    found, offset = {}, 0
    for sha in candidate.shas:
        found.setdefault(sha, offset)
        offset += raw_sizes[sha]
    return found


def _from_client(place, chunk):
    """The chunk's bytes from the client file place, or None when it is no longer there (the
    file changed: the pack still holds it)."""
    path, offset, raw = place
    with open(path, "rb") as source:
        source.seek(offset)
        data = source.read(raw)
    if len(data) != chunk.raw or hashlib.sha256(data).digest() != chunk.sha:
        return None
    return data


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


def _put(base, positions, data):
    for position in positions:
        base[position:position + len(data)] = data


def build(candidate, out, new=None, own=None, served=None, have=None):
    """(bytearray, SHA-256) of the earlier release's file. new: the new file's bytes, whose own
    chunks (own, as own_chunks) are taken from there; have: as client_chunks; served:
    content_remote.Served for packs out does not hold."""
    release, (places, size) = candidate.base, _places(candidate)
    base, by_pack, have, own = bytearray(size), {}, have or {}, own or {}
    for index, positions in places.items():
        c = release.chunks[index]
        data = None
        if new is not None and c.sha in own:
            data = new[own[c.sha]:own[c.sha] + c.raw]
        elif c.sha in have:
            data = _from_client(have[c.sha], c)
        if data is None:
            by_pack.setdefault(c.pack, {})[c.offset] = index
        else:
            _put(base, positions, data)
    decompressor = zstandard.ZstdDecompressor()
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
            _put(base, places[at[offset]], data)
    return base, hashlib.sha256(base).digest()
