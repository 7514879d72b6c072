#!/usr/bin/python3
"""Writes the seeds of the release_manifest fuzz target: a few small valid release manifests.

Run from anywhere: python3 tests/fuzz/make_release_manifest_seeds.py
"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "release_manifest")


def manifest(release, sizes, packs, chunks, files, deltas=()):
    """packs: (release, index, size); chunks: (label, raw, stored, pack, offset);
    files: (path bytes, [chunk indexes]); deltas: (file, base, base size, pack, offset, stored)."""
    paths = b"".join(p for p, _ in files)
    refs = sum(len(c) for _, c in files)
    out = b"QORCONT1" + struct.pack("<10I", release, *sizes, len(packs), len(chunks), len(files), refs,
                                    len(deltas), len(paths))
    for p in packs:
        out += struct.pack("<IIQ", *p)
    for label, raw, stored, pack, offset in chunks:
        out += hashlib.sha256(label).digest() + struct.pack("<4I", raw, stored, pack, offset)
    first = path_at = 0
    for path, refs_of in files:
        size = sum(chunks[c][1] for c in refs_of)
        out += struct.pack("<QIIIHH", size, first, len(refs_of), path_at, len(path), 0)
        first += len(refs_of)
        path_at += len(path)
    for _, refs_of in files:
        out += struct.pack(f"<{len(refs_of)}I", *refs_of)
    for file, base, base_size, pack, offset, stored in deltas:
        out += struct.pack("<II", file, base) + hashlib.sha256(b"base").digest()
        out += struct.pack("<QIII", base_size, pack, offset, stored) + hashlib.sha256(b"new").digest()
        out += struct.pack("<I", 0)
    return out + paths


SEEDS = {
    "empty-release": manifest(1, (16384, 65536, 262144), [], [], []),
    "two-packs": manifest(
        12, (16384, 65536, 262144),
        [(11, 0, 900), (12, 0, 300)],
        [(b"a", 65536, 500, 0, 0), (b"b", 30000, 400, 0, 500), (b"c", 262144, 300, 1, 0)],
        [(b"Data/Maps/a.bin", [0, 1, 0]), (b"Data/b.bin", [2]), (b"empty.txt", []), (b"readme.txt", [1])]),
    "korean-and-deltas": manifest(
        30001, (1024, 2048, 4096),
        [(30000, 0, 64), (30001, 0, 64), (30001, 1, 10)],
        [(b"x", 4096, 30, 0, 0), (b"y", 1, 30, 0, 30), (b"z", 2048, 64, 1, 0)],
        [(b"Brevanta.exe", [0, 1]), ("데이터/맵.bin".encode("cp949"), [2, 2, 0])],
        [(1, 30000, 8193, 2, 0, 10)]),
    "one-big-file": manifest(
        7, (16384, 65536, 262144),
        [(7, 0, 20 * 1000)],
        [(bytes([i]), 65536 + i, 1000, 0, 1000 * i) for i in range(20)],
        [(b"Game/Content.pak", list(range(20)))]),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
