"""Rewriting a zip archive (a .pk3, a .wz) the way game tools rebuild one: a few entries replaced
or added, every other entry's local header and data copied byte for byte."""
import os
import struct
import zlib
from dataclasses import dataclass

import numpy as np

LOCAL = struct.Struct("<IHHHHHIIIHH")
CENTRAL = struct.Struct("<IHHHHHHIIIHHHHHII")
END = struct.Struct("<IHHHHIIH")
LOCAL_SIGNATURE, CENTRAL_SIGNATURE, END_SIGNATURE = 0x04034B50, 0x02014B50, 0x06054B50
DESCRIPTOR_SIGNATURE = 0x08074B50
CENTRAL_OFFSET_FIELD = 42      # where a central record keeps its local header's offset
STORED, DEFLATED = 0, 8
UTF8_FLAG = 0x800


class ArchiveError(Exception):
    pass


@dataclass
class Entry:
    name: bytes
    record: bytes      # the central directory record as read
    method: int
    flags: int
    size: int
    compressed: int
    offset: int


def read_entries(path):
    """(entries in central directory order, the archive comment); ArchiveError for what this
    rewriter does not copy faithfully (Zip64, several disks)."""
    with open(path, "rb") as stream:
        stream.seek(0, os.SEEK_END)
        length = stream.tell()
        stream.seek(max(0, length - END.size - 65535))
        tail = stream.read()
        at = tail.rfind(struct.pack("<I", END_SIGNATURE))
        if at < 0 or at + END.size > len(tail):
            raise ArchiveError(f"{path}: no end of central directory")
        _, disk, cd_disk, here, count, cd_size, cd_offset, comment = END.unpack_from(tail, at)
        if disk or cd_disk or here != count:
            raise ArchiveError(f"{path}: spans several disks")
        if count == 0xFFFF or cd_offset == 0xFFFFFFFF or cd_size == 0xFFFFFFFF:
            raise ArchiveError(f"{path}: Zip64")
        remark = tail[at + END.size:at + END.size + comment]
        stream.seek(cd_offset)
        directory = stream.read(cd_size)
    entries, at = [], 0
    for _ in range(count):
        fields = CENTRAL.unpack_from(directory, at)
        if fields[0] != CENTRAL_SIGNATURE:
            raise ArchiveError(f"{path}: broken central directory")
        flags, method, compressed, size = fields[3], fields[4], fields[8], fields[9]
        name_length, extra_length, comment_length, offset = fields[10], fields[11], fields[12], fields[16]
        if 0xFFFFFFFF in (compressed, size, offset):
            raise ArchiveError(f"{path}: Zip64 entry")
        end = at + CENTRAL.size + name_length + extra_length + comment_length
        name = directory[at + CENTRAL.size:at + CENTRAL.size + name_length]
        entries.append(Entry(name, directory[at:end], method, flags, size, compressed, offset))
        at = end
    return entries, remark


def raw_entry(stream, entry):
    """The entry's local header, data and data descriptor, as stored."""
    stream.seek(entry.offset)
    header = stream.read(LOCAL.size)
    fields = LOCAL.unpack(header)
    if fields[0] != LOCAL_SIGNATURE:
        raise ArchiveError(f"{entry.name!r}: no local header at {entry.offset}")
    body = stream.read(fields[9] + fields[10] + entry.compressed)
    descriptor = b""
    if entry.flags & 8:
        descriptor = stream.read(16)
        if struct.unpack_from("<I", descriptor)[0] != DESCRIPTOR_SIGNATURE:
            descriptor = descriptor[:12]
    return header + body + descriptor


def deflate_level(flags):
    """The level the flags say the entry was deflated at (normal, maximum, fast, super fast)."""
    return {0: 6, 2: 9, 4: 2, 6: 1}[flags & 6]


def encode_entry(name, data, method, flags, offset, template=None):
    """(local header and data, central record) of a new entry; a replaced entry keeps its
    template's times, attributes and method."""
    if method == DEFLATED:
        packer = zlib.compressobj(deflate_level(flags), zlib.DEFLATED, -15)
        stored = packer.compress(data) + packer.flush()
    elif method == STORED:
        stored = data
    else:
        raise ArchiveError(f"{name!r}: compression method {method}")
    crc, flags = zlib.crc32(data), flags & (UTF8_FLAG | 6)
    if template is not None:
        t = CENTRAL.unpack_from(template)
        made, need, time, date, internal, external = t[1], t[2], t[5], t[6], t[14], t[15]
    else:
        made, need, time, date, internal, external = 0x031E, 20, 0, 0x5C21, 0, 0o100644 << 16
    local = LOCAL.pack(LOCAL_SIGNATURE, need, flags, method, time, date, crc, len(stored), len(data), len(name), 0)
    record = CENTRAL.pack(CENTRAL_SIGNATURE, made, need, flags, method, time, date, crc, len(stored), len(data),
                          len(name), 0, 0, 0, internal, external, offset)
    return local + name + stored, record + name


def entry_content(stream, entry):
    raw = raw_entry(stream, entry)
    fields = LOCAL.unpack_from(raw)
    data = raw[LOCAL.size + fields[9] + fields[10]:][:entry.compressed]
    if entry.method == DEFLATED:
        data = zlib.decompressobj(-15).decompress(data)
    elif entry.method != STORED:
        raise ArchiveError(f"{entry.name!r}: compression method {entry.method}")
    if len(data) != entry.size or zlib.crc32(data) != CENTRAL.unpack_from(entry.record)[7]:
        raise ArchiveError(f"{entry.name!r}: its data does not match its size or CRC")
    return data


def rewrite(source, target, replaced, added):
    """Writes target: source's entries in order, those named in replaced ({name: bytes}) with
    their new content, then added [(name, bytes)] at the end (as `zip -u` does)."""
    entries, remark = read_entries(source)
    names = {e.name for e in entries}
    missing = set(replaced) - names
    if missing or any(name in names for name, _ in added):
        raise ArchiveError(f"{source}: cannot replace {sorted(missing)} or add an entry it has")
    part = f"{target}.part"
    with open(source, "rb") as stream, open(part, "wb") as out:
        records = []
        for entry in entries:
            offset = out.tell()
            if entry.name in replaced:
                data, record = encode_entry(entry.name, replaced[entry.name], entry.method, entry.flags, offset,
                                            entry.record)
            else:
                data = raw_entry(stream, entry)
                record = bytearray(entry.record)
                struct.pack_into("<I", record, CENTRAL_OFFSET_FIELD, offset)
            out.write(data)
            records.append(bytes(record))
        for name, content in added:
            data, record = encode_entry(name, content, DEFLATED, 0, out.tell())
            out.write(data)
            records.append(record)
        directory = b"".join(records)
        start = out.tell()
        out.write(directory)
        out.write(END.pack(END_SIGNATURE, 0, 0, len(records), len(records), len(directory), start, len(remark)))
        out.write(remark)
    os.replace(part, target)


def edited(data, rng):
    """data as an artist's change leaves it: a quarter of it altered in place (bytes of the same
    kind, so it compresses alike) and a piece of itself put in, so the length changes."""
    values = np.frombuffer(data, dtype=np.uint8).copy()
    span = max(1, len(values) // 4)
    at = rng.randrange(0, len(values) - span + 1)
    values[at:at + span] += np.uint8(rng.randrange(1, 256))
    piece = rng.randrange(0, max(1, len(data) - 4096))
    inserted = data[piece:piece + rng.randint(64, 4096)]
    out = values.tobytes()
    return out[:at] + inserted + out[at:]


def fresh(data, rng):
    """New content of data's kind (every byte shifted): a new map or texture, not a copy."""
    values = np.frombuffer(data, dtype=np.uint8) + np.uint8(rng.randrange(1, 256))
    return values.tobytes()
