"""The publisher's chunker against the written-down cut points and the plain statement of the cut."""
import io
import random
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tools"), str(ROOT / "tests" / "vectors")]
import content_chunker  # noqa: E402
import make_chunker_vectors  # noqa: E402


def vector_lines():
    for line in (ROOT / "tests" / "vectors" / "chunker_cuts.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            head, ends = line.split(":")
            kind, *numbers = head.split()
            yield pytest.param(kind, *map(int, numbers), [int(e) for e in ends.split()], id=" ".join(head.split()[:3]))


def ends_of(chunks):
    ends, at = [], 0
    for chunk in chunks:
        at += len(chunk)
        ends.append(at)
    return ends


@pytest.fixture(scope="module")
def executor():
    with ThreadPoolExecutor(2) as pool:
        yield pool


@pytest.mark.parametrize("kind,seed,length,low,average,high,expected", vector_lines())
def test_the_cut_points_of_the_vectors(kind, seed, length, low, average, high, expected, executor):
    data = make_chunker_vectors.generate(kind, seed, length)
    assert content_chunker.cut_bytes(data, low, average, high) == expected
    # Streamed in pieces shorter than a chunk, and hashed on threads: the same cut.
    for block, pool in ((777, None), (50000, executor)):
        chunks = list(content_chunker.iter_chunks(io.BytesIO(data), low, average, high, pool, block=block))
        assert b"".join(chunks) == data and ends_of(chunks) == expected


def test_the_cut_of_random_inputs_is_the_plain_one():
    rng = random.Random(20261209)
    for _ in range(12):
        low = rng.choice([64, 100, 256, 1000])
        average = 1 << rng.randint(max(7, low.bit_length()), 12)
        high = average * rng.choice([2, 4, 8]) + rng.randint(0, 50)
        length = rng.randint(0, 30000)
        # Mixed content: random stretches, runs and repeats, where the masks and the limits all cut.
        parts, size = [], 0
        while size < length:
            piece = rng.choice([rng.randbytes(rng.randint(1, 5000)), bytes([rng.randint(0, 255)]) * rng.randint(1, 3000)])
            parts.append(piece)
            size += len(piece)
        data = b"".join(parts)[:length]
        assert content_chunker.cut_bytes(data, low, average, high) == \
            make_chunker_vectors.cuts(data, low, average, high), (low, average, high, length)


@pytest.mark.parametrize("sizes,launcher_ok", [
    ((16384, 65536, 262144), True), ((1024, 2048, 4096), True), ((1024, 4096, 4194304), True),
    ((1023, 4096, 16384), False), ((1024, 4096, 4194305), False), ((4096, 4096, 16384), False),
    ((1024, 3000, 16384), False), ((1024, 65536, 65536), False),
])
def test_the_sizes_the_launcher_accepts(sizes, launcher_ok):
    if launcher_ok:
        content_chunker.check_sizes(*sizes)
    else:
        with pytest.raises(ValueError):
            content_chunker.check_sizes(*sizes)
