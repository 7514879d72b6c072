#!/usr/bin/python3
"""Writes a base file, a new file made from it by a rebuild's kind of edits, and the delta between
them as the publisher makes it (zstd --patch-from), for the delta applier's tests: base.bin,
new.bin, new.delta in the folder given, then "ready".

Made at build time with the zstd program, so no binary is committed and the Windows build, which
carries only zstd's decoder, applies deltas from the real compressor."""
import random
import subprocess
import sys
from pathlib import Path


def edited(base, rng):
    """The base with bytes changed in place, a block inserted and one removed: every offset after
    the first insertion moves, as in a rebuilt program."""
    out = bytearray(base)
    for at in rng.sample(range(len(out)), 200):
        out[at] ^= 0x5A
    out[1_000_000:1_000_000] = rng.randbytes(5000)
    del out[2_000_000:2_000_300]
    return bytes(out)


def main(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    rng = random.Random(19)
    # Compressible, like code: words from a small vocabulary, with some noise.
    words = [rng.randbytes(rng.randrange(2, 9)) for _ in range(512)]
    base = b"".join(rng.choice(words) for _ in range(600_000))[:3_000_000]
    (folder / "base.bin").write_bytes(base)
    (folder / "new.bin").write_bytes(edited(base, rng))
    subprocess.run(["/usr/bin/zstd", "-q", "-f", "--patch-from=" + str(folder / "base.bin"),
                    str(folder / "new.bin"), "-o", str(folder / "new.delta")], check=True, timeout=120)
    (folder / "ready").write_text("")


if __name__ == "__main__":
    main(sys.argv[1])
