"""The content benchmark's tables: one data set at the chosen sizes, and the sweep of chunk
sizes and gaps with the choice its figures favour; and the cut cache the benchmark runs under."""
import contextlib
import os

import content_plan
import content_publish

# The link the choice is priced on (the emulated link benchmark's): requests go one after the
# other, so each costs a round trip on top of its bytes.
LINK_BYTES_PER_S = 50e6 / 8
ROUND_TRIP_S = 0.040
MANIFEST_GOAL = 0.001
# Figures closer than this are one choice: the link model is no finer.
NOISE = 0.005


@contextlib.contextmanager
def cut_cache():
    """The publisher's and planner's cut_file, remembered per (inode, size, time, sizes): the
    releases share unchanged files as hard links, which are then cut once per chunk size.
    Yields {"bytes": bytes really cut so far}."""
    original, known, cuts = content_publish.cut_file, {}, {"bytes": 0}

    def cut_file(path, sizes, executor):
        s = os.stat(path)
        key = (s.st_dev, s.st_ino, s.st_size, s.st_mtime_ns, tuple(sizes))
        if key not in known:
            known[key] = original(path, sizes, executor)
            cuts["bytes"] += s.st_size
        return known[key]
    content_publish.cut_file = content_plan.cut_file = cut_file
    try:
        yield cuts
    finally:
        content_publish.cut_file = content_plan.cut_file = original


def mb(n):
    return f"{n / 1e6:.2f} MB" if n >= 1e5 else f"{n / 1e3:.1f} kB"


def ratio(a, b):
    return f"{a / b:.4f}" if b else "-"


def downloaded(plan, figures):
    """What a content player downloads for one update: the chunks' requests and the manifest."""
    return figures["fetch_bytes"] + plan["manifest_bytes"]


def link_seconds(plan, figures):
    return downloaded(plan, figures) / LINK_BYTES_PER_S + (figures["requests"] + 1) * ROUND_TRIP_S


def print_published(published):
    for version, seconds, summary, cut in published or []:
        speed = f"{summary['bytes'] / 1e6 / seconds:.1f} MB/s" if cut == summary["bytes"] else \
            f"{cut / 1e6:.0f} MB of it cut anew, the rest cut before"
        print(f"  published {version}: {summary['files']} files, {mb(summary['bytes'])}; {summary['new_chunks']} "
              f"new chunks, {summary['reused_chunks']} reused; {summary['packs']} pack(s), {mb(summary['pack_bytes'])}; "
              f"manifest {summary['manifest_bytes']} bytes; {seconds:.1f} s, {speed}")
    if published is None:
        print("  (published by an earlier run: --reuse)")


def print_dataset(name, result, gap, level):
    published, rows = result
    print(f"== content on real data: {name}, chunk sizes {rows[0][1]['chunk_sizes']}, zstd level {level}, gap {gap}")
    print_published(published)
    print(f"  {'update':<20} {'chunks':>10} {'+manifest':>10} {'zip patches':>11} {'content/zip':>11} "
          f"{'chunks/zip':>10} {'ideal':>10} {'fetched/ideal':>13} {'requests':>8} {'packs+gaps':>10} {'manifest':>8}")
    for label, plan, zip_bytes, figures in rows:
        f = figures[gap]
        manifest = 100 * plan["manifest_bytes"] / plan["content_bytes"]
        print(f"  {label:<20} {mb(f['fetch_bytes']):>10} {mb(downloaded(plan, f)):>10} "
              f"{mb(zip_bytes) if zip_bytes else '-':>11} {ratio(downloaded(plan, f), zip_bytes):>11} "
              f"{ratio(f['fetch_bytes'], zip_bytes):>10} {mb(plan['ideal_bytes']):>10} "
              f"{ratio(f['fetch_bytes'], plan['ideal_bytes']):>13} {f['requests']:>8} "
              f"{f['packs'] + f['wide']:>10} {manifest:>7.3f}%")
        if f["requests"] > f["packs"] + f["wide"]:
            print(f"  !! {label}: {f['requests']} requests, more than {f['packs']} pack(s) + {f['wide']} wide gap(s)")
    print("  content = the chunks' requests + the release manifest (fetched whole on every update); "
          "requests count the chunks' only (the manifest is one more)")


def sweep_cells(result, gap):
    """The cells of one data set at one gap, and its link seconds and manifest share."""
    published, rows = result
    steps = [r for r in rows if r[2] and "skip" not in r[0]]
    skips = [r for r in rows if "skip" in r[0]]
    installs = [r for r in rows if r[2] is None]
    step_bytes = sum(downloaded(plan, f[gap]) for _, plan, _, f in steps)
    cells = [mb(step_bytes), ratio(step_bytes, sum(r[2] for r in steps)), str(sum(f[gap]["requests"] for *_, f in steps))]
    for _, plan, zip_bytes, f in skips:
        cells += [mb(downloaded(plan, f[gap])), ratio(downloaded(plan, f[gap]), zip_bytes), str(f[gap]["requests"])]
    for _, plan, _, f in installs:
        cells += [ratio(f[gap]["fetch_bytes"], plan["ideal_bytes"]), str(f[gap]["requests"])]
    plan = rows[-1][1]
    share = plan["manifest_bytes"] / plan["content_bytes"]
    cells.append(f"{100 * share:.3f}%")
    first = (published or [None])[0]
    cells.append(f"{first[2]['bytes'] / 1e6 / first[1]:.1f}" if first and first[3] == first[2]["bytes"] else "-")
    seconds = sum(link_seconds(plan, f[gap]) for _, plan, zip_bytes, f in rows if zip_bytes)
    install = sum(link_seconds(plan, f[gap]) for _, plan, zip_bytes, f in rows if not zip_bytes)
    return cells, (seconds, install), share


def favoured(scores, default):
    """The choice the figures favour, and why: the quickest updates (what every player fetches at
    every release), then the quickest installs; choices within NOISE of both are alike, and of
    those the default sizes, then the default gap, are kept rather than changed for nothing."""
    quickest = min(v[0] for v in scores.values())
    alike = {k: v for k, v in scores.items() if v[0] <= quickest * (1 + NOISE)}
    install = min(v[2] for v in alike.values())
    alike = {k: v for k, v in alike.items() if v[2] <= install * (1 + NOISE)}
    for key in (default, *sorted(k for k in alike if k[0] == default[0]), *sorted(k for k in alike if k[1] == default[1])):
        if key in alike:
            return key, f"{len(alike)} choice(s) within {100 * NOISE:.1f}% of the quickest; the default's kept where it is one"
    best = min(alike, key=lambda k: (alike[k][0], alike[k][2]))
    return best, f"the quickest of {len(alike)} within {100 * NOISE:.1f}%"


def print_sweep(results, names, averages, gaps, default, level):
    print(f"== content on real data: the sweep (min = avg/4, max = avg*4, zstd level {level}; content = chunks "
          "+ manifest)")
    head = ["avg", "gap"]
    for name in names:
        rows = results[(name, averages[0])][1]
        head += [f"{name} steps", "/zip", "req"]
        head += ["skip", "/zip", "req"] * sum(1 for r in rows if "skip" in r[0])
        head += ["install/ideal", "req"] * sum(1 for r in rows if r[2] is None)
        head += ["manifest", "pub MB/s"]
    head += ["updates s", "installs s"]
    table, scores = [head], {}
    for average in averages:
        for gap in gaps:
            line, seconds, install, worst = [f"{average >> 10}K", f"{gap >> 10}K"], 0.0, 0.0, 0.0
            for name in names:
                cells, (s, i), share = sweep_cells(results[(name, average)], gap)
                line += cells
                seconds, install, worst = seconds + s, install + i, max(worst, share)
            line += [f"{seconds:.2f}", f"{install:.1f}"]
            table.append(line)
            scores[(average, gap)] = (seconds, worst, install)
    widths = [max(len(line[i]) for line in table) for i in range(len(head))]
    for line in table:
        print("  " + " ".join(cell.rjust(width) for cell, width in zip(line, widths)))
    fit = {key: v for key, v in scores.items() if v[1] <= MANIFEST_GOAL}
    print(f"  'steps' adds up the one-step updates; 'updates s' is every update (the steps and the skip) and "
          f"'installs s' every install, fetched one request after another at {LINK_BYTES_PER_S * 8 / 1e6:.0f} "
          f"Mbit/s, {ROUND_TRIP_S * 1000:.0f} ms a round trip, manifest included")
    best, note = favoured(fit or scores, default)
    if not fit:
        note += f"; no choice keeps every manifest within {100 * MANIFEST_GOAL:.1f}%"
    print(f"  favoured: avg {best[0] >> 10} KiB, gap {best[1] >> 10} KiB, {scores[best][0]:.2f} s, manifest at most "
          f"{100 * scores[best][1]:.3f}% ({note}); the defaults (avg {default[0] >> 10} KiB, gap {default[1] >> 10} KiB): "
          f"{scores[default][0]:.2f} s, manifest at most {100 * scores[default][1]:.3f}%")
    print(f"  {'; '.join(f'avg {a >> 10}K gap {g >> 10}K {v[0]:.2f} s / {v[2]:.1f} s' for (a, g), v in sorted(scores.items(), key=lambda kv: kv[1][0])[:5])}: the five quickest updates, manifests aside")
