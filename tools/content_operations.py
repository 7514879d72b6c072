"""Release operations on a patch folder's content: a rollback that republishes an earlier
release's content under a new version, and the pruning of packs no kept release needs."""
import os
import time
from pathlib import Path

import content_release
import content_release_delta
from content_plan import _pack_requests, load_release
from content_publish import PACK_NAME, PACKS, RELEASE_NAME, RELEASES, ContentError, published

DAY = 86400


def releases(out):
    """{version: (Release, path)} of every release manifest in the folder."""
    found = {}
    folder = Path(out) / RELEASES
    for path in sorted(folder.glob("*.release")) if folder.is_dir() else []:
        match = RELEASE_NAME.fullmatch(path.name)
        if not match:
            raise ContentError(f"{path}: not a release file (<version>.release)")
        found[int(match.group(1))] = (load_release(out, int(match.group(1)))[0], path)
    return found


def rollback_release(out, to, version):
    """The release version listing release to's files and chunks, where a publication of the
    same client would place them (the first release that stored each chunk), without deltas:
    its chunks are all stored already, so no pack is written."""
    if not 1 <= version <= content_release.MAX_VERSION:
        raise ContentError(f"version {version} is not 1 to {content_release.MAX_VERSION}")
    old, _ = load_release(out, to)
    locations, pack_sizes = published(out, version)
    files = [(f.path, f.size, [old.chunks[c].sha for c in f.chunks]) for f in old.files]
    return content_release.build(version, old.sizes, files, locations, pack_sizes)


def write_release(out, release):
    """Writes Content/releases/<V>.release as .part renamed; returns its size."""
    data = content_release.encode(release)
    target = Path(out) / RELEASES / f"{release.version}.release"
    part = target.with_name(target.name + ".part")
    with open(part, "xb") as stream:
        stream.write(data)
    if target.exists():
        part.unlink()
        raise ContentError(f"{target} exists; a published release never changes")
    os.replace(part, target)
    return len(data)


def fetch_between(installed, target, gap):
    """What a player holding release installed's files fetches to reach release target: the
    chunks of target that installed does not list, as the plan requests them."""
    present = {c.sha for c in installed.chunks}
    needed = {i for f in target.files for i in f.chunks if target.chunks[i].sha not in present}
    request_list = _pack_requests(target, needed, gap)
    return {"needed_chunks": len(needed), "ideal_bytes": sum(target.chunks[i].stored for i in needed),
            "fetch_bytes": sum(last - first + 1 for _, first, last in request_list),
            "requests": len(request_list), "packs_touched": sorted({name for name, _, _ in request_list})}


def _live_bytes(kept, key):
    """Bytes of pack key that the kept releases' chunks and deltas use."""
    spans = set()
    for release in kept:
        index = {p[:2]: i for i, p in enumerate(release.packs)}.get(key)
        if index is None:
            continue
        spans |= {(c.offset, c.stored) for c in release.chunks if c.pack == index}
        spans |= {(d[5], d[6]) for d in release.deltas if d[4] == index}
    return sum(stored for _, stored in spans)


def kept_versions(found, keep, lines):
    """(kept, the oldest kept of each line) with lines {name: [PLAYER] versions in order, held
    back release first when a rollout is under way}: the newest keep releases of every line,
    and the release a rollout holds installs on."""
    if keep < 1:
        raise ContentError(f"--keep {keep}: the newest release is always kept")
    kept, oldest = set(), {}
    for name, (announced, held) in lines.items():
        published = sorted(v for v in set(announced) if v in found)
        mine = published[-keep:] + ([held] if held in found else [])
        kept |= set(mine)
        if mine:
            oldest[name] = min(mine)
    return sorted(kept), oldest


def prune_plan(out, keep, lines):
    """(every release, kept versions, pruned versions, {pack key: size} of the packs to remove,
    {pack key: size} of the packs kept, {line: its oldest kept version}) of the folder whose
    channels announce lines (kept_versions)."""
    found = releases(out)
    if not found:
        raise ContentError(f"{Path(out) / RELEASES} holds no release")
    announced = {v for versions, _ in lines.values() for v in versions}
    # A release past a line's newest that no line announces yet may be a publication under way.
    newest = min((max(versions) for versions, _ in lines.values() if versions), default=0)
    late = [v for v in sorted(found) if v not in announced and v > newest]
    if late:
        raise ContentError(f"release {late[0]} is not announced in any channel's [PLAYER]: publish or remove it "
                           "before pruning")
    kept, oldest = kept_versions(found, keep, lines)
    pruned = [v for v in sorted(found) if v not in kept]
    used = {p[:2]: p[2] for v in kept for p in found[v][0].packs}
    gone = {}
    folder = Path(out) / PACKS
    for path in sorted(folder.iterdir()) if folder.is_dir() else []:
        match = PACK_NAME.fullmatch(path.name)
        if match and (int(match[1]), int(match[2])) not in used:
            gone[(int(match[1]), int(match[2]))] = path.stat().st_size
    return found, kept, pruned, gone, used, oldest


def prune(out, keep, grace_days, lines, now=None):
    """Removes the packs no kept release (the newest keep of every channel's line) names, and
    the manifests of the other releases, once each line's oldest kept release was published
    grace_days ago (its manifest's last-write time: published files never change). Every
    player who could still be fetching such a pack was updating to a release that one
    superseded, so the grace is the longest an update may take after a newer release came out.
    Before that nothing is removed. Returns a summary dictionary."""
    now = time.time() if now is None else now
    found, kept, pruned, gone, used, oldest = prune_plan(out, keep, lines)
    clock = max(found[v][1].stat().st_mtime for v in oldest.values())
    due = clock + grace_days * DAY
    ready = now >= due
    result = {"kept": kept, "pruned": pruned, "packs_unused": [content_release.pack_name(*k) for k in sorted(gone)],
              "unused_bytes": sum(gone.values()), "removed": ready, "due": int(due),
              "freed_bytes": 0, "removed_files": []}
    if ready:
        # Manifests first: an interrupted run never leaves a release naming a missing pack.
        for version in pruned:
            path = found[version][1]
            result["freed_bytes"] += path.stat().st_size
            path.unlink()
            result["removed_files"].append(path.relative_to(out).as_posix())
        # A manifest delta from or to a removed release serves no kept one.
        for path in sorted((Path(out) / content_release_delta.DELTAS).glob("*.delta")):
            match = content_release_delta.DELTA_NAME.fullmatch(path.name)
            if match and not {int(match[1]), int(match[2])} <= set(kept):
                result["freed_bytes"] += path.stat().st_size
                path.unlink()
                result["removed_files"].append(path.relative_to(out).as_posix())
        for key, size in sorted(gone.items()):
            path = Path(out) / PACKS / content_release.pack_name(*key)
            path.unlink()
            result["freed_bytes"] += size
            result["removed_files"].append(path.relative_to(out).as_posix())
    live = [found[v][0] for v in kept]
    result["dead_bytes_in_kept_packs"] = sum(size - _live_bytes(live, key) for key, size in used.items())
    return result
