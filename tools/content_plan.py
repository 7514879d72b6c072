"""What a player with a given client folder downloads to reach a content release: the chunks
it reuses, the range requests for the rest, and the files it deletes."""
import hashlib
import os
from pathlib import Path

import content_paths
import content_release
from content_publish import ContentError, RELEASES, cut_file

DEFAULT_GAP = 65536
# The raw bytes a launcher saves in memory at most (kContentSaveBound of src/content_plan).
SAVE_BOUND = 64 << 20


def load_release(patch_folder, version):
    path = Path(patch_folder) / RELEASES / f"{version}.release"
    try:
        data = path.read_bytes()
        return content_release.parse(data, version), len(data)
    except OSError as error:
        raise ContentError(f"{path}: {error.strerror}") from None
    except content_release.ReleaseError as error:
        raise ContentError(f"{path}: {error}") from None


def local_chunks(client, sizes, executor):
    """{path bytes: [sha, ...]} of every file below the client folder, cut with sizes."""
    client = Path(client)
    if not client.is_dir():
        raise ContentError(f"{client} is not a folder")
    found = {}
    for root, _, names in os.walk(client):
        for name in names:
            path = Path(root) / name
            if path.is_file():
                relative = os.fsencode(path.relative_to(client).as_posix())
                found[relative] = [sha for sha, _, _ in cut_file(path, sizes, executor)]
    return found


def requests(offsets, gap):
    """[(first byte, last byte)] of one pack's single-range requests for the needed chunks
    [(offset, stored size)]: a request runs on over a following chunk when at most gap
    bytes lie between them."""
    out = []
    for offset, stored in sorted(offsets):
        if out and offset - (out[-1][1] + 1) <= gap:
            out[-1][1] = max(out[-1][1], offset + stored - 1)
        else:
            out.append([offset, offset + stored - 1])
    return [tuple(r) for r in out]


def whole_hashes(client, paths):
    """{path bytes: SHA-256} of the files below client at paths (those that are there)."""
    found = {}
    for name in paths:
        path = Path(client) / os.fsdecode(name)
        if path.is_file():
            digest = hashlib.sha256()
            with open(path, "rb") as stream:
                for block in iter(lambda: stream.read(1 << 20), b""):
                    digest.update(block)
            found[name] = digest.digest()
    return found


def _pack_requests(release, needed, gap):
    by_pack = {}
    for c in needed:
        chunk = release.chunks[c]
        by_pack.setdefault(chunk.pack, []).append((chunk.offset, chunk.stored))
    return [(content_release.pack_name(*release.packs[p][:2]), first, last)
            for p in sorted(by_pack) for first, last in requests(by_pack[p], gap)]


def choose_deltas(release, needed, unchanged, bases, gap):
    """{file index: delta index} of the deltas the launcher takes, as it chooses them: per
    file to build whose local copy is a delta's base (bases: the flagged delta indices), the
    cheapest such delta when below the stored sizes of the chunks first fetched for that
    file; all dropped when they would not make the update's bytes smaller."""
    first_use = {}
    for index, f in enumerate(release.files):
        for c in f.chunks:
            if c in needed:
                first_use.setdefault(c, index)
    cost = {}
    for c, index in first_use.items():
        cost[index] = cost.get(index, 0) + release.chunks[c].stored
    best = {}
    for d in sorted(bases):
        file, stored = release.deltas[d][0], release.deltas[d][6]
        if file not in unchanged and (file not in best or stored < release.deltas[best[file]][6]):
            best[file] = d
    chosen = {f: d for f, d in best.items() if release.deltas[d][6] < cost.get(f, 0)}
    left = {c for c in needed if first_use[c] not in chosen}
    def total(chunks):
        return sum(last - first + 1 for _, first, last in _pack_requests(release, chunks, gap))
    if chosen and total(left) + sum(release.deltas[d][6] for d in chosen.values()) >= total(needed):
        return {}, needed, cost
    return chosen, left, cost


def _file_entry(file, release, local, needed):
    """local: {folded path: [sha, ...]}; needed: the chunks fetched (or delta'd) this run."""
    reused = [c for c in file.chunks if c not in needed]
    fetched = [c for c in file.chunks if c in needed]
    shas = [release.chunks[c].sha for c in file.chunks]
    folded = content_paths.fold(file.path)
    if local.get(folded) == shas:
        status = "unchanged"
    else:
        status = "rebuilt" if folded in local else "new"
    return {"path": content_paths.display(file.path), "size": file.size, "status": status,
            "reused_chunks": len(reused), "reused_bytes": sum(release.chunks[c].raw for c in reused),
            "fetched_chunks": len(fetched), "fetched_bytes": sum(release.chunks[c].raw for c in fetched)}


def installed_release(client):
    """The release the launcher's content.state in the folder names, or None."""
    try:
        head = (Path(client) / "content.state").read_bytes()[:12]
    except OSError:
        return None
    if len(head) < 12 or head[:8] != b"QORSTAT1":
        return None
    return int.from_bytes(head[8:12], "little") or None


def _kept_release(client, patch_folder, version):
    """The installed release's manifest as the launcher reads it: its kept copy in the folder,
    else the patch folder's; None when neither is there."""
    try:
        return content_release.parse((Path(client) / f"content.{version}.release").read_bytes(), version)
    except (OSError, content_release.ReleaseError):
        pass
    try:
        return load_release(patch_folder, version)[0]
    except ContentError:
        return None


def _folders(folded_paths):
    """Every folder the folded paths pass through."""
    return {"/".join(parts[:i]) for parts in (p.split("/") for p in folded_paths) for i in range(1, len(parts))}


def _in_the_way(index, folders, folded):
    """True when the old file at folded must go before the new files are made: a new path needs
    a folder where it is, or one of its folders is a new file's path."""
    return folded in folders or any(folder in index for folder in _folders([folded]))


def _readable_until(release, local, old, unchanged):
    """{sha: the last new file index whose build still reads it from a local file}: the launcher
    reads a local file only while it holds its old content, so a file rebuilt as new file n gives
    its chunks to files 0..n, a file left in place to all, and an old file deleted before
    building (one in the way of a new path) to none."""
    everything = len(release.files)
    index = {content_paths.fold(f.path): n for n, f in enumerate(release.files)}
    old_folds = {content_paths.fold(f.path) for f in old.files} if old else set()
    folders = _folders(index)
    until = {}
    for path, shas in local.items():
        folded = content_paths.fold(path)
        if folded in index:
            role = everything if index[folded] in unchanged else index[folded]
        elif folded in old_folds and _in_the_way(index, folders, folded):
            continue
        else:
            role = everything
        for sha in shas:
            until[sha] = max(until.get(sha, -1), role)
    return until


def _fetched_chunks(release, until, unchanged):
    """(fetched, saved) chunks, the launcher's rule in build order: a chunk is taken at its first
    use in a file to build, from a local file that still holds it then; else, when a file rebuilt
    earlier held it (two files trading contents), from memory, read before any file was replaced,
    while the saved raw bytes stay within SAVE_BOUND; else from its pack. Later uses copy it from
    the file of its first use."""
    seen, fetched, saved, saved_bytes = set(), set(), set(), 0
    for n, f in enumerate(release.files):
        if n in unchanged:
            continue
        for c in f.chunks:
            if c in seen:
                continue
            seen.add(c)
            chunk = release.chunks[c]
            readable = until.get(chunk.sha, -1)
            if readable >= n:
                continue
            if readable >= 0 and saved_bytes + chunk.raw <= SAVE_BOUND:
                saved.add(c)
                saved_bytes += chunk.raw
            else:
                fetched.add(c)
    return fetched, saved


def _manifest_fetch_bytes(client, patch_folder, version, base_release, manifest_bytes):
    """What the launcher fetches of the release manifest: the delta from the one the folder
    keeps when the store has it, else the whole manifest."""
    import content_release_delta
    if base_release is None or base_release == version or \
            not (Path(client) / f"content.{base_release}.release").is_file():
        return manifest_bytes
    delta = content_release_delta.delta_path(patch_folder, version, base_release)
    return delta.stat().st_size if delta.is_file() else manifest_bytes


def plan(client, patch_folder, version, executor, gap=DEFAULT_GAP, installed=None):
    """The plan as a dictionary (the --json output)."""
    release, manifest_bytes = load_release(patch_folder, version)
    base_release = installed if installed is not None else installed_release(client)
    old = _kept_release(client, patch_folder, base_release) if base_release else None
    # The launcher reads only the files at paths of the new release and of the installed one.
    wanted = {content_paths.fold(f.path) for f in release.files}
    wanted |= {content_paths.fold(f.path) for f in old.files} if old else set()
    local = {path: shas for path, shas in local_chunks(client, release.sizes, executor).items()
             if content_paths.fold(path) in wanted}
    by_fold = {content_paths.fold(path): shas for path, shas in local.items()}
    unchanged = {i for i, f in enumerate(release.files)
                 if by_fold.get(content_paths.fold(f.path)) == [release.chunks[c].sha for c in f.chunks]}
    needed, saved = _fetched_chunks(release, _readable_until(release, local, old, unchanged), unchanged)
    # A local file is a delta's base when the folder's installed release is the delta's base
    # release and the file's whole SHA-256 is the delta's base SHA-256: the launcher takes a
    # delta only against the release its state names, so a folder without one gets chunks.
    hashes = whole_hashes(client, {release.files[d[0]].path for d in release.deltas}) if base_release else {}
    bases = {i for i, d in enumerate(release.deltas)
             if d[1] == base_release and hashes.get(release.files[d[0]].path) == d[2]}
    chosen, fetched, cost = choose_deltas(release, needed, unchanged, bases, gap)
    request_list = _pack_requests(release, fetched, gap)
    delta_list = sorted((release.deltas[d][4], release.deltas[d][5], d) for d in chosen.values())
    delete = []
    if installed is not None:
        before, _ = load_release(patch_folder, installed)
        # Windows names ignore letter case: a file that only changed case is not deleted.
        kept = {content_paths.fold(f.path) for f in release.files}
        delete = [content_paths.display(f.path) for f in before.files
                  if content_paths.fold(f.path) not in kept]
    files = []
    for index, f in enumerate(release.files):
        entry = _file_entry(f, release, by_fold, needed)
        if index in unchanged:
            entry.update(road="whole", road_bytes=0)
        elif index in chosen:
            entry.update(road="delta", road_bytes=release.deltas[chosen[index]][6], delta=chosen[index],
                         base_release=release.deltas[chosen[index]][1])
        else:
            entry.update(road="chunks", road_bytes=cost.get(index, 0))
        files.append(entry)
    return {
        "release": version, "installed": installed, "gap": gap,
        "chunk_sizes": list(release.sizes),
        "content_bytes": sum(f.size for f in release.files), "manifest_bytes": manifest_bytes,
        "manifest_fetch_bytes": _manifest_fetch_bytes(client, patch_folder, version, base_release, manifest_bytes),
        "files": files,
        "chunks": len(release.chunks), "needed_chunks": len(fetched),
        "fetch_bytes": sum(last - first + 1 for _, first, last in request_list),
        "ideal_bytes": sum(release.chunks[c].stored for c in fetched),
        "requests": len(request_list), "request_list": request_list,
        "packs_touched": sorted({name for name, _, _ in request_list}),
        "fetch_bytes_without_deltas": sum(last - first + 1 for _, first, last in _pack_requests(release, needed, gap)),
        "delta_bytes": sum(release.deltas[d][6] for d in chosen.values()),
        "delta_requests": [(content_release.pack_name(*release.packs[pack][:2]), offset,
                            offset + release.deltas[d][6] - 1) for pack, offset, d in delta_list],
        "delete": delete,
        "saved_chunks": len(saved), "saved_bytes": sum(release.chunks[c].raw for c in saved),
    }


def describe(result):
    """The plan as lines of text."""
    lines = [f"content-plan: release {result['release']}, chunk sizes "
             + ",".join(map(str, result["chunk_sizes"]))]
    for f in result["files"]:
        if f["road"] == "whole":
            lines.append(f"  {f['path']}: unchanged")
        elif f["road"] == "delta":
            lines.append(f"  {f['path']}: {f['status']}, delta from release {f['base_release']}: "
                         f"{f['road_bytes']} bytes")
        else:
            lines.append(f"  {f['path']}: {f['status']}, chunks: {f['road_bytes']} bytes; reuses "
                         f"{f['reused_chunks']} chunk(s) ({f['reused_bytes']} bytes), lacks {f['fetched_chunks']} "
                         f"({f['fetched_bytes']} bytes)")
    lines += [f"  delete {name}" for name in result["delete"]]
    if result["saved_chunks"]:
        lines.append(f"  {result['saved_chunks']} chunk(s) ({result['saved_bytes']} bytes) read into memory before "
                     "any file is replaced: a file rebuilt earlier holds them")
    unchanged = sum(1 for f in result["files"] if f["status"] == "unchanged")
    ratio = result["fetch_bytes"] / result["ideal_bytes"] if result["ideal_bytes"] else 1.0
    lines.append(f"content-plan: {len(result['files'])} file(s), {unchanged} unchanged, "
                 f"{len(result['delete'])} to delete; {result['needed_chunks']} of {result['chunks']} chunk(s) "
                 f"to fetch: {result['fetch_bytes']} bytes in {result['requests']} request(s) from "
                 f"{len(result['packs_touched'])} pack(s), ideal {result['ideal_bytes']} bytes ({ratio:.3f}x); "
                 f"{len(result['delta_requests'])} delta(s): {result['delta_bytes']} bytes (chunks alone "
                 f"{result['fetch_bytes_without_deltas']} bytes); manifest {result['manifest_bytes']} bytes, "
                 f"{result['manifest_fetch_bytes']} fetched")
    return lines
