"""Publishing content releases: chunks reused across releases, packs, refusals before anything is
written, verify, signing, the zip patch beside the release, and the player's plan."""
import json
import os
import zipfile
import random
import re
import shutil
import sys
from pathlib import Path

import pytest
import zstandard

from tool_support import run

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import content_plan  # noqa: E402
import content_publish  # noqa: E402
import content_release  # noqa: E402
import patch_signing  # noqa: E402
import publish_patch  # noqa: E402

# Chunks alone: what the publisher stores and the plan fetches without deltas (their own tests
# are in test_content_deltas.py).
FAST = ["--level", "3", "--launcher-version", "1.1.1.24", "--delta-releases", "0"]


def client(root, files):
    for name, data in files.items():
        path = root / os.fsdecode(name)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return root


def game_files(seed):
    """A client in the proportions of a game's: a few large archives (incompressible stretches,
    repeats, zero runs), some mid-sized files, a few small ones, an empty one."""
    rng = random.Random(seed)

    def archive(size):
        parts = []
        while sum(map(len, parts)) < size:
            parts.append(rng.choice([rng.randbytes(200000), bytes(50000), rng.choice(parts or [b"x"]) * 2]))
        return b"".join(parts)[:size]

    files = {f"Data/archive{i}.pak": archive(3 << 20) for i in range(3)}
    files.update({f"Data/Maps/map{i}.bin": archive(300000 + 50000 * i) for i in range(4)})
    files.update({"Game.exe": archive(900000), "readme.txt": b"Play fair.\n" * 300, "Data/empty.cfg": b"",
                  "Data/Sound/click.wav": rng.randbytes(20000), "patchnotes.txt": b"10001\n"})
    return files


def changed(files):
    """The next version: three bytes changed inside a large archive, a file added, one removed."""
    files = dict(files)
    middle = len(files["Data/archive1.pak"]) // 2
    files["Data/archive1.pak"] = files["Data/archive1.pak"][:middle] + b"NEW" + files["Data/archive1.pak"][middle + 3:]
    files["Data/Maps/map9.bin"] = b"fresh map" * 100
    del files["patchnotes.txt"]
    return files


@pytest.fixture(scope="module")
def published(tmp_path_factory):
    """A patch folder with release 10001, 10002 (the changed client) and 10003 (the same again)."""
    root = tmp_path_factory.mktemp("content")
    v1 = client(root / "v1", game_files(1))
    v2 = client(root / "v2", changed(game_files(1)))
    out = root / "patches"
    results = [run("content", "--new", new, "--version", version, "--out", out, *FAST)
               for new, version in ((v1, 10001), (v2, 10002), (v2, 10003))]
    for result in results:
        assert result.returncode == 0, result.stderr
    return {"root": root, "v1": v1, "v2": v2, "out": out, "stdout": [r.stdout for r in results]}


def release(out, version):
    return content_release.parse((out / f"Content/releases/{version}.release").read_bytes(), version)


def rebuilt(out, version):
    """{path: bytes} of a release, taken from its packs as a launcher would."""
    r, files = release(out, version), {}
    for f in r.files:
        data = b""
        for c in (r.chunks[i] for i in f.chunks):
            pack = out / "Content" / "packs" / content_release.pack_name(*r.packs[c.pack][:2])
            with pack.open("rb") as stream:
                stream.seek(c.offset)
                data += zstandard.ZstdDecompressor().decompress(stream.read(c.stored))
        files[f.path.decode()] = data
    return files


def test_each_release_stores_only_its_new_chunks(published):
    out = published["out"]
    packs = sorted(p.name for p in (out / "Content" / "packs").iterdir())
    assert packs == ["10001-0.pack", "10002-0.pack"]
    # Three changed bytes and a new small file: two or three new chunks, in one small pack.
    new = int(re.search(r"chunks (\d+) new", published["stdout"][1]).group(1))
    assert 2 <= new <= 3 and "1 pack(s) written" in published["stdout"][1], published["stdout"][1]
    assert (out / "Content/packs/10002-0.pack").stat().st_size < 300000
    assert "chunks 0 new" in published["stdout"][2] and "0 pack(s) written" in published["stdout"][2]
    lines = (out / "LauncherPatchInfo.txt").read_text().splitlines()
    assert lines[-3:] == ["10001", "10002", "10003"]
    for version, folder in ((10001, "v1"), (10002, "v2"), (10003, "v2")):
        expected = {p.relative_to(published[folder]).as_posix(): p.read_bytes()
                    for p in published[folder].rglob("*") if p.is_file()}
        assert rebuilt(out, version) == expected
    # The same client again differs only in its version field.
    two, three = [(out / f"Content/releases/{v}.release").read_bytes() for v in (10002, 10003)]
    assert two[:8] == three[:8] and two[12:] == three[12:]


def test_the_manifest_is_small_and_canonical(published, tmp_path):
    out, v1 = published["out"], published["v1"]
    content = sum(p.stat().st_size for p in v1.rglob("*") if p.is_file())
    size = (out / "Content/releases/10001.release").stat().st_size
    assert size <= content / 1000, (size, content)
    print(f"manifest {size} bytes for {content} bytes of content: {100 * size / content:.3f}%")
    match = re.search(r"manifest (\d+) bytes \(([0-9.]+)% of the content\)", published["stdout"][0])
    assert int(match.group(1)) == size
    again = tmp_path / "again"
    assert run("content", "--new", v1, "--version", 10001, "--out", again, *FAST).returncode == 0
    for name in ("Content/releases/10001.release", "Content/packs/10001-0.pack"):
        assert (again / name).read_bytes() == (out / name).read_bytes()


def test_a_published_version_or_an_older_one_is_refused(published):
    out = published["out"]
    before = sorted(out.rglob("*"))
    for version, message in ((10003, "not above"), (10002, "not above"), (20001, "series")):
        result = run("content", "--new", published["v2"], "--version", version, "--out", out, *FAST)
        assert result.returncode == 1 and message in result.stderr
    assert sorted(out.rglob("*")) == before


def files_of(result):
    return {f["path"]: f for f in result["files"]}


def test_the_plan_from_nothing_the_old_version_and_the_same_version(published, tmp_path):
    out, v1, v2 = published["out"], published["v1"], published["v2"]
    empty = tmp_path / "empty"
    empty.mkdir()
    result = run("content-plan", "--from", empty, "--to", 10001, out, "--json")
    assert result.returncode == 0, result.stderr
    everything = json.loads(result.stdout)
    pack = (out / "Content/packs/10001-0.pack").stat().st_size
    assert everything["fetch_bytes"] == everything["ideal_bytes"] == pack
    assert everything["requests"] == 1 and everything["needed_chunks"] == everything["chunks"]
    assert {f["status"] for f in everything["files"]} == {"new"}

    step = json.loads(run("content-plan", "--from", v1, "--to", 10002, out, "--installed", 10001, "--json").stdout)
    assert step["fetch_bytes"] == step["ideal_bytes"] == (out / "Content/packs/10002-0.pack").stat().st_size
    assert step["packs_touched"] == ["10002-0.pack"] and step["requests"] == 1
    assert step["delete"] == ["patchnotes.txt"]
    entries = files_of(step)
    assert entries["Data/archive1.pak"]["status"] == "rebuilt" and entries["Data/archive1.pak"]["fetched_chunks"] >= 1
    assert entries["Data/Maps/map9.bin"]["status"] == "new" and entries["Game.exe"]["status"] == "unchanged"

    same = json.loads(run("content-plan", "--from", v2, "--to", 10003, out, "--json").stdout)
    assert same["fetch_bytes"] == same["requests"] == 0 and same["packs_touched"] == []
    text = run("content-plan", "--from", v1, "--to", 10002, out).stdout
    assert "Data/archive1.pak: rebuilt" in text and f"{step['fetch_bytes']} bytes in 1 request(s)" in text


@pytest.mark.parametrize("chunks,gap,expected", [
    ([], 65536, []),
    ([(0, 10)], 65536, [(0, 9)]),
    ([(0, 10), (10, 5)], 0, [(0, 14)]),                    # adjacent: one request even without a gap
    ([(0, 10), (11, 5)], 0, [(0, 9), (11, 15)]),
    ([(0, 10), (20, 5)], 10, [(0, 24)]),                   # exactly the gap between them: one request
    ([(0, 10), (21, 5)], 10, [(0, 9), (21, 25)]),
    ([(100, 10), (0, 10), (50, 10)], 40, [(0, 109)]),      # in offset order, whatever the order given
    ([(0, 100), (65636, 1), (131174, 2)], 65536, [(0, 65636), (131174, 131175)]),
])
def test_needed_chunks_merge_into_requests_over_gaps(chunks, gap, expected):
    assert content_plan.requests(chunks, gap) == expected


def test_verify_checks_releases_and_packs(published, tmp_path):
    out = tmp_path / "copy"
    shutil.copytree(published["out"], out)
    assert run("verify", out).returncode == 0
    pack = out / "Content/packs/10001-0.pack"
    data = bytearray(pack.read_bytes())
    data[len(data) // 2] ^= 0x01
    pack.write_bytes(bytes(data))
    result = run("verify", out)
    assert result.returncode == 1 and "10001-0.pack: the chunk at" in result.stderr
    (out / "Content/packs/10002-0.pack").unlink()
    (out / "Content/packs/stray.pack").write_bytes(b"x")
    result = run("verify", out)
    assert "Content/packs/10002-0.pack: missing" in result.stderr and "stray.pack: no release names it" in result.stderr
    release_path = out / "Content/releases/10003.release"
    release_path.write_bytes(release_path.read_bytes()[:-1])
    result = run("verify", out)
    assert "10003.release: " in result.stderr and "newest [PLAYER] version 10003 has no" in result.stderr


@pytest.fixture
def keys(tmp_path):
    private, public = tmp_path / "signing.key", tmp_path / "signing.pub"
    patch_signing.keygen(private, public)
    return private, public


def test_signed_with_the_zip_patch_of_the_same_step(tmp_path, keys):
    private, public = keys
    v1 = client(tmp_path / "v1", {"Game.exe": b"MZ one" * 1000, "Data/a.bin": b"a" * 70000, "old.txt": b"o"})
    v2 = client(tmp_path / "v2", {"Game.exe": b"MZ two" * 1000, "Data/a.bin": b"a" * 70000})
    out = tmp_path / "patches"
    first = run("content", "--new", v1, "--version", 10001, "--out", out, *FAST, "--sign-key", private)
    assert first.returncode == 0 and "names no zip patch" in first.stderr
    second = run("content", "--old", v1, "--new", v2, "--version", 10002, "--out", out, *FAST,
                 "--sign-key", private, "--expires", "30d")
    assert second.returncode == 0, second.stderr
    assert "old.txt was removed" in second.stderr and "names no zip patch" not in second.stderr
    assert (out / "LauncherPatchInfo.txt").read_text().splitlines()[-2:] == ["10001", "10002 patch_10002.zip"]
    with zipfile.ZipFile(out / "Player/patch_10002.zip") as z:
        assert z.namelist() == ["Game.exe"]
    listed = patch_signing.read_manifest(out)[2]
    assert {b"Content/releases/10001.release", b"Content/releases/10002.release", b"Content/packs/10001-0.pack",
            b"Content/packs/10002-0.pack", b"Player/patch_10002.zip", b"LauncherPatchInfo.txt"} == set(listed)
    assert run("verify", out, "--public-key", public).returncode == 0


BAD_CLIENTS = {
    "device name": ({b"Data/nul.txt": b"x"}, "Data/nul.txt"),
    "reserved character": ({b"a|b.txt": b"x"}, "a|b.txt"),
    "folder ending in a dot": ({b"maps./a.bin": b"x"}, "maps./a.bin"),
    "backslash": ({b"Data\\a.bin": b"x"}, "backslash"),
    "launcher's settings": ({b"config": b"x"}, "config"),
    "launcher's file in capitals": ({b"UPDATE.dat": b"x"}, "UPDATE.dat"),
    "content state": ({b"content.state/x": b"x"}, "content.state/x"),
    "equal ignoring case": ({b"Data/A.bin": b"1", b"data/a.bin": b"2"}, "only in letter case"),
    "file beside a folder": ({b"lib": b"1", b"LIB/x.dll": b"2"}, "folder of"),
    "path too long": ({b"dir/" * 63 + b"abcd": b"x"}, "256 bytes long"),
    "equal folded beyond ASCII": ({"übung/Ärger.pk3".encode(): b"1", "Übung/ärger.pk3".encode(): b"2"},
                                  "übung/Ärger.pk3: differs from Übung/ärger.pk3 only in letter case"),
    "file beside a folder folded": ({"ö".encode(): b"1", "Ö/x".encode(): b"2"}, "ö: is a file, and a folder of Ö/x"),
    "8.3 alias": ({b"DATAFI~1/x": b"x"}, "DATAFI~1/x: has a component shaped like an 8.3 alias"),
    "the Updater": ({b"UPDATER.exe": b"MZ"}, "UPDATER.exe: names one of the launcher's own programs"),
}


@pytest.mark.parametrize("case", BAD_CLIENTS)
def test_a_client_that_cannot_be_published_is_refused_before_anything_is_written(tmp_path, case):
    files, message = BAD_CLIENTS[case]
    new = client(tmp_path / "new", {b"Game.exe": b"MZ", **files})
    out = tmp_path / "patches"
    result = run("content", "--new", new, "--version", 10001, "--out", out, *FAST)
    assert result.returncode == 1 and "cannot publish" in result.stderr and message in result.stderr
    assert not out.exists()


def test_branded_program_names_are_refused_folded_and_others_pass(tmp_path):
    new = client(tmp_path / "new", {b"Game.exe": b"MZ", "Brevanta Start.EXE".encode(): b"MZ"})
    out = tmp_path / "patches"
    result = run("content", "--new", new, "--version", 10001, "--out", out, *FAST,
                 "--program-name", "Other.exe", "--program-name", "brevanta start.exe")
    assert result.returncode == 1 and "Brevanta Start.EXE: names one of the launcher's own programs" in result.stderr
    assert not out.exists()
    result = run("content", "--new", new, "--version", 10001, "--out", out, *FAST, "--program-name", "Other.exe")
    assert result.returncode == 0, result.stderr


def test_options_links_and_bounds_are_refused_before_anything_is_written(tmp_path, monkeypatch):
    new = client(tmp_path / "new", {"Game.exe": b"MZ", "Data/a.bin": b"a"})
    out = tmp_path / "patches"
    for options, message in ((["--chunk-sizes", "1K,3K,16K"], "power of two"),
                             (["--chunk-sizes", "512,4K,16K"], "1024 <= min"),
                             (["--pack-limit", "64K"], "largest frame"), (["--level", "23"], "levels")):
        result = run("content", "--new", new, "--version", 10001, "--out", out, *FAST, *options)
        assert result.returncode == 1 and message in result.stderr
    (tmp_path / "nothing").mkdir()
    result = run("content", "--new", tmp_path / "nothing", "--version", 10001, "--out", out, *FAST)
    assert result.returncode == 1 and "holds no file" in result.stderr
    os.symlink("Game.exe", new / "link.exe")
    result = run("content", "--new", new, "--version", 10001, "--out", out, *FAST)
    assert result.returncode == 1 and "link.exe: is not a regular file" in result.stderr
    (new / "link.exe").unlink()
    result = run("content", "--new", new, "--version", 2 ** 31, "--out", out, *FAST)
    assert result.returncode == 1 and "largest release" in result.stderr
    monkeypatch.setattr(patch_signing, "MAX_FILES", 2)  # not the patch information, a pack and a release
    with pytest.raises(publish_patch.PublishError, match="signed manifest lists at most 2"):
        publish_patch.publish_content(new, 10001, out, level=3, launcher="1.1.1.24", signed=True)
    monkeypatch.setattr(content_release, "MAX_FILES", 1)
    with pytest.raises(content_publish.ContentError, match="2 files; a release holds at most 1"):
        publish_patch.publish_content(new, 10001, out, level=3, launcher="1.1.1.24")
    assert not out.exists()


def test_an_interrupted_publication_leaves_nothing_announced(tmp_path, monkeypatch):
    v1 = client(tmp_path / "v1", {"a.bin": random.Random(5).randbytes(400000)})
    out = tmp_path / "patches"
    publish_patch.publish_content(v1, 10001, out, level=3, launcher="1.1.1.24", sizes=(1024, 4096, 16384),
                                  pack_limit=40000)
    v2 = client(tmp_path / "v2", {"a.bin": random.Random(6).randbytes(400000)})
    before = {p: p.read_bytes() for p in out.rglob("*") if p.is_file()}
    calls = []

    def failing(data, level):
        calls.append(1)
        if len(calls) > 30:  # past the first packs of 40000 bytes
            raise OSError("disk full")
        return real(data, level)
    real = content_publish.compress
    monkeypatch.setattr(content_publish, "compress", failing)
    with pytest.raises(OSError, match="disk full"):
        publish_patch.publish_content(v2, 10002, out, level=3, sizes=(1024, 4096, 16384), pack_limit=40000)
    assert {p: p.read_bytes() for p in out.rglob("*") if p.is_file()} == before
    # A pack of the version left from elsewhere is never overwritten.
    (out / "Content/packs/10002-0.pack").write_bytes(b"left")
    monkeypatch.setattr(content_publish, "compress", real)
    with pytest.raises(content_publish.ContentError, match="interrupted"):
        publish_patch.publish_content(v2, 10002, out, level=3, sizes=(1024, 4096, 16384), pack_limit=40000)
    (out / "Content/packs/10002-0.pack").unlink()
    publish_patch.publish_content(v2, 10002, out, level=3, sizes=(1024, 4096, 16384), pack_limit=40000)
    r = release(out, 10002)
    # Bounded packs, numbered from 0, filled in the order the chunks are used.
    assert all(size <= 40000 for _, _, size in r.packs) and len([p for p in r.packs if p[0] == 10002]) > 5
    assert [p[1] for p in r.packs if p[0] == 10002] == list(range(len([p for p in r.packs if p[0] == 10002])))
    order = [(r.packs[r.chunks[c].pack][:2], r.chunks[c].offset) for c in r.files[0].chunks]
    assert order == sorted(order)
