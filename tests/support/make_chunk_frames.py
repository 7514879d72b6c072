#!/usr/bin/python3
"""Writes stored chunks as the publisher's zstd library makes them, for the chunk decoder's tests:
NAME.raw (the chunk's bytes), NAME.zst (what a pack stores for it) and NAME.sha256 (the chunk's
name, in hex) in the folder given.

Made at build time (python3-zstandard, Debian's), so no binary is committed and the Windows
build, which carries only zstd's decoder, still decodes frames from a real compressor."""
import hashlib
import sys
from pathlib import Path

import zstandard

MASK64 = (1 << 64) - 1


def random_bytes(seed, length):
    out, state = bytearray(), seed
    while len(out) < length:
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        out += (z ^ (z >> 31)).to_bytes(8, "little")
    return bytes(out[:length])


def text(seed, length):
    return bytes(b" abcdefghijklmnopqrstuvwxyz"[b % 27] for b in random_bytes(seed, length))


def frame(data, **options):
    return zstandard.ZstdCompressor(**options).compress(data)


def main(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    long_window = zstandard.ZstdCompressionParameters.from_level(3, window_log=27, enable_ldm=True)
    chunks = {
        # name: (raw bytes, stored bytes); the first ones as the publisher stores chunks
        "text-100000": (text(31, 100000), None),
        "random-65536": (random_bytes(32, 65536), None),  # incompressible: stored blocks
        "one-byte": (b"x", None),
        "zeros-4194304": (bytes(4194304), None),  # the largest chunk a release may have
        "text-3000": (text(33, 3000), None),
        "level-19": (text(34, 200000), {"level": 19}),
        "long-window": (text(35, 1 << 20), {"compression_params": long_window}),
        "checksum": (text(36, 5000), {"write_checksum": True}),
        "no-content-size": (text(37, 5000), {"write_content_size": False}),
    }
    for name, (raw, options) in chunks.items():
        (folder / f"{name}.raw").write_bytes(raw)
        (folder / f"{name}.zst").write_bytes(frame(raw, **(options or {"level": 3})))
        (folder / f"{name}.sha256").write_text(hashlib.sha256(raw).hexdigest() + "\n")
    half = text(38, 4000)
    (folder / "two-frames.raw").write_bytes(half + half)
    (folder / "two-frames.zst").write_bytes(frame(half) + frame(half))
    (folder / "ready").write_text("made by make_chunk_frames.py\n")


if __name__ == "__main__":
    main(sys.argv[1])
