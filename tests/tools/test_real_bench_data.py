"""The real-data benchmark's own steps that can go wrong unseen: an archive rebuilt with a few
entries changed keeps every other entry's bytes, a derived release never writes through a hard
link into the one before, and a client tree leaves out what a release cannot hold."""
import io
import os
import random
import sys
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
import archive_rewrite  # noqa: E402
import game_series  # noqa: E402
import real_data  # noqa: E402


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek back in, so it writes data descriptors after the data."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def entries(seed, count=6):
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefgh") for _ in range(5)) for _ in range(50)]
    out = {}
    for i in range(count):
        if i % 2:
            data = rng.randbytes(40000 + i * 1000)
        else:
            data = b" ".join(rng.choice(words) for _ in range(9000 + i * 100))
        out[f"textures/t{i}.{'jpg' if i % 2 else 'tga'}"] = data
    return out


def write_zip(path, files, streamed=False, comment=b""):
    path.parent.mkdir(parents=True, exist_ok=True)
    target = Unseekable() if streamed else open(path, "wb")
    with zipfile.ZipFile(target, "w") as z:
        for i, (name, data) in enumerate(files.items()):
            method = zipfile.ZIP_STORED if i % 3 == 1 else zipfile.ZIP_DEFLATED
            z.writestr(zipfile.ZipInfo(name, (2020, 5, 6, 7, 8, 10)), data, compress_type=method, compresslevel=9)
        z.comment = comment
    if streamed:
        path.write_bytes(bytes(target.data))
    else:
        target.close()
    return path


def raw_entries(path):
    found, _ = archive_rewrite.read_entries(path)
    with open(path, "rb") as stream:
        return {e.name: archive_rewrite.raw_entry(stream, e) for e in found}


@pytest.mark.parametrize("streamed", [False, True], ids=["sizes in headers", "data descriptors"])
def test_rewrite_keeps_every_other_entry_byte_for_byte(tmp_path, streamed):
    files = entries(1)
    source = write_zip(tmp_path / "pak0.pk3", files, streamed, comment=b"built by hand")
    names = list(files)
    replaced = {names[0].encode(): b"new texture " * 5000, names[1].encode(): b"stored again " * 4000}
    added = [(b"maps/new.bsp", b"a new map " * 3000)]
    archive_rewrite.rewrite(source, tmp_path / "pak0-new.pk3", replaced, added)

    before, after = raw_entries(source), raw_entries(tmp_path / "pak0-new.pk3")
    assert list(after) == [n.encode() for n in names] + [b"maps/new.bsp"]
    for name in names[2:]:
        assert after[name.encode()] == before[name.encode()]
    for name in names[:2]:
        assert after[name.encode()] != before[name.encode()]
    with zipfile.ZipFile(tmp_path / "pak0-new.pk3") as z:
        assert z.testzip() is None
        assert z.comment == b"built by hand"
        assert z.read(names[0]) == replaced[names[0].encode()]
        assert z.getinfo(names[1]).compress_type == zipfile.ZIP_STORED
        assert z.getinfo(names[0]).date_time == (2020, 5, 6, 7, 8, 10)
        assert z.read("maps/new.bsp") == added[0][1]
        assert all(z.read(n) == files[n] for n in names[2:])


def test_rewrite_refuses_a_missing_or_existing_name(tmp_path):
    source = write_zip(tmp_path / "a.pk3", entries(2, 2))
    with pytest.raises(archive_rewrite.ArchiveError):
        archive_rewrite.rewrite(source, tmp_path / "b.pk3", {b"nothing/here.tga": b"x"}, [])
    with pytest.raises(archive_rewrite.ArchiveError):
        archive_rewrite.rewrite(source, tmp_path / "b.pk3", {}, [(b"textures/t0.tga", b"x")])
    assert not (tmp_path / "b.pk3").exists()


def test_a_derived_release_never_writes_into_the_one_before(tmp_path):
    first = tmp_path / "10001"
    write_zip(first / "baseoa" / "pak0.pk3", entries(3))
    write_zip(first / "baseoa" / "pak1.pk3", entries(4))
    (first / "gui").mkdir()
    for i in range(3):
        (first / "gui" / f"icon{i}.png").write_bytes(random.Random(i).randbytes(5000))
    snapshot = {p: p.read_bytes() for p in first.rglob("*") if p.is_file()}
    step = game_series.Step(10002, (game_series.ArchiveChange("baseoa/pak0.pk3", 2, 1),), loose=1)

    lines = game_series.derive(first, tmp_path / "10002", step)
    assert {p: p.read_bytes() for p in first.rglob("*") if p.is_file()} == snapshot
    second = {p.relative_to(tmp_path / "10002"): p for p in (tmp_path / "10002").rglob("*") if p.is_file()}
    changed = {n for n, p in second.items() if not os.path.samefile(p, first / n)}
    assert Path("baseoa/pak0.pk3") in changed and Path("baseoa/pak1.pk3") not in changed
    assert len(changed) == 2 and len(second) == len(snapshot)
    with zipfile.ZipFile(second[Path("baseoa/pak0.pk3")]) as z:
        assert z.testzip() is None and len(z.namelist()) == 7

    # The same step from the same folder makes the same bytes; a made release is kept as it is.
    again = game_series.derive(first, tmp_path / "again", step)
    assert again == lines
    assert all((tmp_path / "again" / n).read_bytes() == p.read_bytes() for n, p in second.items())
    assert game_series.derive(first, tmp_path / "10002", step) == lines


def test_client_tree_leaves_out_what_a_release_cannot_hold(tmp_path):
    source = tmp_path / "unpacked"
    for name in ("usr/lib/prog/libmain.so", "usr/share/a:b.txt", "usr/share/Read.me", "usr/share/read.me"):
        (source / name).parent.mkdir(parents=True, exist_ok=True)
        (source / name).write_bytes(name.encode())
    (source / "usr/lib/prog/libmain.so.1").symlink_to("libmain.so")
    files, size, left = real_data.client_tree([source], tmp_path / "client")
    # Of two names that differ only in letter case, the first in byte order is kept.
    assert files == 2 and size == len(b"usr/lib/prog/libmain.so") + len(b"usr/share/Read.me")
    assert sorted(p for p, _ in left) == ["usr/lib/prog/libmain.so.1", "usr/share/a:b.txt", "usr/share/read.me"]
    assert os.path.samefile(tmp_path / "client/usr/lib/prog/libmain.so", source / "usr/lib/prog/libmain.so")
    assert not list((tmp_path / "client").glob(".*"))
    assert real_data.client_tree([source], tmp_path / "client") == (files, size, [tuple(x) for x in left])
