#!/usr/bin/python3
"""The release manifest's share of an update's bytes, fetched whole and as its delta from the
installed release's manifest: on a generated client (many files, a few changed a release) and,
given two folders (--old/--new, say two unpacked versions of a Debian package), on real data.
Prints figures only."""
import argparse
import random
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
import content_operations  # noqa: E402
import content_plan  # noqa: E402
import content_release_delta  # noqa: E402
import publish_patch  # noqa: E402

GAP = 65536


def generated(root, files, changed, seed=2026):
    """Two client folders: files of 1 to 200 KB, then changed of them rewritten in the second."""
    rng = random.Random(seed)
    sizes = [rng.randrange(1000, 200_000) for _ in range(files)]
    old, new = root / "old", root / "new"
    for i, size in enumerate(sizes):
        data = random.Random(i).randbytes(size)
        for folder in (old, new):
            path = folder / f"pkg/{i % 40:02}/file{i:05}.bin"
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
    for i in rng.sample(range(files), changed):
        path = new / f"pkg/{i % 40:02}/file{i:05}.bin"
        data = bytearray(path.read_bytes())
        data[len(data) // 2:len(data) // 2 + 64] = rng.randbytes(64)
        path.write_bytes(bytes(data))
    return old, new


def figures(name, old, new, out):
    publish_patch.publish_content(old, 1, out, level=3)
    publish_patch.publish_content(new, 2, out, level=3)
    installed, _ = content_plan.load_release(out, 1)
    target, _ = content_plan.load_release(out, 2)
    chunks = content_operations.fetch_between(installed, target, GAP)["fetch_bytes"]
    whole = (out / "Content/releases/2.release").stat().st_size
    delta_file = content_release_delta.delta_path(out, 2, 1)
    delta = delta_file.stat().st_size if delta_file.exists() else whole
    print(f"{name}: {len(target.files)} files; chunks fetched {chunks} bytes; manifest {whole} bytes, "
          f"its delta {delta} bytes")
    print(f"{name}: manifest share of the update {whole / (whole + chunks):.1%} whole, "
          f"{delta / (delta + chunks):.1%} as a delta; update {whole + chunks} -> {delta + chunks} bytes")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=1909, help="files of the generated client")
    parser.add_argument("--changed", type=int, default=3, help="files the generated update changes")
    parser.add_argument("--old", type=Path, help="a real client folder, the installed version")
    parser.add_argument("--new", type=Path, help="the same client's next version")
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory(prefix="manifest-delta-bench-") as work:
        work = Path(work)
        old, new = generated(work / "client", args.files, args.changed)
        figures("generated", old, new, work / "out")
        if args.old and args.new:
            figures("real", args.old, args.new, work / "real-out")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
