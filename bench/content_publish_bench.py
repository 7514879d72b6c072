#!/usr/bin/python3
"""Content publishing figures: the chunker's MB/s (one thread, and blocks hashed on every core),
publishing speed at zstd level 19 and 3, and for one update step the bytes a content player
fetches against today's zip patch, against the ideal, in how many requests, and the manifest's
size against the content's. Alternating runs; prints min, median and max. Figures only."""
import io
import os
import random
import shutil
import statistics
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
import content_chunker  # noqa: E402
import content_plan  # noqa: E402
import publish_patch  # noqa: E402

MIB = 1 << 20
SIZES = content_chunker.DEFAULT_SIZES


def figures(values, unit):
    return f"min {min(values):.1f}, median {statistics.median(values):.1f}, max {max(values):.1f} {unit}"


def alternate(runs, sides):
    """{name: [result, ...]} of the sides' functions run in turn, `runs` times each."""
    results = {name: [] for name in sides}
    for _ in range(runs):
        for name, function in sides.items():
            results[name].append(function())
    return results


def timed_rate(function, size):
    start = time.perf_counter()
    function()
    return size / MIB / (time.perf_counter() - start)


def chunker_figures(executor):
    data = os.urandom(64 * MIB)

    def streamed():
        for _ in content_chunker.iter_chunks(io.BytesIO(data), *SIZES, executor=executor):
            pass
    results = alternate(5, {"one thread": lambda: timed_rate(lambda: content_chunker.cut_bytes(data, *SIZES), len(data)),
                            f"{os.cpu_count()} threads": lambda: timed_rate(streamed, len(data))})
    for name, values in results.items():
        print(f"chunker, 64 MiB, {name}: {figures(values, 'MiB/s')}")


def game_client(root, seed, size):
    """Archives of mixed content: incompressible stretches, text, tables, repeats."""
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(500)]
    for i in range(max(1, size // (8 * MIB))):
        parts, length = [], 0
        while length < 8 * MIB:
            kind = rng.random()
            if kind < 0.4:
                piece = rng.randbytes(rng.randint(10000, 300000))
            elif kind < 0.8:
                piece = b" ".join(rng.choice(words) for _ in range(rng.randint(2000, 40000)))
            else:
                piece = bytes(rng.randint(0, 3) for _ in range(rng.randint(1000, 50000)))
            parts.append(piece)
            length += len(piece)
        path = root / "Data" / f"archive{i}.pak"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"".join(parts)[:8 * MIB])
    (root / "Game.exe").write_bytes(rng.randbytes(2 * MIB))
    return root


def next_version(old, new):
    """Three bytes changed in one archive, 100 KiB put into the middle of another, a new file."""
    shutil.copytree(old, new)
    first = (new / "Data/archive0.pak").read_bytes()
    (new / "Data/archive0.pak").write_bytes(first[:3 * MIB] + b"NEW" + first[3 * MIB + 3:])
    second = (new / "Data/archive1.pak").read_bytes()
    (new / "Data/archive1.pak").write_bytes(second[:4 * MIB] + os.urandom(100 * 1024) + second[4 * MIB:])
    (new / "Data/notes.txt").write_bytes(b"patch notes\n" * 500)
    return new


def publish_figures(work, v1, executor):
    size = sum(p.stat().st_size for p in v1.rglob("*") if p.is_file())

    def publish(level):
        out = work / f"publish-{level}"
        shutil.rmtree(out, ignore_errors=True)
        rate = timed_rate(lambda: publish_patch.publish_content(v1, 10001, out, level=level, launcher="1.1.1.24"),
                          size)
        return rate
    results = alternate(3, {"level 19": lambda: publish(19), "level 3": lambda: publish(3)})
    for name, values in results.items():
        print(f"publishing a {size // MIB} MiB client, {name}, {os.cpu_count()} threads: {figures(values, 'MiB/s')}")


def step_figures(work, v1, v2, executor):
    out = work / "step"
    shutil.rmtree(out, ignore_errors=True)
    publish_patch.publish_content(v1, 10001, out, level=19, launcher="1.1.1.24")
    publish_patch.publish_content(v2, 10002, out, old=v1, level=19)
    zip_bytes = sum(p.stat().st_size for p in (out / "Player").glob("patch_10002*.zip"))
    plan = content_plan.plan(v1, out, 10002, executor)
    empty = work / "empty"
    empty.mkdir(exist_ok=True)
    fresh = content_plan.plan(empty, out, 10002, executor)
    print(f"update step 10001 -> 10002 (3 bytes changed, 100 KiB inserted, a new file): content fetches "
          f"{plan['fetch_bytes']} bytes in {plan['requests']} request(s), the zip patch is {zip_bytes} bytes: "
          f"content / zip {plan['fetch_bytes'] / zip_bytes:.4f}; fetched / ideal "
          f"{plan['fetch_bytes'] / plan['ideal_bytes']:.3f}")
    print(f"fresh install of 10002: {fresh['fetch_bytes']} bytes in {fresh['requests']} request(s), fetched / ideal "
          f"{fresh['fetch_bytes'] / fresh['ideal_bytes']:.3f}; manifest {plan['manifest_bytes']} bytes, "
          f"{100 * plan['manifest_bytes'] / plan['content_bytes']:.3f}% of the {plan['content_bytes']} bytes of content")


def main():
    with tempfile.TemporaryDirectory(prefix="content-bench-") as temporary, \
            ThreadPoolExecutor(os.cpu_count() or 1) as executor:
        work = Path(temporary)
        chunker_figures(executor)
        v1 = game_client(work / "v1", 1, 32 * MIB)
        v2 = next_version(v1, work / "v2")
        publish_figures(work, v1, executor)
        step_figures(work, v1, v2, executor)


if __name__ == "__main__":
    main()
