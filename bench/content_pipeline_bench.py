#!/usr/bin/python3
"""A build pipeline's publication: a generated game folder (5 GB by default) published once, then
1% of it changed and published again at the default level (19) two ways, in alternating runs:
with the stamp cache (unchanged files are not read again) and without it (every file recut, as
the publisher did before the cache). Prints the time and the bytes the publisher read, against
the changed files' bytes and the time zstd takes to compress the new content alone on every
core; the new content's MB/s; what a rollback makes a player on the newest release fetch, as a
share of that release; and the bytes prune frees after ten releases with --keep 3. Figures only.

    content_pipeline_bench.py [--gb 5] [--runs 3] [--work DIR]

The folder and its publications are made in DIR (build/bench/pipeline by default) and removed
at the end."""
import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
TOOL = ROOT / "tools" / "publish_patch.py"
MIB = 1 << 20
FILE = 10 * MIB
HALF_ENTROPY = bytes.maketrans(bytes(range(256)), bytes(b"abcdefghijklmnop"[i % 16] for i in range(256)))
# Runs the publisher and prints, on stderr's last line, the bytes it read (rchar: every read()).
READING = ("import os, runpy, sys\nsys.argv = sys.argv[1:]\nsys.path.insert(0, os.path.dirname(sys.argv[0]))\ntry:\n    runpy.run_path(sys.argv[0], run_name='__main__')\n"
           "except SystemExit as e:\n    code = e.code\nelse:\n    code = 0\n"
           "io = dict(l.split(': ') for l in open('/proc/self/io').read().split('\\n') if l)\n"
           "sys.stderr.write('\\nREAD ' + io['rchar'] + '\\n')\nsys.exit(code)\n")


def modules_read():
    """The bytes a publisher process reads before it looks at any file of a game: the
    interpreter, numpy, zstandard and the publisher's own modules, the same at every run."""
    code = ("import os, sys\nsys.path.insert(0, sys.argv[1])\n"
            "import publish_patch, content_publish, content_delta, content_release_delta, content_stamps\n"
            "io = dict(l.split(': ') for l in open('/proc/self/io').read().split('\\n') if l)\n"
            "print(io['rchar'])\n")
    result = subprocess.run([sys.executable, "-c", code, str(TOOL.parent)], capture_output=True, text=True,
                            timeout=120, check=True)
    return int(result.stdout.split()[-1])


def content(seed, size):
    """Game-like bytes: three fifths incompressible, two fifths that halve when compressed."""
    rng = random.Random(seed)
    hard = size * 3 // 5
    return rng.randbytes(hard) + rng.randbytes(size - hard).translate(HALF_ENTROPY)


def make_folder(folder, count):
    for i in range(count):
        path = folder / "Data" / f"{i // 50:02}" / f"asset{i:04}.pak"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content(i, FILE))
    (folder / "Game.exe").write_bytes(content(-1, 4 * MIB))


def change_in_place(client, count, seed):
    """Writes 1% of the files (at least one) anew, in place, as the next build does: the stamp
    cache is keyed by path. Returns the changed names and their bytes."""
    picked = sorted(random.Random(seed).sample(range(count), max(1, count // 100)))
    names = []
    for i in picked:
        name = f"Data/{i // 50:02}/asset{i:04}.pak"
        (client / name).write_bytes(content(seed * 100000 + i, FILE))
        names.append(name)
    return names, len(picked) * FILE


def publish(client, version, out, stamps, level=19, extra=()):
    """(seconds, bytes read, summary) of one `content` run in its own process."""
    args = [sys.executable, "-c", READING, str(TOOL), "content", "--new", str(client), "--version", str(version),
            "--out", str(out), "--level", str(level), "--launcher-version", "1.1.1.24", "--json", *extra]
    args += ["--stamps", str(stamps)] if stamps else ["--no-stamps"]
    started = time.monotonic()
    result = subprocess.run(args, capture_output=True, text=True, timeout=7200)
    seconds = time.monotonic() - started
    if result.returncode != 0:
        raise RuntimeError(f"publish {version}: {result.stderr[-2000:]}")
    read = int(result.stderr.rsplit("READ ", 1)[1].split()[0])
    return seconds, read, json.loads(result.stdout)


def compress_alone(folder, names, level=19):
    """Seconds zstd takes to compress the files' bytes in 128 KiB pieces on every core."""
    import zstandard
    data = b"".join((folder / n).read_bytes() for n in names)
    pieces = [data[i:i + 128 * 1024] for i in range(0, len(data), 128 * 1024)]
    started = time.monotonic()
    with ThreadPoolExecutor(os.cpu_count() or 1) as executor:
        list(executor.map(lambda p: zstandard.ZstdCompressor(level=level).compress(p), pieces))
    return time.monotonic() - started


def spread(values, digits=1):
    return (f"min {min(values):.{digits}f}  median {statistics.median(values):.{digits}f}  "
            f"max {max(values):.{digits}f}")


def pipeline_figures(work, gb, runs):
    count = max(1, int(gb * 1e9) // FILE)
    client, base = work / "client", work / "base"
    stamps0 = work / "base.publish-stamps.json"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    started = time.monotonic()
    make_folder(client, count)
    time.sleep(2.5)  # a file written within 2 s of its cut gets no stamp
    publish(client, 10001, base, stamps0, level=3)
    print(f"pipeline: {count} files, {count * FILE / 1e9:.2f} GB, made and published as 10001 at level 3 in "
          f"{time.monotonic() - started:.0f} s", flush=True)
    names, changed = change_in_place(client, count, seed=2)
    time.sleep(2.5)
    alone = [compress_alone(client, names) for _ in range(runs)]
    results = {"stamps": [], "recut": []}
    for i in range(runs):
        for way in results:
            out = work / f"out-{way}"
            shutil.rmtree(out, ignore_errors=True)
            subprocess.run(["cp", "-al", str(base), str(out)], check=True, timeout=600)
            stamps = None
            if way == "stamps":
                stamps = work / f"{way}.publish-stamps.json"
                shutil.copyfile(stamps0, stamps)
            results[way].append(publish(client, 10002, out, stamps))
    print(f"publishing 10002, {len(names)} of {count} files changed ({changed / MIB:.0f} MiB, "
          f"{100 * changed / (count * FILE):.2f}%), level 19, {os.cpu_count()} cores, {runs} alternating runs:")
    for way, label in (("stamps", "with the stamp cache"), ("recut", "every file recut (before the cache)")):
        seconds = [s for s, _, _ in results[way]]
        read = [r / MIB for _, r, _ in results[way]]
        print(f"  {label:36} time (s) {spread(seconds)};  read (MiB) {spread(read, 0)}")
    median_alone = statistics.median(alone)
    stamped = [s for s, _, _ in results["stamps"]]
    modules = modules_read()
    read = [r - modules for _, r, _ in results["stamps"]]
    print(f"  of each run's reads, {modules / MIB:.1f} MiB are the interpreter and the publisher's modules; "
          f"with the cache, the rest: {spread([r / MIB for r in read], 1)} MiB")
    print(f"  compressing the changed files alone at level 19: {spread(alone)} s")
    print(f"  with the cache: time / compressing alone {spread([s / median_alone for s in stamped], 2)} "
          f"(goal <= 1.2); read / changed bytes {spread([r / changed for r in read], 3)} (goal <= 1 + 1% of the "
          f"folder: {1 + 0.01 * count * FILE / changed:.2f})")
    print(f"  new content at level 19: {spread([changed / MIB / s for s in stamped])} MiB/s", flush=True)
    # The next build, on the last run's folder and cache: the files 10002 rewrote stay delta
    # candidates against 10001, turned down before, and are not read again.
    names, changed = change_in_place(client, count, seed=3)
    time.sleep(2.5)
    seconds, read, summary = publish(client, 10003, work / "out-stamps", work / "stamps.publish-stamps.json")
    print(f"  the next build (10003, {len(names)} other files, {changed / MIB:.0f} MiB): {seconds:.1f} s, read "
          f"{(read - modules) / changed:.3f} x the changed bytes past the modules; {summary['delta_refused_before']} "
          f"delta(s) turned down before not tried again", flush=True)
    return work / "out-stamps"


def chunk_count_figures(work, runs):
    """The same 1% update of a 3.2 GB folder cut at 1K,4K,16K: some 780,000 chunks, as many as a
    100 GB game has at the default sizes, so the manifest (37 MB) and the stamp cache are at
    that scale while the data stays small enough to make here."""
    client, base, stamps0 = work / "many-client", work / "many-base", work / "many.publish-stamps.json"
    count, sizes = 320, ["--chunk-sizes", "1K,4K,16K"]
    make_folder(client, count)
    time.sleep(2.5)
    publish(client, 10001, base, stamps0, level=1, extra=sizes)
    names, changed = change_in_place(client, count, seed=2)
    time.sleep(2.5)
    alone = statistics.median(compress_alone(client, names) for _ in range(runs))
    results = []
    for _ in range(runs):
        out, stamps = work / "many-out", work / "many-run.publish-stamps.json"
        shutil.rmtree(out, ignore_errors=True)
        subprocess.run(["cp", "-al", str(base), str(out)], check=True, timeout=600)
        shutil.copyfile(stamps0, stamps)
        results.append(publish(client, 10002, out, stamps, extra=sizes))
    manifest = results[0][2]["manifest_bytes"]
    print(f"many chunks: {count} files, {count * FILE / 1e9:.2f} GB cut at 1K,4K,16K, a {manifest / 1e6:.0f} MB manifest; "
          f"{len(names)} files changed ({changed / MIB:.0f} MiB), level 19, {runs} runs:")
    print(f"  time (s) {spread([s for s, _, _ in results])}; compressing alone {alone:.1f} s; read (MiB) "
          f"{spread([r / MIB for _, r, _ in results], 0)}", flush=True)
    shutil.rmtree(client, ignore_errors=True)


def rollback_figure(out):
    result = subprocess.run([sys.executable, str(TOOL), "rollback", "--to", "10001", "--version", "10004", "--out",
                             str(out), "--launcher-version", "1.1.1.24", "--json"],
                            capture_output=True, text=True, timeout=3600)
    if result.returncode != 0:
        raise RuntimeError(f"rollback: {result.stderr[-2000:]}")
    summary = json.loads(result.stdout)
    newest = sum(p.stat().st_size for p in (out / "Content" / "packs").glob("*.pack"))
    print(f"rollback to 10001 as 10004: a player on {summary['newest']} fetches {summary['fetch_bytes']} bytes in "
          f"{summary['requests']} request(s), {100 * summary['fetch_bytes'] / newest:.2f}% of the store's "
          f"{newest / 1e9:.2f} GB; manifest {summary['manifest_bytes']} bytes, no pack written")


def prune_figure(work):
    """Ten releases of a 200 MiB folder, each rewriting one of the same two files, pruned with --keep 3."""
    folder, out = work / "prune-client", work / "prune-out"
    shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)
    count = 20
    make_folder(folder, count)
    for version in range(10001, 10011):
        if version > 10001:
            i = version % 2  # the files every build changes: their old chunks go dead
            path = folder / "Data" / f"{i // 50:02}" / f"asset{i:04}.pak"
            path.write_bytes(content(version * 1000 + i, FILE))
        publish(folder, version, out, None, level=3)
    before = sum(p.stat().st_size for p in out.rglob("*") if p.is_file())
    result = subprocess.run([sys.executable, str(TOOL), "prune", "--keep", "3", "--grace", "0", "--out", str(out),
                             "--json"], capture_output=True, text=True, timeout=600)
    summary = json.loads(result.stdout)
    print(f"prune after 10 releases of a {count * FILE / MIB:.0f} MiB folder (one of the same two files rewritten each), --keep 3: "
          f"{summary['freed_bytes'] / MIB:.1f} MiB freed of {before / MIB:.1f} MiB; "
          f"{summary['dead_bytes_in_kept_packs'] / MIB:.1f} MiB of kept packs hold chunks no kept release uses")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gb", type=float, default=5.0)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--work", type=Path, default=ROOT / "build" / "bench" / "pipeline")
    args = parser.parse_args()
    try:
        out = pipeline_figures(args.work, args.gb, args.runs)
        rollback_figure(out)
        prune_figure(args.work)
        chunk_count_figures(args.work, args.runs)
    finally:
        shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
