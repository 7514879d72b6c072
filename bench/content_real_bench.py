#!/usr/bin/python3
"""The content mode on real data: Debian's packages of a large program (two releases) and a
game-like folder of game data packages (five releases in which a few archive entries change),
published as content releases and as today's zip patches; prints what a player downloads each
way, against the ideal, in how many requests, the manifests' size, and a sweep of chunk sizes
and request-merging gaps to choose them by. Figures only.

    content_real_bench.py [--averages 32K,64K,...] [--gaps 0,16K,...] [--level 19] [--reuse]
    content_real_bench.py --deltas [--delta-programs libssl3,libcurl4,git] [--runs 3]

--deltas prints instead what binary deltas save on real programs: each offered release of a
few Debian packages, published with deltas, and the bytes of every one-step update and of the
skip from the first to the last with deltas against the chunks alone; and the publisher's
time to write the deltas of a release, per GB of changed files.

Packages come through the machine's apt configuration (apt-get download) into
build/bench-data/, once; the folders made from them are kept there too.

Every file is cut once per chunk size: the cut of a file whose inode, size and time were cut
before is reused (the releases share unchanged files as hard links). The cuts are the
publisher's and the planner's own (content_publish.cut_file), so the figures are theirs;
the publisher's MB/s is taken on the first release, where nothing was cut before."""
import argparse
import os
import shutil
import statistics
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

BENCH = Path(__file__).resolve().parent
ROOT = BENCH.parent
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(BENCH))
import content_plan  # noqa: E402
import content_publish  # noqa: E402
import publish_patch  # noqa: E402
import real_data  # noqa: E402
from game_series import ArchiveChange, Step, derive  # noqa: E402
from real_bench_report import cut_cache, print_dataset, print_sweep  # noqa: E402

DATA = ROOT / "build" / "bench-data"
GAME_PACKAGES = ("openarena-data", "openarena-081-maps", "openarena-081-misc", "openarena-081-players",
                 "openarena-081-players-mature", "openarena-081-textures", "openarena-085-data",
                 "openarena-088-data", "warzone2100-data", "supertuxkart-data")
PROGRAM_PACKAGE = "libreoffice-core"
FIRST = 10001
STEPS = (
    Step(10002, (ArchiveChange("openarena/baseoa/pak4-textures.pk3", 4, 1),), loose=1),
    Step(10003, (ArchiveChange("warzone2100/base.wz", 3, 1),), loose=2),
    Step(10004, (ArchiveChange("openarena/baseoa/pak2-players.pk3", 3),
                 ArchiveChange("openarena/baseoa/pak0.pk3", 2)), loose=1),
    Step(10005, (ArchiveChange("openarena/baseoa/pak6-patch088.pk3", 3, 2),
                 ArchiveChange("warzone2100/base.wz", 2)), loose=0),
)
DEFAULT_AVERAGE = content_publish.content_chunker.DEFAULT_SIZES[1]
DEFAULT_GAP = content_plan.DEFAULT_GAP
LAUNCHER_VERSION = "1.1.1.24"


def fetch_game():
    debs = real_data.download(DATA / "debs", [(p, None) for p in GAME_PACKAGES])
    sources = [real_data.unpack(d, DATA / "unpacked" / d.stem) / "usr/share/games" for d in debs]
    files, size, left = real_data.client_tree(sources, DATA / "game" / str(FIRST))
    names = ", ".join(d.name.rsplit(".", 1)[0] for d in debs)
    print(f"  game folder {FIRST}: {files} files, {size / 1e6:.1f} MB, from {names}; "
          f"{len(left)} path(s) left out{': ' + str(left[:3]) if left else ''}")
    return DATA / "game" / str(FIRST)


def fetch_program(package):
    offered = real_data.versions(package)
    if len(offered) < 2:
        print(f"  {package}: the apt lists offer {len(offered)} version(s), not two: the program data set is left out")
        return []
    old, new = offered[-2:]
    debs = real_data.download(DATA / "debs", [(package, old), (package, new)])
    releases = []
    for version, deb, number in ((old, debs[0], FIRST), (new, debs[1], FIRST + 1)):
        unpacked = real_data.unpack(deb, DATA / "unpacked" / deb.stem)
        files, size, left = real_data.client_tree([unpacked], DATA / "program" / str(number))
        print(f"  program {number}: {package} {version} ({deb.name}, {deb.stat().st_size / 1e6:.1f} MB), "
              f"unpacked {files} files, {size / 1e6:.1f} MB; {len(left)} link(s) or path(s) left out")
        releases.append((number, DATA / "program" / str(number)))
    return releases


def derive_game(first):
    releases, previous = [(FIRST, first)], first
    for step in STEPS:
        folder = DATA / "game" / str(step.version)
        for line in derive(previous, folder, step):
            print(f"  {step.version}: {line}")
        releases.append((step.version, folder))
        previous = folder
    return releases


def publish_zips(releases, out, reuse):
    """Today's zip patches of each step (the first release is an installer's); {version: bytes}."""
    info = out / "LauncherPatchInfo.txt"
    kept = reuse and info.exists() and publish_patch.last_player_version(info.read_text()) == releases[-1][0]
    if not kept:
        shutil.rmtree(out, ignore_errors=True)
    sizes = {}
    for (_, old), (version, new) in zip(releases, releases[1:]):
        if not kept:
            publish_patch.publish(old, new, version, out, launcher=LAUNCHER_VERSION)
        sizes[version] = sum(p.stat().st_size for p in (out / "Player").glob(f"patch_{version}*.zip"))
    return sizes


def publish_content(releases, out, sizes, level, reuse, cuts):
    """Publishes every release into out; [(version, seconds, summary, bytes cut)] (None when
    reused)."""
    last = out / content_publish.RELEASES / f"{releases[-1][0]}.release"
    if reuse and last.exists():
        return None
    shutil.rmtree(out, ignore_errors=True)
    done = []
    for version, folder in releases:
        start, cut = time.perf_counter(), cuts["bytes"]
        result = publish_patch.publish_content(folder, version, out, level=level, sizes=sizes,
                                               launcher=LAUNCHER_VERSION)
        done.append((version, time.perf_counter() - start, result, cuts["bytes"] - cut))
    return done


def updates(releases):
    """(label, client folder, release, [zip patch versions]) of what players do."""
    first, last = releases[0], releases[-1]
    out = [(f"{a} -> {b}", folder, b, [b]) for (a, folder), (b, _) in zip(releases, releases[1:])]
    if len(releases) > 3:
        out.append((f"skip {first[0]} -> {last[0]}", first[1], last[0], [v for v, _ in releases[1:]]))
    empty = DATA / "empty"
    empty.mkdir(parents=True, exist_ok=True)
    out.append((f"install {last[0]}", empty, last[0], []))
    return out


def needed_by_pack(client, out, version, executor):
    """{pack: [(offset, stored size)]} of the chunks of release version that client lacks."""
    release, _ = content_plan.load_release(out, version)
    local = content_plan.local_chunks(client, release.sizes, executor)
    present = {sha for shas in local.values() for sha in shas}
    by_pack = {}
    for chunk in release.chunks:
        if chunk.sha not in present:
            by_pack.setdefault(chunk.pack, []).append((chunk.offset, chunk.stored))
    return by_pack


def at_gap(by_pack, gap):
    """The planner's requests for the needed chunks at one gap, beside the packs touched and the
    gaps between needed chunks of a pack wider than gap, counted apart from the requests."""
    requests = [r for pack in sorted(by_pack) for r in content_plan.requests(by_pack[pack], gap)]
    wide = 0
    for chunks in by_pack.values():
        chunks = sorted(chunks)
        wide += sum(1 for a, b in zip(chunks, chunks[1:]) if b[0] - (a[0] + a[1]) > gap)
    return {"fetch_bytes": sum(last - first + 1 for first, last in requests), "requests": len(requests),
            "packs": len(by_pack), "wide": wide}


def measure(releases, out, zips, gaps, executor):
    """[(label, plan at the default gap, zip bytes, {gap: at_gap figures})] of every update."""
    rows = []
    for label, client, version, patches in updates(releases):
        plan = content_plan.plan(client, out, version, executor, DEFAULT_GAP)
        by_pack = needed_by_pack(client, out, version, executor)
        figures = {gap: at_gap(by_pack, gap) for gap in gaps}
        if (figures[DEFAULT_GAP]["fetch_bytes"], figures[DEFAULT_GAP]["requests"]) != \
                (plan["fetch_bytes"], plan["requests"]):
            raise RuntimeError(f"{label}: the requests at gap {DEFAULT_GAP} differ from content-plan's")
        rows.append((label, plan, sum(zips[v] for v in patches) if patches else None, figures))
    return rows


DELTA_PROGRAMS = ("libssl3", "libcurl4", "git")
DELTA_RELEASES = 4


def fetch_program_series(package):
    """[(number, client folder)] of the last DELTA_RELEASES versions of package the apt lists
    offer, oldest first."""
    offered = real_data.versions(package)[-DELTA_RELEASES:]
    debs = real_data.download(DATA / "debs", [(package, v) for v in offered])
    releases = []
    for number, (version, deb) in enumerate(zip(offered, debs), FIRST):
        unpacked = real_data.unpack(deb, DATA / "unpacked" / deb.stem)
        files, size, _ = real_data.client_tree([unpacked], DATA / "delta" / package / str(number))
        print(f"  {package} {number}: {version}, {files} files, {size / 1e6:.2f} MB")
        releases.append((number, DATA / "delta" / package / str(number)))
    return releases


def publish_with_deltas(releases, out, level):
    """Publishes the series into a fresh out; [(seconds writing deltas, bytes of changed files,
    deltas kept)] per release."""
    shutil.rmtree(out, ignore_errors=True)
    done = []
    for version, folder in releases:
        result = publish_patch.publish_content(folder, version, out, level=level, launcher=LAUNCHER_VERSION)
        done.append((result["delta_seconds"], result["delta_changed_bytes"], result["deltas"]))
    return done


def delta_updates(releases):
    steps = [(f"{a} -> {b}", folder, b) for (a, folder), (b, _) in zip(releases, releases[1:])]
    if len(releases) > 2:
        steps.append((f"skip {releases[0][0]} -> {releases[-1][0]} ({len(releases) - 1} steps)", releases[0][1],
                      releases[-1][0]))
    return steps


def delta_main(args):
    phases, rates, rows = real_data.Phases(), [], []
    with ThreadPoolExecutor(os.cpu_count() or 1) as executor:
        for package in args.delta_programs:
            releases = phases.run(f"fetch {package}", fetch_program_series, package)
            if len(releases) < 2:
                print(f"  {package}: fewer than two releases offered, left out")
                continue
            out = DATA / f"delta-{package}"
            for run in range(args.runs):
                done = phases.run(f"publish {package} with deltas, level {args.level}, run {run + 1}",
                                  publish_with_deltas, releases, out, args.level)
                seconds, changed = sum(d[0] for d in done), sum(d[1] for d in done)
                if changed:
                    rates.append((package, seconds / (changed / 1e9), changed))
            for label, client, version in delta_updates(releases):
                plan = content_plan.plan(client, out, version, executor)
                alone, both = plan["fetch_bytes_without_deltas"], plan["fetch_bytes"] + plan["delta_bytes"]
                rows.append((package, label, alone, both, len(plan["delta_requests"]), plan["manifest_bytes"]))
    print("== binary deltas on real programs (bytes an update fetches, manifest apart)")
    for package, label, alone, both, deltas, manifest in rows:
        print(f"  {package} {label}: chunks alone {alone / 1e6:.3f} MB, with deltas {both / 1e6:.3f} MB "
              f"({deltas} delta(s)): {both / alone if alone else 1.0:.3f} of the chunks alone; manifest "
              f"{manifest / 1e3:.1f} kB")
    print(f"== the publisher writing deltas at level {args.level}, {os.cpu_count()} core(s)")
    for package in dict.fromkeys(p for p, _, _ in rates):
        values = [r for p, r, _ in rates if p == package]
        changed = next(c for p, _, c in rates if p == package)
        print(f"  {package}, {changed / 1e6:.1f} MB of changed files over the series: "
              f"{figures(values, 's per GB')}")
    print("\n".join(phases.summary()))


def figures(values, unit):
    return f"min {min(values):.1f}, median {statistics.median(values):.1f}, max {max(values):.1f} {unit}"


def byte_list(text):
    return [publish_patch.byte_count(part) for part in text.split(",")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--averages", type=byte_list, default=[32 << 10, 64 << 10, 128 << 10, 256 << 10],
                        help="average chunk sizes to sweep (min = avg/4, max = avg*4)")
    parser.add_argument("--gaps", type=byte_list, default=[0, 16 << 10, 64 << 10, 256 << 10, 1 << 20],
                        help="request-merging gaps to sweep")
    parser.add_argument("--level", type=int, default=content_publish.DEFAULT_LEVEL,
                        help="zstd level of the figures at the default sizes (default 19, the publisher's)")
    parser.add_argument("--sweep-level", type=int, default=3,
                        help="zstd level of the sweep, every size alike (default 3: level 19 takes minutes a size)")
    parser.add_argument("--program", default=PROGRAM_PACKAGE, help="the program's Debian package")
    parser.add_argument("--reuse", action="store_true", help="keep the zip patches and content folders a run already published")
    parser.add_argument("--deltas", action="store_true", help="only the binary deltas' figures on real programs")
    parser.add_argument("--delta-programs", type=lambda t: t.split(","), default=list(DELTA_PROGRAMS),
                        help="Debian packages whose offered releases the delta figures use")
    parser.add_argument("--runs", type=int, default=3, help="publications of each series timed (--deltas)")
    args = parser.parse_args()
    os.nice(10)
    if args.deltas:
        return delta_main(args)
    phases = real_data.Phases()
    averages = sorted(set(args.averages) | {DEFAULT_AVERAGE})
    gaps = sorted(set(args.gaps) | {DEFAULT_GAP})
    first = phases.run("fetch the game data packages", fetch_game)
    program = phases.run(f"fetch two releases of {args.program}", fetch_program, args.program)
    game = phases.run("derive the game releases", derive_game, first)
    datasets = [("game", game)] + ([("program", program)] if program else [])
    zips = {name: phases.run(f"zip patches: {name}", publish_zips, releases, DATA / f"zip-{name}",
                             args.reuse)
            for name, releases in datasets}
    # The default sizes at the publisher's level first, while nothing is cut yet: its MB/s is
    # the publisher's whole work.
    runs = [(DEFAULT_AVERAGE, args.level)] + [(a, args.sweep_level) for a in averages
                                              if (a, args.sweep_level) != (DEFAULT_AVERAGE, args.level)]
    results = {}
    with ThreadPoolExecutor(os.cpu_count() or 1) as executor, cut_cache() as cuts:
        for average, level in runs:
            sizes = (average // 4, average, average * 4)
            for name, releases in datasets:
                out = DATA / f"content-{name}-{average >> 10}k-level{level}"
                published = phases.run(f"publish {name}, chunks {sizes}, level {level}", publish_content, releases,
                                       out, sizes, level, args.reuse, cuts)
                rows = phases.run(f"plan {name}, chunks {sizes}", measure, releases, out, zips[name], gaps,
                                  executor)
                results[(name, average, level)] = (published, rows)
    for name, _ in datasets:
        print_dataset(name, results[(name, DEFAULT_AVERAGE, args.level)], DEFAULT_GAP, args.level)
    print_sweep({(n, a): results[(n, a, args.sweep_level)] for n, _ in datasets for a in averages},
                [n for n, _ in datasets], averages, gaps, (DEFAULT_AVERAGE, DEFAULT_GAP), args.sweep_level)
    print("== content on real data: wall time per phase")
    print("\n".join(phases.summary()))


if __name__ == "__main__":
    main()
