"""The content chunker: the normalised gear-hash cut of docs/content-format.md, vectorised."""
import collections
import threading

import numpy as np

MASK64 = (1 << 64) - 1
GEAR_SEED = 0x514F524344433031
# Chosen on real data (bench/content_real_bench.py, docs/content-format.md): 64 KiB fetched a
# little less but its manifests passed 0.1% of a game folder of many small files.
DEFAULT_SIZES = (32768, 131072, 524288)
# What the launcher accepts; the cut itself only needs 64 <= min.
LAUNCHER_MIN = 1024
LAUNCHER_MAX = 4194304
# Bytes hashed per numpy pass. The six passes walk three arrays of 8 bytes per input byte;
# at 256 KiB they stay in the caches (measured: 1 MiB blocks were a third slower, 4 MiB half).
BLOCK = 1 << 18
OVERLAP = 63


def gear_table():
    """The 256 SplitMix64 outputs from GEAR_SEED, as uint64."""
    state, table = GEAR_SEED, []
    for _ in range(256):
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        table.append(z ^ (z >> 31))
    return np.array(table, dtype=np.uint64)


GEAR = gear_table()


def check_sizes(low, average, high, launcher=True):
    """log2(average); ValueError unless the sizes make a cut (and one the launcher accepts)."""
    k = average.bit_length() - 1
    if average <= 0 or 1 << k != average:
        raise ValueError(f"the average chunk size {average} is not a power of two")
    floor, ceiling = (LAUNCHER_MIN, LAUNCHER_MAX) if launcher else (64, 1 << 32)
    if not floor <= low < average < high <= ceiling:
        raise ValueError(f"chunk sizes {low},{average},{high}: need {floor} <= min < avg < max <= {ceiling}")
    return k


_work = threading.local()


def _work_arrays(n):
    """Per-thread arrays reused from block to block: fresh ones would cost a page fault per
    4 KiB of every block."""
    if getattr(_work, "size", 0) < n:
        _work.size = n
        _work.arrays = (np.empty(n, dtype=np.uint64), np.empty(n, dtype=np.uint64),
                        np.empty(n, dtype=np.intp), np.empty(n, dtype=np.bool_))
    return [a[:n] for a in _work.arrays]


def block_candidates(data, tail, base, strict_bound, loose_bound):
    """The absolute positions in data (which starts at file offset base) that are strict and
    loose; tail is the up to 63 bytes before data in the file.

    The hash is never reset, so h[i] = sum over k < 64 of G[b[i-k]] << k: the sum over a
    window of 2^j bytes is two windows of 2^(j-1) with one shifted add, six passes in all."""
    n = len(tail) + len(data)
    h, scratch, index, mask = _work_arrays(n)
    index[:len(tail)] = np.frombuffer(tail, dtype=np.uint8)
    # take() with byte indices, or with its bounds check, is many times slower.
    np.copyto(index[len(tail):], np.frombuffer(data, dtype=np.uint8), casting="unsafe")
    np.take(GEAR, index, out=h, mode="wrap")
    for step in (1, 2, 4, 8, 16, 32):
        if step >= n:
            break
        np.left_shift(h[:n - step], np.uint64(step), out=scratch[:n - step])
        np.add(h[step:], scratch[:n - step], out=h[step:])
    h, mask = h[len(tail):], mask[len(tail):]
    np.less(h, strict_bound, out=mask)
    strict = np.flatnonzero(mask) + base
    np.less(h, loose_bound, out=mask)
    return strict, np.flatnonzero(mask) + base


class Cutter:
    """Turns the candidates of a file's blocks, given in order, into chunk lengths."""

    def __init__(self, low, average, high):
        k = check_sizes(low, average, high, launcher=False)
        self.low, self.average, self.high = low, average, high
        self.strict_bound = np.uint64(1 << (64 - (k + 2)))
        self.loose_bound = np.uint64(1 << (64 - (k - 2)))
        self.hashed = 0          # bytes of the file whose candidates are known
        self.start = 0           # where the next chunk starts
        self.strict = np.empty(0, dtype=np.int64)
        self.loose = np.empty(0, dtype=np.int64)

    def add(self, length, strict, loose):
        """Takes the candidates of the next length bytes; returns the chunk lengths now decided."""
        self.strict = np.concatenate((self.strict, strict))
        self.loose = np.concatenate((self.loose, loose))
        self.hashed += length
        return self._walk(final=False)

    def finish(self):
        """The lengths of the chunks left at the end of the file."""
        return self._walk(final=True)

    def _walk(self, final):
        lengths = []
        start, n = self.start, self.hashed
        strict, loose = self.strict, self.loose
        # A chunk is decided once max bytes past its start are known, or at the end.
        while start < n and (final or n - start >= self.high):
            limit = min(self.high, n - start)
            length = limit
            if limit > self.low:
                # The chunk's last byte is at start + L - 1: strict for L < avg, loose up to limit.
                i = np.searchsorted(strict, start + self.low - 1)
                if i < len(strict) and strict[i] < start + min(self.average, limit) - 1:
                    length = int(strict[i]) - start + 1
                else:
                    j = np.searchsorted(loose, start + self.average - 1)
                    if j < len(loose) and loose[j] < start + limit - 1:
                        length = int(loose[j]) - start + 1
            start += length
            lengths.append(length)
        self.start = start
        self.strict = strict[np.searchsorted(strict, start):]
        self.loose = loose[np.searchsorted(loose, start):]
        return lengths


def _blocks(stream, block):
    while True:
        data = stream.read(block)
        if not data:
            return
        yield data


def iter_chunks(stream, low, average, high, executor=None, block=BLOCK, ahead=8):
    """Yields the bytes of each chunk of a binary stream, in order. With an executor, up to
    `ahead` blocks are hashed at once (numpy lets go of the interpreter lock while it works);
    memory stays bounded by those blocks plus one maximum chunk."""
    cutter = Cutter(low, average, high)
    pending = bytearray()
    queue = collections.deque()
    tail, base = b"", 0
    blocks = _blocks(stream, block)
    while True:
        while len(queue) < (ahead if executor else 1):
            data = next(blocks, None)
            if data is None:
                break
            args = (data, tail, base, cutter.strict_bound, cutter.loose_bound)
            job = executor.submit(block_candidates, *args) if executor else block_candidates(*args)
            queue.append((data, job))
            tail, base = (tail + data[-OVERLAP:])[-OVERLAP:], base + len(data)
        if queue:
            data, job = queue.popleft()
            strict, loose = job.result() if executor else job
            lengths = cutter.add(len(data), strict, loose)
            pending += data
        else:
            lengths = cutter.finish()
        at = 0
        view = memoryview(pending)
        for length in lengths:
            yield view[at:at + length].tobytes()
            at += length
        view.release()
        del pending[:at]
        if not queue and not lengths and not pending:
            return


def cut_bytes(data, low, average, high):
    """The end offset of every chunk of data, in order (the vectors' form)."""
    cutter = Cutter(low, average, high)
    ends, at, view, tail = [], 0, memoryview(data), b""
    lengths = []
    for base in range(0, len(data), BLOCK):
        piece = view[base:base + BLOCK]
        strict, loose = block_candidates(piece, tail, base, cutter.strict_bound, cutter.loose_bound)
        tail = bytes(view[max(0, base + len(piece) - OVERLAP):base + len(piece)])
        lengths += cutter.add(len(piece), strict, loose)
    lengths += cutter.finish()
    for length in lengths:
        at += length
        ends.append(at)
    return ends
