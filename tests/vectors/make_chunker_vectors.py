#!/usr/bin/python3
"""Writes chunker_cuts.txt: the cut points of the content chunker on generated inputs.

This is the plain, slow statement of the cut (docs/content-format.md, "The cut"), kept apart
from both the publisher's chunker and the launcher's so that each is tested against the same
written-down answers. Run it again only when the cut itself changes; the file is committed.
"""
import sys
from pathlib import Path

MASK64 = (1 << 64) - 1
GEAR_SEED = 0x514F524344433031


def splitmix64(state):
    """Yields the SplitMix64 outputs for a starting state."""
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        yield z ^ (z >> 31)


def gear_table():
    outputs = splitmix64(GEAR_SEED)
    return [next(outputs) for _ in range(256)]


def random_bytes(seed, length):
    out = bytearray()
    for value in splitmix64(seed):
        if len(out) >= length:
            break
        out += value.to_bytes(8, "little")
    return bytes(out[:length])


def generate(kind, seed, length):
    """The input bytes of one vector line."""
    if kind == "random":
        return random_bytes(seed, length)
    if kind == "text":  # low entropy: lower-case letters and blanks
        return bytes(b" abcdefghijklmnopqrstuvwxyz"[b % 27] for b in random_bytes(seed, length))
    if kind == "zeros":
        return bytes(length)
    if kind == "inserted":  # the random input of this seed with one byte put in at its middle
        data = random_bytes(seed, length - 1)
        middle = len(data) // 2
        return data[:middle] + b"\x5a" + data[middle:]
    if kind == "runs":  # random stretches between runs of zeros as long as max chunks
        block = random_bytes(seed, length)
        return bytes(0 if (i // 40000) % 3 == 1 else block[i] for i in range(length))
    raise ValueError(kind)


def cuts(data, low, average, high):
    """The end offset of every chunk, in order."""
    gear = gear_table()
    k = average.bit_length() - 1
    assert 1 << k == average and 64 <= low < average < high
    strict_shift, loose_shift = 64 - (k + 2), 64 - (k - 2)
    hashes, h = [], 0
    for b in data:
        h = ((h << 1) + gear[b]) & MASK64
        hashes.append(h)
    ends, start, n = [], 0, len(data)
    while start < n:
        limit = min(high, n - start)
        length = limit
        if limit > low:
            for candidate in range(low, limit):
                shift = strict_shift if candidate < average else loose_shift
                if hashes[start + candidate - 1] >> shift == 0:
                    length = candidate
                    break
        start += length
        ends.append(start)
    return ends


VECTORS = [
    # kind, seed, length, min, avg, max
    ("random", 1, 0, 64, 256, 1024),
    ("random", 2, 63, 64, 256, 1024),
    ("random", 3, 64, 64, 256, 1024),
    ("random", 4, 65, 64, 256, 1024),
    ("random", 5, 1500, 64, 256, 1024),
    ("random", 6, 200000, 64, 256, 1024),
    ("text", 7, 200000, 64, 256, 1024),
    ("zeros", 8, 5000, 64, 256, 1024),
    ("inserted", 6, 200001, 64, 256, 1024),
    ("runs", 9, 300000, 256, 1024, 4096),
    ("random", 10, 1048576, 1024, 4096, 16384),
    ("random", 11, 2000000, 16384, 65536, 262144),
    ("text", 12, 700000, 16384, 65536, 262144),
    ("runs", 13, 1000000, 16384, 65536, 262144),
    ("random", 14, 262144, 16384, 65536, 262144),
    ("random", 15, 262145, 16384, 65536, 262144),
]

HEADER = """\
# Cut points of the content chunker (docs/content-format.md, "The cut"), written by
# make_chunker_vectors.py. One line per input:
#   KIND SEED LENGTH MIN AVG MAX : END END ...
# where each END is the offset just past a chunk. The input bytes of a line:
#   random   the SplitMix64 outputs from state SEED, each as 8 little-endian bytes, cut to LENGTH
#   text     random's bytes b replaced by " abcdefghijklmnopqrstuvwxyz"[b % 27]
#   zeros    LENGTH zero bytes
#   inserted random of SEED and LENGTH - 1 bytes, with the byte 0x5A put in before offset (LENGTH - 1) / 2
#   runs     random's bytes, but zero where (offset / 40000) % 3 == 1
"""


def main(path):
    lines = [HEADER.rstrip("\n")]
    for kind, seed, length, low, average, high in VECTORS:
        ends = cuts(generate(kind, seed, length), low, average, high)
        lines.append(f"{kind} {seed} {length} {low} {average} {high} : " + " ".join(map(str, ends)))
    Path(path).write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).with_name("chunker_cuts.txt"))
