"""The publisher's deltas: which files get one from which earlier releases, what the manifest
says of each, that each gives its file back from its base, and the player's plan choosing
between a delta and the chunks."""
import hashlib
import json
import os
import random
import shutil
import sys
from pathlib import Path

import pytest
import zstandard

from tool_support import run, tree

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import content_delta  # noqa: E402
import content_release  # noqa: E402

FAST = ["--level", "3", "--launcher-version", "1.1.1.24", "--chunk-sizes", "4K,16K,64K"]


def program(seed, size=300000):
    """A program-like file: code-ish bytes with repeats, so a rebuild's delta is small."""
    rng = random.Random(seed)
    words = [rng.randbytes(16) for _ in range(64)]
    return b"".join(rng.choice(words) for _ in range(size // 16))


def rebuilt(data, step, seed):
    """data rebuilt: a byte changed every step bytes (addresses moved) and a function added."""
    out = bytearray(data)
    for i in range(seed, len(out), step):
        out[i] ^= 0x5A
    return bytes(out[:len(out) // 3]) + random.Random(seed).randbytes(700) + bytes(out[len(out) // 3:])




@pytest.fixture(scope="module")
def series(tmp_path_factory):
    """Releases 1 to 4 of a client with a program rebuilt each time, a data file that stays, a
    file that becomes a copy of another (its chunks all known: no delta pays), a large file
    above the bound, and a file new in release 3; published with deltas from 2 releases back."""
    root = tmp_path_factory.mktemp("deltas")
    exe, big, added = program(1, 200000), program(2, 299600), random.Random(3).randbytes(9000)
    first_exe, versions, rare, files_2_rare = exe, {}, random.Random(4).randbytes(9000), None
    for version in range(1, 5):
        files = {"game.exe": exe, "data/same.dat": b"unchanging " * 2000, "data/big.bin": big,
                 "data/copy.bin": first_exe if version >= 2 else b"first " * 3000}
        if version >= 3:
            files["data/added.dat"] = added
        # The same in 2 and 3: one frame serves both.
        files["data/rare.bin"] = rare[:100 * version] + rare[100 * version + 1:] if version != 3 else files_2_rare
        files_2_rare = files["data/rare.bin"]
        versions[version] = tree(root / f"v{version}", files)
        exe, big = rebuilt(exe, 2000 + version, version), rebuilt(big, 3000, version)
        added = added[:4000] + bytes([version]) + added[4001:]
    out = root / "out"
    stdout = []
    for version, folder in versions.items():
        result = run("content", "--new", folder, "--version", version, "--out", out, "--delta-releases", 2,
                     "--delta-bound", 300000, *FAST)
        assert result.returncode == 0, result.stderr
        stdout.append(result.stdout)
    return {"out": out, "versions": versions, "stdout": stdout}


def release(out, version):
    return content_release.parse((out / f"Content/releases/{version}.release").read_bytes(), version)


def deltas_of(out, version):
    """{(path, base release): delta row} of a release."""
    r = release(out, version)
    return {(r.files[d[0]].path.decode(), d[1]): d for d in r.deltas}


def frame_of(out, r, row):
    pack = out / "Content/packs" / content_release.pack_name(*r.packs[row[4]][:2])
    with pack.open("rb") as stream:
        stream.seek(row[5])
        return stream.read(row[6])


def test_each_changed_file_gets_a_delta_from_each_of_the_last_releases(series):
    out = series["out"]
    assert deltas_of(out, 1) == {}
    # The program changed since 1 (release 2) and since 2 and 3 (release 4, not from 1: two
    # releases back); the copy's chunks are all in release 1 already (its delta would save
    # nothing); the big file is above the bound once rebuilt; added.dat did not exist in 2.
    assert sorted(deltas_of(out, 2)) == [("data/rare.bin", 1), ("game.exe", 1)]
    assert "deltas 2 kept of 3" in series["stdout"][1], series["stdout"][1]
    assert sorted(deltas_of(out, 3)) == [("data/rare.bin", 1), ("game.exe", 1), ("game.exe", 2)]
    four = deltas_of(out, 4)
    assert sorted(four) == [("data/added.dat", 3), ("data/rare.bin", 2), ("data/rare.bin", 3), ("game.exe", 2),
                            ("game.exe", 3)]
    # rare.bin was the same in 2 and 3: both rows name one frame.
    assert four[("data/rare.bin", 2)][4:8] == four[("data/rare.bin", 3)][4:8]
    assert four[("game.exe", 2)][5] != four[("game.exe", 3)][5]


def test_a_delta_names_its_base_and_gives_the_new_file_back(series):
    out, versions = series["out"], series["versions"]
    for version in (2, 3, 4):
        r = release(out, version)
        chunk_ends = {}
        for c in r.chunks:
            chunk_ends[c.pack] = max(chunk_ends.get(c.pack, 0), c.offset + c.stored)
        for (path, base_version), row in deltas_of(out, version).items():
            base = (versions[base_version] / path).read_bytes()
            new = (versions[version] / path).read_bytes()
            frame = frame_of(out, r, row)
            assert row[2] == hashlib.sha256(base).digest() and row[3] == len(base)
            assert row[7] == hashlib.sha256(frame).digest() and row[8] == 0
            if path == "data/rare.bin" and version == 3:
                # The same file as in 2: release 2's frame, not written again.
                before = release(out, 2)
                again = deltas_of(out, 2)[(path, base_version)]
                assert before.packs[again[4]][:2] == r.packs[row[4]][:2] and again[5:8] == row[5:8]
            else:
                # In this release's own packs, after its chunks.
                assert r.packs[row[4]][0] == version and row[5] >= chunk_ends.get(row[4], 0)
            parameters = zstandard.get_frame_parameters(frame)
            assert parameters.content_size == len(new) and not parameters.has_checksum and parameters.dict_id == 0
            prefix = zstandard.ZstdCompressionDict(base, dict_type=zstandard.DICT_TYPE_RAWCONTENT)
            log = content_delta.window_log(len(base), len(new))
            assert zstandard.ZstdDecompressor(dict_data=prefix, max_window_size=1 << log).decompress(frame) == new
            # The rebuilt program's delta is a small part of the chunks it replaces.
            if path == "game.exe":
                assert len(frame) < 0.35 * len(zstandard.ZstdCompressor(level=3).compress(new)), (path, len(frame))


def plan(out, client, version, installed):
    known = ["--installed", installed] if installed is not None else []
    result = run("content-plan", "--from", client, "--to", version, *known, out, "--json")
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def test_the_plan_takes_the_delta_of_the_installed_file_and_chunks_otherwise(series, tmp_path):
    out, versions = series["out"], series["versions"]
    step = plan(out, versions[3], 4, 3)
    files = {f["path"]: f for f in step["files"]}
    exe = files["game.exe"]
    row = deltas_of(out, 4)[("game.exe", 3)]
    assert exe["road"] == "delta" and exe["base_release"] == 3 and exe["road_bytes"] == row[6]
    assert files["data/same.dat"]["road"] == "whole" and files["data/big.bin"]["road"] == "chunks"
    pack = content_release.pack_name(4, 0)
    assert (pack, row[5], row[5] + row[6] - 1) in [tuple(d) for d in step["delta_requests"]]
    assert step["delta_bytes"] + step["fetch_bytes"] < step["fetch_bytes_without_deltas"]
    assert f"game.exe: rebuilt, delta from release 3: {row[6]} bytes" in \
        run("content-plan", "--from", versions[3], "--to", 4, "--installed", 3, out).stdout

    # A program edited by the player is no delta's base: the chunks, as many as without deltas.
    edited = tree(tmp_path / "edited", {p.relative_to(versions[3]).as_posix(): p.read_bytes()
                                         for p in versions[3].rglob("*") if p.is_file()})
    (edited / "game.exe").write_bytes((edited / "game.exe").read_bytes() + b"patched by hand")
    lost = {f["path"]: f for f in plan(out, edited, 4, 3)["files"]}
    assert lost["game.exe"]["road"] == "chunks" and lost["game.exe"]["road_bytes"] > 10 * row[6]
    assert lost["data/added.dat"]["road"] == "delta"

    # Two releases behind, the delta from 2 is the one that applies.
    skip = {f["path"]: f for f in plan(out, versions[2], 4, 2)["files"]}
    assert skip["game.exe"]["road"] == "delta" and skip["game.exe"]["base_release"] == 2
    # With no installed release known (no state, no --installed), the launcher takes no delta.
    unknown = {f["path"]: f for f in plan(out, versions[3], 4, None)["files"]}
    assert unknown["game.exe"]["road"] == "chunks"


@pytest.mark.parametrize("options,message", [
    (["--delta-releases", "17"], "--delta-releases 17: 0 to 16"),
    (["--delta-releases", "-1"], "--delta-releases -1"),
])
def test_delta_options_out_of_range_are_refused(tmp_path, options, message):
    client = tree(tmp_path / "c", {"a.bin": b"a" * 100})
    result = run("content", "--new", client, "--version", 1, "--out", tmp_path / "out", *options, *FAST)
    assert result.returncode == 1 and message in result.stderr
    assert not (tmp_path / "out" / "Content").exists()


def test_without_deltas_nothing_but_chunks_is_written(series, tmp_path):
    out = tmp_path / "out"
    for version in (1, 2):
        assert run("content", "--new", series["versions"][version], "--version", version, "--out", out,
                   "--delta-releases", 0, *FAST).returncode == 0
    assert release(out, 2).deltas == ()


def test_verify_checks_every_delta(series, tmp_path):
    out = tmp_path / "out"
    shutil.copytree(series["out"], out)
    assert run("verify", out).returncode == 0
    r = release(out, 4)
    row = deltas_of(out, 4)[("game.exe", 3)]
    pack = out / "Content/packs" / content_release.pack_name(*r.packs[row[4]][:2])
    data = bytearray(pack.read_bytes())
    data[row[5] + row[6] - 1] ^= 1
    pack.write_bytes(bytes(data))
    result = run("verify", out)
    assert result.returncode == 1 and "4.release: delta" in result.stdout + result.stderr, result.stdout


def test_a_rewritten_file_takes_no_delta_and_an_edited_one_does(tmp_path):
    # The fast pass finds that the base does not help the rewritten file: no slow pass, no delta.
    exe, noise = program(8), random.Random(8).randbytes(120000)
    out = tmp_path / "out"
    for version, files in ((1, {"game.exe": exe, "noise.bin": noise}),
                           (2, {"game.exe": rebuilt(exe, 2500, 2), "noise.bin": random.Random(9).randbytes(120000)})):
        result = run("content", "--new", tree(tmp_path / f"v{version}", files), "--version", version, "--out", out,
                     *FAST)
        assert result.returncode == 0, result.stderr
    assert sorted(deltas_of(out, 2)) == [("game.exe", 1)]
    assert "deltas 1 kept of 2" in result.stdout, result.stdout


_opened = []
sys.addaudithook(lambda event, args: _opened.append(str(args[0])) if event == "open" and
                 isinstance(args[0], (str, Path)) else None)


def test_a_pipeline_release_opens_each_changed_file_once_and_no_other(tmp_path):
    # The cut's bytes serve the compression and the deltas: the rebuilt program and the
    # rewritten data are read once, and the file the stamp cache vouches for never.
    import content_stamps
    import publish_patch
    exe, noise, same = program(8), random.Random(8).randbytes(120000), program(9)
    client, out = tmp_path / "client", tmp_path / "out"
    tree(client, {"game.exe": exe, "noise.bin": noise, "same.dat": same})
    old = 1_700_000_000
    for name in ("game.exe", "noise.bin", "same.dat"):
        os.utime(client / name, (old, old))
    stamps = content_stamps.Stamps(tmp_path / "stamps.json")
    publish_patch.publish_content(client, 1, out, level=3, sizes=(4096, 16384, 65536), stamps=stamps)
    tree(client, {"game.exe": rebuilt(exe, 2500, 2), "noise.bin": random.Random(9).randbytes(120000)})
    for name in ("game.exe", "noise.bin"):
        os.utime(client / name, (old + 1, old + 1))  # stamped: not written within the cut's time stamp
    _opened.clear()
    summary = publish_patch.publish_content(client, 2, out, level=3, sizes=(4096, 16384, 65536), stamps=stamps)
    seen = [Path(p).name for p in _opened if Path(p).parent == client]
    assert sorted(seen) == ["game.exe", "noise.bin"], seen
    assert summary["deltas"] == 1 and summary["files_from_stamps"] == 1
    assert sorted(deltas_of(out, 2)) == [("game.exe", 1)]
    # The next build changes only same.dat. The program's delta from 1 is listed again, and the
    # data's, turned down before, is not tried again: neither file is read.
    tree(client, {"same.dat": program(10)})
    _opened.clear()
    summary = publish_patch.publish_content(client, 3, out, level=3, sizes=(4096, 16384, 65536), stamps=stamps)
    seen = [Path(p).name for p in _opened if Path(p).parent == client]
    assert seen == ["same.dat"], seen
    assert summary["delta_refused_before"] == 1 and ("game.exe", 1) in deltas_of(out, 3)
    # The refusal goes on to the next run while it still counts.
    stamps.save()
    assert content_stamps.Stamps(tmp_path / "stamps.json").refused == stamps.refusals != set()
