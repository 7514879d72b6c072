"""Release operations on a content patch folder: a rollback that writes only a release, pruning
past a grace time, and the stamp cache that spares unchanged files a second reading."""
import json
import os
import random
import sys
import time
from pathlib import Path

import pytest

from tool_support import run, tree

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import content_release  # noqa: E402
import patch_signing  # noqa: E402

FAST = ["--level", "3", "--launcher-version", "1.1.1.24", "--delta-releases", "0", "--chunk-sizes", "1K,4K,16K"]
DAY = 86400


def clients(root):
    """Three clients: 10002 replaces a.pak and drops b.bin, 10003 changes c.dat in its middle."""
    rng = random.Random(7)
    v1 = {"data/a.pak": rng.randbytes(120000), "b.bin": rng.randbytes(40000), "readme.txt": b"hi\n" * 500}
    v2 = {"data/a.pak": rng.randbytes(120000), "c.dat": rng.randbytes(60000), "readme.txt": b"hello\n" * 500}
    v3 = dict(v2, **{"c.dat": v2["c.dat"][:30000] + rng.randbytes(20000) + v2["c.dat"][50000:]})
    return [tree(root / f"v{i}", files) for i, files in enumerate((v1, v2, v3), 1)]


def publish_all(root, out, key):
    for i, folder in enumerate(clients(root), 1):
        result = run("content", "--new", folder, "--version", 10000 + i, "--out", out, "--sign-key", key, *FAST)
        assert result.returncode == 0, result.stderr


def release(out, version):
    return content_release.parse((out / f"Content/releases/{version}.release").read_bytes(), version)


def listing(out):
    return {p.relative_to(out).as_posix(): p.read_bytes() for p in out.rglob("*") if p.is_file()}


@pytest.fixture
def folder(tmp_path):
    key, public = tmp_path / "signing.key", tmp_path / "signing.pub"
    patch_signing.keygen(key, public)
    out = tmp_path / "patches"
    publish_all(tmp_path, out, key)
    return {"root": tmp_path, "out": out, "key": key, "public": public}


def test_a_rollback_writes_only_a_release_and_prints_what_the_plan_fetches(folder):
    out, key = folder["out"], folder["key"]
    before = listing(out)
    for args, message in ((["--to", 10000, "--version", 10004], "10000.release"),
                          (["--to", 10001, "--version", 10003], "not above"),
                          (["--to", 10003, "--version", 10004], "not before the newest")):
        refused = run("rollback", *args, "--out", out, "--sign-key", key)
        assert refused.returncode == 1 and message in refused.stderr, refused.stderr
    assert listing(out) == before
    result = run("rollback", "--to", 10002, "--version", 10004, "--out", out, "--sign-key", key, "--json")
    assert result.returncode == 0, result.stderr
    summary = json.loads(result.stdout)
    after = listing(out)
    changed = {name for name in after if before.get(name) != after[name]}
    # The manifest, and its deltas from the releases before it (a player on 10003 fetches that one).
    assert changed == {"Content/releases/10004.release", "LauncherPatchInfo.txt", "LauncherPatchInfo.manifest",
                       "LauncherPatchInfo.manifest.sig"} | {f"Content/release-deltas/10004-{v}.delta"
                                                          for v in (10001, 10002, 10003)}
    assert [d["from"] for d in summary["manifest_deltas"]] == [10003, 10002, 10001]
    assert set(before) <= set(after)
    assert (out / "LauncherPatchInfo.txt").read_text().splitlines()[-2:] == ["10003", "10004"]
    old, new = release(out, 10002), release(out, 10004)
    assert [(f.path, f.size, [old.chunks[c].sha for c in f.chunks]) for f in old.files] == \
        [(f.path, f.size, [new.chunks[c].sha for c in f.chunks]) for f in new.files]
    assert not new.deltas
    # What the player on 10003 fetches, as the plan cuts its folder.
    plan = json.loads(run("content-plan", "--from", folder["root"] / "v3", "--to", 10004, out, "--json").stdout)
    assert plan["delta_bytes"] == 0 and plan["fetch_bytes"] > 0
    for name in ("fetch_bytes", "ideal_bytes", "requests", "needed_chunks"):
        assert summary[name] == plan[name], name
    # Only c.dat's middle as 10002 had it comes back; the chunks 10003 holds are not fetched.
    assert summary["packs_touched"] == ["10002-0.pack"]
    assert summary["ideal_bytes"] < (out / "Content/packs/10002-0.pack").stat().st_size / 4
    assert run("verify", out, "--public-key", folder["public"]).returncode == 0
    # Publishing the same client once more still finds every chunk stored.
    again = run("content", "--new", folder["root"] / "v2", "--version", 10005, "--out", out, *FAST)
    assert again.returncode == 0 and "chunks 0 new" in again.stdout, again.stdout


def age(out, version, days):
    path = out / f"Content/releases/{version}.release"
    stamp = time.time() - days * DAY
    os.utime(path, (stamp, stamp))


def test_prune_waits_for_the_grace_then_removes_exactly_the_unneeded_packs(folder):
    out, key = folder["out"], folder["key"]
    before = listing(out)
    waiting = run("prune", "--keep", 1, "--grace", 1, "--out", out, "--sign-key", key, "--json")
    assert waiting.returncode == 0, waiting.stderr
    summary = json.loads(waiting.stdout)
    assert summary["removed"] is False and summary["packs_unused"] == ["10001-0.pack"]
    assert listing(out) == before
    age(out, 10003, 2)
    result = run("prune", "--keep", 1, "--grace", 1, "--out", out, "--sign-key", key, "--json")
    assert result.returncode == 0, result.stderr
    summary = json.loads(result.stdout)
    gone = ["Content/releases/10001.release", "Content/releases/10002.release", "Content/packs/10001-0.pack"]
    assert sorted(summary["removed_files"]) == sorted(gone)
    assert summary["freed_bytes"] == sum(len(before[name]) for name in gone)
    assert set(before) - set(listing(out)) == set(gone)
    # 10002's pack stays (10003 uses a.pak's chunks from it); c.dat's middle as 10002 had it is dead.
    kept = release(out, 10003)
    used = sum(c.stored for c in kept.chunks if kept.packs[c.pack][:2] == (10002, 0))
    assert summary["dead_bytes_in_kept_packs"] == (out / "Content/packs/10002-0.pack").stat().st_size - used > 0
    assert run("verify", out, "--public-key", folder["public"]).returncode == 0
    # Publishing again after the prune stores again what the removed pack held.
    again = run("content", "--new", folder["root"] / "v1", "--version", 10004, "--out", out, *FAST)
    assert again.returncode == 0 and "1 pack(s) written" in again.stdout, again.stdout
    # A pack removed by hand: verify names the release that cannot be reached.
    (out / "Content/packs/10002-0.pack").unlink()
    broken = run("verify", out)
    assert broken.returncode == 1 and "10003.release: its pack(s) 10002-0.pack are gone" in broken.stderr


def test_prune_keeps_an_unannounced_release_and_the_newest_always(folder):
    out = folder["out"]
    refused = run("prune", "--keep", 0, "--grace", 0, "--out", out)
    assert refused.returncode == 1 and "always kept" in refused.stderr
    data = bytearray((out / "Content/releases/10003.release").read_bytes())
    data[8:12] = (10009).to_bytes(4, "little")
    (out / "Content/releases/10009.release").write_bytes(data)
    refused = run("prune", "--keep", 1, "--grace", 0, "--out", out)
    assert refused.returncode == 1 and "not announced" in refused.stderr


def stamped_publish(client, out, version):
    result = run("content", "--new", client, "--version", version, "--out", out, "--json", *FAST)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def test_the_stamp_cache_spares_unchanged_files_and_rereads_a_changed_time(tmp_path):
    rng = random.Random(3)
    client = tree(tmp_path / "client", {"big.pak": rng.randbytes(100000), "small.txt": b"x" * 3000})
    old = time.time() - DAY
    for path in client.iterdir():
        os.utime(path, (old, old))
    tree(client, {"fresh.txt": b"written just now"})
    out = tmp_path / "patches"
    first = stamped_publish(client, out, 10001)
    assert first["files_cut"] == 3 and first["files_from_stamps"] == 0
    stamps = tmp_path / "patches.publish-stamps.json"
    assert stamps.is_file() and not list(out.rglob("*stamps*"))
    # Other bytes behind the same size and time: not read, so the release still lists the old chunks.
    pak = client / "big.pak"
    pak.write_bytes(bytes(b ^ 0xFF for b in pak.read_bytes()))
    os.utime(pak, (old, old))
    second = stamped_publish(client, out, 10002)
    # The file written during the first cut had no stamp kept: it may change within its time stamp.
    assert second["files_from_stamps"] == 2 and second["files_cut"] == 1 and second["new_chunks"] == 0
    assert release(out, 10002).chunks == release(out, 10001).chunks
    # The same size, another time: read again, the new bytes published.
    os.utime(pak, (old + 1, old + 1))
    os.utime(client / "fresh.txt", (old, old))
    third = stamped_publish(client, out, 10003)
    assert third["files_cut"] == 2 and third["files_from_stamps"] == 1 and third["new_chunks"] > 0
    assert set(c.sha for c in release(out, 10003).chunks) != set(c.sha for c in release(out, 10002).chunks)
    # Its chunks are kept as one string of records a file, read back as they were cut.
    kept = json.loads(stamps.read_text())
    assert kept["format"] == 2 and all(isinstance(e["chunks"], str) for e in kept["files"].values())
    # A damaged cache, or one of the list-per-chunk format before, only costs a full cut.
    stamps.write_text("{not json")
    fourth = stamped_publish(client, out, 10004)
    assert fourth["files_cut"] == 3 and fourth["files_from_stamps"] == 0
    kept["format"] = 1
    stamps.write_text(json.dumps(kept))
    fifth = stamped_publish(client, out, 10005)
    assert fifth["files_cut"] == 3 and fifth["files_from_stamps"] == 0
    assert release(out, 10005).chunks == release(out, 10004).chunks


def test_prune_keeps_every_channels_newest_and_a_rollouts_held_release_and_rollback_ends_it(folder):
    out, key, root = folder["out"], folder["key"], folder["root"]
    v1, v2, _ = clients(root / "beta-clients")
    # 10005 also gets its manifest as deltas from the three releases before it.
    for version, client, extra in ((10004, v1, []), (10005, v2, ["--rollout", "50", "--delta-releases", "3"])):
        result = run("content", "--new", client, "--version", version, "--channel", "beta", "--out", out,
                     "--sign-key", key, *FAST, *extra)
        assert result.returncode == 0, result.stderr
    result = run("prune", "--keep", 1, "--grace", 0, "--out", out, "--sign-key", key, "--json")
    assert result.returncode == 0, result.stderr
    summary = json.loads(result.stdout)
    # live's newest, beta's newest and the release beta's rollout holds installs on.
    assert summary["kept"] == [10003, 10004, 10005] and summary["pruned"] == [10001, 10002]
    # The manifest delta from a removed release goes with it; those from kept ones stay.
    assert "Content/release-deltas/10005-10002.delta" in summary["removed_files"]
    assert sorted(p.name for p in (out / "Content/release-deltas").iterdir()) == ["10005-10003.delta",
                                                                                 "10005-10004.delta"]
    result = run("rollback", "--channel", "beta", "--to", 10004, "--version", 10006, "--out", out,
                 "--sign-key", key)
    assert result.returncode == 0, result.stderr
    beta = (out / "channels/beta/LauncherPatchInfo.txt").read_text()
    assert not beta.startswith("[ROLLOUT]") and beta.split()[-1] == "10006"
    assert (out / "LauncherPatchInfo.txt").read_text().split()[-1] == "10003"
    assert run("verify", out, "--public-key", folder["public"]).returncode == 0


def test_a_long_publication_tells_its_cut_and_its_compression(tmp_path, monkeypatch, capsys):
    import content_stamps
    import publish_patch
    monkeypatch.setattr(content_stamps, "PROGRESS_SECONDS", 0.0)
    client = tree(tmp_path / "client", {"a.pak": random.Random(1).randbytes(50000), "b.txt": b"b" * 30000})
    publish_patch.publish_content(client, 10001, tmp_path / "out", level=3, sizes=(1024, 4096, 16384),
                                  delta_releases=0, progress=content_stamps.Progress)
    lines = capsys.readouterr().err.splitlines()
    assert any(line.startswith("publish_patch: cut 2 of 2 file(s), 80000 bytes") for line in lines), lines
    stored = [line.split() for line in lines if line.startswith("publish_patch: stored ")]
    # The last line tells every new chunk stored, however many of them the cut had compressed.
    assert stored and stored[-1][2] == stored[-1][4], lines
