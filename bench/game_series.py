"""A series of game releases derived from one client folder: in each step a few entries of large
archives are replaced or added and a loose file or two edited; every other file of a release is
a hard link to the one before's, so nothing already made is ever written again."""
import os
import random
import shutil
from dataclasses import dataclass
from pathlib import Path

import archive_rewrite
import real_data

ENTRY_SIZES = (32 << 10, 4 << 20)   # entries worth changing: a texture, a model, a map
LOOSE_SIZES = (1 << 10, 2 << 20)
ARCHIVES = (".pk3", ".wz", ".zip")


@dataclass(frozen=True)
class ArchiveChange:
    path: str          # relative to the client folder
    replaced: int
    added: int = 0


@dataclass(frozen=True)
class Step:
    version: int
    archives: tuple    # ArchiveChange
    loose: int = 0     # loose files edited


def pick_entries(entries, count, rng):
    candidates = sorted(e.name for e in entries
                        if ENTRY_SIZES[0] <= e.size <= ENTRY_SIZES[1] and not e.name.endswith(b"/"))
    if len(candidates) < count:
        raise archive_rewrite.ArchiveError(f"only {len(candidates)} entries of {ENTRY_SIZES} bytes")
    return rng.sample(candidates, count)


def change_archive(source, target, change, version, rng):
    """Rewrites one archive; returns the names of the entries replaced and added."""
    entries, _ = archive_rewrite.read_entries(source)
    by_name = {e.name: e for e in entries}
    chosen = pick_entries(entries, change.replaced + change.added, rng)
    replaced, added = {}, []
    with open(source, "rb") as stream:
        for name in chosen[:change.replaced]:
            replaced[name] = archive_rewrite.edited(archive_rewrite.entry_content(stream, by_name[name]), rng)
        for i, name in enumerate(chosen[change.replaced:]):
            folder, _, base = name.rpartition(b"/")
            new_name = (folder + b"/" if folder else b"") + f"v{version}-{i}-".encode() + base
            added.append((new_name, archive_rewrite.fresh(archive_rewrite.entry_content(stream, by_name[name]), rng)))
    archive_rewrite.rewrite(source, target, replaced, added)
    return sorted(replaced), [name for name, _ in added]


def loose_files(folder):
    out = []
    for root, _, names in os.walk(folder):
        for name in names:
            path = Path(root) / name
            if path.suffix.lower() not in ARCHIVES and LOOSE_SIZES[0] <= path.stat().st_size <= LOOSE_SIZES[1]:
                out.append(path.relative_to(folder).as_posix())
    return sorted(out)


def link_tree(source, target):
    """target as hard links to every file of source."""
    for root, dirs, names in os.walk(source):
        dirs.sort()
        here = target / Path(root).relative_to(source)
        here.mkdir(parents=True, exist_ok=True)
        for name in names:
            os.link(Path(root) / name, here / name)


def replace_file(path, write):
    """Puts a new file in place of a hard link without touching the linked inode."""
    part = path.with_name(path.name + ".new")
    write(part)
    os.replace(part, path)


def derive(previous, folder, step, seed=18):
    """Makes release folder from previous by step, once; returns the lines that say what changed."""
    folder = Path(folder)
    record = real_data.record_of(folder)
    if record.exists():
        return record.read_text().splitlines()
    shutil.rmtree(folder, ignore_errors=True)
    rng = random.Random(seed * 100003 + step.version)
    link_tree(Path(previous), folder)
    lines = []
    for change in step.archives:
        path = folder / change.path
        names = []
        replace_file(path, lambda part: names.append(change_archive(path, part, change, step.version, rng)))
        replaced, added = names[0]
        lines.append(f"{change.path}: {len(replaced)} entries replaced, {len(added)} added "
                     f"({', '.join(n.decode(errors='replace') for n in replaced + added)})")
    for relative in rng.sample(loose_files(folder), step.loose):
        path = folder / relative
        data = archive_rewrite.edited(path.read_bytes(), rng)
        replace_file(path, lambda part: part.write_bytes(data))
        lines.append(f"{relative}: edited")
    record.write_text("\n".join(lines) + "\n")
    return lines
