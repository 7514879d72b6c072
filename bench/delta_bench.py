#!/usr/bin/python3
"""The delta road's figures in the Windows build: a rebuilt program of a few sizes, its delta
made by the zstd program (--patch-from, as the publisher does), applied by
delta_apply_win32_bench.exe against building the same file from local chunks, and the peak
working set of applying the largest. Prints figures only.
  delta_bench.py [ROUNDS]   (TEST_BUILD_DIR: the Windows build tree)"""
import os
import random
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(os.environ.get("TEST_BUILD_DIR", ROOT / "build" / "win-x86_64"))
SIZES_MIB = (16, 64)


def program(rng, size):
    words = [rng.randbytes(rng.randrange(2, 9)) for _ in range(4096)]
    out = bytearray(b"".join(rng.choices(words, k=size // 4)))
    while len(out) < size:
        out += out[:size - len(out)]
    return bytes(out[:size])


def rebuilt(data, rng):
    """A byte changed every few KiB and code inserted near the start: every chunk changes."""
    out = bytearray(data)
    for at in range(0, len(out), 3000):
        out[at] ^= 0xFF
    out[5000:5000] = rng.randbytes(4096)
    return bytes(out)


def wine(*args):
    return subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), *map(str, args)], cwd=BUILD / "delta-bench",
                          capture_output=True, text=True, timeout=900)


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    folder = BUILD / "delta-bench"
    folder.mkdir(exist_ok=True)
    exe = BUILD / "delta_apply_win32_bench.exe"
    rng = random.Random(19)
    largest = None
    for mib in SIZES_MIB:
        base, new, delta = (folder / f"{mib}.{name}" for name in ("base", "new", "delta"))
        if not delta.exists():
            old = program(rng, mib << 20)
            base.write_bytes(old)
            new.write_bytes(rebuilt(old, rng))
            subprocess.run(["/usr/bin/zstd", "-q", "-f", f"--patch-from={base}", str(new), "-o", str(delta)],
                           check=True, timeout=600)
        print(f"{mib} MiB program: delta {delta.stat().st_size / 1024:.0f} KiB")
        result = wine(exe, base.name, new.name, delta.name, rounds)
        print(result.stdout, end="")
        largest = (base, new, delta)
    result = wine(exe, *(p.name for p in largest), "memory")
    print(result.stdout, end="")
    print("i686 build: not run here (this machine refuses 32-bit code); its applier is the same source")


if __name__ == "__main__":
    main()
