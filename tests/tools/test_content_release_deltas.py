"""The publisher's release-manifest deltas: one from each of the last releases in the store,
each giving the release manifest back from its base, listed in the signed manifest, kept only
when smaller than the manifest, and taken back or reported when something goes wrong."""
import random
import sys
from pathlib import Path

import pytest

from tool_support import run, tree

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import content_release_delta  # noqa: E402
import patch_signing  # noqa: E402

FAST = ["--level", "3", "--launcher-version", "1.1.1.24", "--chunk-sizes", "4K,16K,64K"]


def client(root, version):
    """A client of 120 files, of which each release changes two and adds one."""
    rng = random.Random(7)
    files = {f"data/{i:03}.bin": rng.randbytes(6000) for i in range(120)}
    for v in range(2, version + 1):
        files[f"data/{v:03}.bin"] = random.Random(v).randbytes(6000)
        files[f"data/{v + 50:03}.bin"] = random.Random(-v).randbytes(5000)
        files[f"new/{v}.dat"] = random.Random(v * 1000).randbytes(3000)
    return tree(root, files)


@pytest.fixture(scope="module")
def store(tmp_path_factory):
    root = tmp_path_factory.mktemp("release-deltas")
    key, public = root / "signing.key", root / "signing.pub"
    patch_signing.keygen(key, public)
    out = root / "out"
    for version in range(1, 6):
        result = run("content", "--new", client(root / f"v{version}", version), "--version", version, "--out", out,
                     "--sign-key", key, *FAST)
        assert result.returncode == 0, result.stderr
    return {"out": out, "public": public}


def manifest(out, version):
    return (out / f"Content/releases/{version}.release").read_bytes()


def test_each_release_has_a_small_delta_from_each_of_the_last_three(store):
    out = store["out"]
    names = sorted(p.name for p in (out / content_release_delta.DELTAS).iterdir())
    assert names == ["2-1.delta", "3-1.delta", "3-2.delta", "4-1.delta", "4-2.delta", "4-3.delta",
                     "5-2.delta", "5-3.delta", "5-4.delta"]
    for name in names:
        version, base = map(int, name[:-len(".delta")].split("-"))
        delta = (out / content_release_delta.DELTAS / name).read_bytes()
        assert content_release_delta.applies(delta, manifest(out, base), manifest(out, version)), name
        # Three changed files of 120: far below the manifest, which is what pays for them.
        assert len(delta) < len(manifest(out, version)) // 4, name


def test_the_signed_manifest_lists_every_delta_and_verify_holds(store):
    out = store["out"]
    listed = patch_signing.read_manifest(out)[2]
    deltas = [name for name in listed if name.startswith(b"Content/release-deltas/")]
    assert len(deltas) == 9
    for name in deltas:
        assert listed[name][0] == (out / name.decode()).stat().st_size
    assert run("verify", out, "--public-key", store["public"]).returncode == 0
    assert content_release_delta.check_store(out, {v: manifest(out, v) for v in range(1, 6)}) == []


def test_a_delta_no_smaller_than_the_manifest_is_not_kept(tmp_path):
    releases = tmp_path / "Content/releases"
    releases.mkdir(parents=True)
    (releases / "1.release").write_bytes(random.Random(1).randbytes(3000))
    written = []
    # Nothing in common with its base: the frame would be larger than the manifest.
    kept = content_release_delta.write_deltas(tmp_path, 2, random.Random(2).randbytes(3000), 3, 3, written)
    assert kept == [] and written == []
    assert not any((tmp_path / content_release_delta.DELTAS).iterdir())
    assert content_release_delta.write_deltas(tmp_path, 2, b"x" * 3000, 0, 3, written) == []


def test_check_store_names_a_damaged_delta_and_a_stray_file(store, tmp_path):
    out = tmp_path / "out"
    deltas = out / content_release_delta.DELTAS
    deltas.mkdir(parents=True)
    good = store["out"] / content_release_delta.DELTAS
    data = bytearray((good / "5-4.delta").read_bytes())
    data[len(data) // 2] ^= 1
    (deltas / "5-4.delta").write_bytes(bytes(data))
    (deltas / "5-3.delta").write_bytes((good / "5-3.delta").read_bytes())
    (deltas / "4-5.delta").write_bytes(b"")
    (deltas / "5-3.delta.part").write_bytes(b"unfinished")
    releases = {v: manifest(store["out"], v) for v in range(1, 6)}
    assert content_release_delta.check_store(out, releases) == [
        "Content/release-deltas/4-5.delta: not a release delta (<V>-<U>.delta, U before V)",
        "Content/release-deltas/5-4.delta: does not make release 5 from release 4"]


def test_a_failed_publication_takes_its_deltas_back(store, tmp_path, monkeypatch):
    import content_publish
    out = tmp_path / "out"
    (out / "Content/releases").mkdir(parents=True)
    for v in (3, 4):
        (out / f"Content/releases/{v}.release").write_bytes(manifest(store["out"], v))
    calls = []
    real = content_release_delta.make

    def failing(base, data, level, work):
        calls.append(len(base))
        if len(calls) == 2:
            raise content_publish.ContentError("zstd failed")
        return real(base, data, level, work)
    monkeypatch.setattr(content_release_delta, "make", failing)
    written = []
    with pytest.raises(content_publish.ContentError):
        content_release_delta.write_deltas(out, 5, manifest(store["out"], 5), 3, 3, written)
    assert [p.name for p in written] == ["5-4.delta.part", "5-4.delta"]
    prepared = content_publish.Prepared(5, (), [], [], {}, {}, written=written)
    content_publish.remove_written(prepared)
    assert list((out / content_release_delta.DELTAS).iterdir()) == []
