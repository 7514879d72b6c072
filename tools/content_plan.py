"""What a player with a given client folder downloads to reach a content release: the chunks
it reuses, the range requests for the rest, and the files it deletes."""
import os
from pathlib import Path

import content_paths
import content_release
from content_publish import ContentError, RELEASES, cut_file

DEFAULT_GAP = 65536


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


def _file_entry(file, release, local, present):
    reused = [c for c in file.chunks if release.chunks[c].sha in present]
    fetched = [c for c in file.chunks if release.chunks[c].sha not in present]
    shas = [release.chunks[c].sha for c in file.chunks]
    if local.get(file.path) == shas:
        status = "unchanged"
    else:
        status = "rebuilt" if file.path in local else "new"
    return {"path": content_paths.display(file.path), "size": file.size, "status": status,
            "reused_chunks": len(reused), "reused_bytes": sum(release.chunks[c].raw for c in reused),
            "fetched_chunks": len(fetched), "fetched_bytes": sum(release.chunks[c].raw for c in fetched)}


def plan(client, patch_folder, version, executor, gap=DEFAULT_GAP, installed=None):
    """The plan as a dictionary (the --json output)."""
    release, manifest_bytes = load_release(patch_folder, version)
    local = local_chunks(client, release.sizes, executor)
    present = {sha for shas in local.values() for sha in shas}
    needed = sorted({c for f in release.files for c in f.chunks if release.chunks[c].sha not in present})
    by_pack = {}
    for c in needed:
        chunk = release.chunks[c]
        by_pack.setdefault(chunk.pack, []).append((chunk.offset, chunk.stored))
    request_list = [(content_release.pack_name(*release.packs[p][:2]), first, last)
                    for p in sorted(by_pack) for first, last in requests(by_pack[p], gap)]
    delete = []
    if installed is not None:
        before, _ = load_release(patch_folder, installed)
        # Windows names ignore letter case: a file that only changed case is not deleted.
        kept = {content_paths.lower_ascii(f.path) for f in release.files}
        delete = [content_paths.display(f.path) for f in before.files
                  if content_paths.lower_ascii(f.path) not in kept]
    return {
        "release": version, "installed": installed, "gap": gap,
        "chunk_sizes": list(release.sizes),
        "content_bytes": sum(f.size for f in release.files), "manifest_bytes": manifest_bytes,
        "files": [_file_entry(f, release, local, present) for f in release.files],
        "chunks": len(release.chunks), "needed_chunks": len(needed),
        "fetch_bytes": sum(last - first + 1 for _, first, last in request_list),
        "ideal_bytes": sum(release.chunks[c].stored for c in needed),
        "requests": len(request_list), "request_list": request_list,
        "packs_touched": sorted({name for name, _, _ in request_list}),
        "delete": delete,
    }


def describe(result):
    """The plan as lines of text."""
    lines = [f"content-plan: release {result['release']}, chunk sizes "
             + ",".join(map(str, result["chunk_sizes"]))]
    for f in result["files"]:
        if f["status"] == "unchanged":
            lines.append(f"  {f['path']}: unchanged")
        else:
            lines.append(f"  {f['path']}: {f['status']}, reuses {f['reused_chunks']} chunk(s) "
                         f"({f['reused_bytes']} bytes), fetches {f['fetched_chunks']} ({f['fetched_bytes']} bytes)")
    lines += [f"  delete {name}" for name in result["delete"]]
    unchanged = sum(1 for f in result["files"] if f["status"] == "unchanged")
    ratio = result["fetch_bytes"] / result["ideal_bytes"] if result["ideal_bytes"] else 1.0
    lines.append(f"content-plan: {len(result['files'])} file(s), {unchanged} unchanged, "
                 f"{len(result['delete'])} to delete; {result['needed_chunks']} of {result['chunks']} chunk(s) "
                 f"to fetch: {result['fetch_bytes']} bytes in {result['requests']} request(s) from "
                 f"{len(result['packs_touched'])} pack(s), ideal {result['ideal_bytes']} bytes ({ratio:.3f}x); "
                 f"manifest {result['manifest_bytes']} bytes")
    return lines
