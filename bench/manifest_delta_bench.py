#!/usr/bin/python3
"""The release manifest's share of an update's bytes, fetched whole and as its delta from the
installed release's manifest: on a generated client (many files, a few changed a release) and,
given two folders (--old/--new) or a Debian package whose last two versions the machine's apt
lists offer (--package, by default freecad-common: 1,909 files, 131 MB), on real data. Prints
figures only."""
import argparse
import random
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "bench"))
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
    """Both folders published at the publisher's defaults (deltas included); the update is what
    content-plan says a player on the first fetches: chunks and file deltas, then the manifest."""
    publish_patch.publish_content(old, 1, out)
    publish_patch.publish_content(new, 2, out)
    target, whole = content_plan.load_release(out, 2)
    with ThreadPoolExecutor() as executor:
        plan = content_plan.plan(old, out, 2, executor, gap=GAP, installed=1)
    update = plan["fetch_bytes"] + plan["delta_bytes"]
    delta_file = content_release_delta.delta_path(out, 2, 1)
    delta = delta_file.stat().st_size if delta_file.exists() else whole
    print(f"{name}: {len(target.files)} files; content fetched {update} bytes ({plan['delta_bytes']} of them file "
          f"deltas, {plan['requests'] + len(plan['delta_requests'])} request(s)); manifest {whole} bytes, its delta "
          f"{delta} bytes")
    print(f"{name}: manifest share of the update {whole / (whole + update):.1%} whole, "
          f"{delta / (delta + update):.1%} as a delta; update {whole + update} -> {delta + update} bytes")


def debian_pair(package):
    """The client folders of the last two versions of package, fetched and unpacked once into
    build/bench-data (bench/real_data.py)."""
    import real_data
    data = ROOT / "build" / "bench-data"
    offered = real_data.versions(package)[-2:]
    if len(offered) < 2:
        raise SystemExit(f"the apt lists offer {len(offered)} version(s) of {package}, not two")
    folders = []
    for number, (version, deb) in enumerate(zip(offered, real_data.download(data / "debs", [(package, v) for v in offered]))):
        unpacked = real_data.unpack(deb, data / "unpacked" / deb.stem)
        files, size, _ = real_data.client_tree([unpacked], data / package / str(number))
        print(f"{package} {version}: {files} files, {size / 1e6:.1f} MB", flush=True)
        folders.append(data / package / str(number))
    return folders


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=1909, help="files of the generated client")
    parser.add_argument("--changed", type=int, default=3, help="files the generated update changes")
    parser.add_argument("--old", type=Path, help="a real client folder, the installed version")
    parser.add_argument("--new", type=Path, help="the same client's next version")
    parser.add_argument("--package", default="freecad-common", help="the Debian package of the real pair without "
                        "--old/--new; 'none' for the generated client only")
    args = parser.parse_args(argv)
    if not (args.old and args.new) and args.package != "none":
        args.old, args.new = debian_pair(args.package)
    with tempfile.TemporaryDirectory(prefix="manifest-delta-bench-") as work:
        work = Path(work)
        old, new = generated(work / "client", args.files, args.changed)
        figures("generated", old, new, work / "out")
        if args.old and args.new:
            figures("real", args.old, args.new, work / "real-out")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
