"""Deltas whose bases' packs are only served: a publisher holding just Content/releases/ fetches
the earlier files' chunks by range from the patch base over HTTPS, checks each one, retries a
failed range, and writes nothing when a served pack is damaged."""
import json
import random
import re
import shutil
import ssl
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

import pytest

from tool_support import run, tree

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import content_release  # noqa: E402
import content_remote  # noqa: E402

CERTS = ROOT / "build" / "test-certs"
PORT = 48581
URL = f"https://127.0.0.1:{PORT}/patches"
# Small chunks and packs: an old file spans several packs and ranges.
FAST = ["--level", "3", "--launcher-version", "1.1.1.24", "--chunk-sizes", "4K,16K,64K", "--pack-limit", "80K",
        "--delta-releases", "2", "--no-stamps"]


def client(version):
    """A program rebuilt at every release (a byte moved every few K of its first half, a piece
    added) beside data that half compresses: its deltas pay, its chunks spread over packs, and
    its end stays the same (read from the new client, never fetched)."""
    rng = random.Random(7)
    words = [rng.randbytes(16) for _ in range(64)]
    code = bytearray(b"".join(rng.choice(words) if i % 3 else rng.randbytes(16) for i in range(20000)))
    for step in range(1, version):
        for i in range(step, len(code) // 2, 2500 + step):
            code[i] ^= 0x5A
        code[len(code) // (step + 2):len(code) // (step + 2)] = random.Random(step).randbytes(900)
    return {"game.exe": bytes(code), "data/same.dat": b"unchanging " * 3000}


def publish(folder, version, out, *more):
    return run("content", "--new", folder, "--version", version, "--out", out, *FAST, *more)


def files_below(folder):
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in sorted(Path(folder).rglob("*")) if p.is_file()}


def control(what, method, body=None):
    request = urllib.request.Request(f"https://127.0.0.1:{PORT}/__control/{what}", method=method,
                                     data=None if body is None else json.dumps(body).encode())
    context = ssl.create_default_context(cafile=str(CERTS / "ca.pem"))
    with urllib.request.urlopen(request, context=context, timeout=10) as answer:
        return json.loads(answer.read())


@pytest.fixture(scope="module")
def store(tmp_path_factory):
    """Releases 1 and 2 published with their packs and served; release 3 published into a copy
    of the whole store (what a machine that holds every pack writes)."""
    root = tmp_path_factory.mktemp("remote")
    clients = {v: tree(root / f"v{v}", client(v)) for v in (1, 2, 3)}
    for version in (1, 2):
        assert publish(clients[version], version, root / "served").returncode == 0
    shutil.copytree(root / "served", root / "local")
    result = publish(clients[3], 3, root / "local")
    assert result.returncode == 0 and "deltas 2 kept of 2" in result.stdout, result.stderr
    ready = root / "ready.json"
    server = subprocess.Popen(["timeout", "-k", "3", "120", "/usr/bin/python3", ROOT / "tests/support/patch_server.py",
                               "--root", root / "served", "--base", "/patches", "--port", str(PORT), "--certs", CERTS,
                               "--control", "--ready-file", ready], stdout=subprocess.DEVNULL)
    deadline = time.monotonic() + 20
    while not ready.exists() and server.poll() is None and time.monotonic() < deadline:
        time.sleep(0.05)
    try:
        assert ready.exists(), f"the patch server did not start on {PORT}"
        yield {"root": root, "served": root / "served", "local": root / "local", "new": clients[3]}
    finally:
        server.terminate()  # timeout(1) passes it on
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait(5)


def from_served(store, name, *more):
    """Publishes release 3 into a build machine's patch folder: the releases and nothing else."""
    out = store["root"] / name
    shutil.copytree(store["served"] / "Content" / "releases", out / "Content" / "releases")
    before = files_below(out)
    return publish(store["new"], 3, out, "--base-url", URL, *more), out, before


def fetched_chunks(store, version):
    """{(pack name, frame offset, stored size)} of release version's game.exe chunks that release
    3's client lacks: what its delta base must fetch."""
    def load(out, v):
        return content_release.parse((out / f"Content/releases/{v}.release").read_bytes(), v)
    release, kept = load(store["served"], version), {c.sha for c in load(store["local"], 3).chunks}
    game = next(f for f in release.files if f.path == b"game.exe")
    return sorted({(content_release.pack_name(*release.packs[c.pack][:2]), c.offset, c.stored)
                   for c in map(release.chunks.__getitem__, game.chunks) if c.sha not in kept})


def test_the_deltas_from_served_packs_equal_those_of_a_whole_store(store):
    control("log", "DELETE")
    result, out, _ = from_served(store, "pipeline", "--ca-file", CERTS / "ca.pem")
    assert result.returncode == 0 and "deltas 2 kept of 2" in result.stdout, result.stderr
    assert "earlier releases' packs from " + URL in result.stderr
    # The same release, packs and deltas as with the whole store.
    local, written = files_below(store["local"] / "Content"), files_below(out / "Content")
    assert written == {n: d for n, d in local.items() if n.startswith(("releases/", "packs/3-", "release-deltas/3-"))}
    asked = [e for e in control("log?count=1", "GET") if e["path"].startswith("/patches/")]
    assert asked and all(e["status"] == 206 and e["headers"]["Range"].startswith("bytes=") for e in asked)
    # Each base asks for the chunks the new client lacks and at most a gap's worth more per range.
    needed = sum(stored for v in (1, 2) for _, _, stored in fetched_chunks(store, v))
    assert needed <= sum(e["bytes_sent"] for e in asked) <= needed + 65536 * len(asked)


def test_a_damaged_served_pack_fails_naming_it_and_writes_nothing(store):
    name, offset, _ = fetched_chunks(store, 1)[-1]
    pack = store["served"] / "Content" / "packs" / name
    kept = pack.read_bytes()
    pack.write_bytes(kept[:offset + 9] + bytes([kept[offset + 9] ^ 1]) + kept[offset + 10:])
    try:
        result, out, before = from_served(store, "damaged", "--ca-file", CERTS / "ca.pem")
    finally:
        pack.write_bytes(kept)
    assert result.returncode == 1 and files_below(out) == before
    assert re.search(f"{URL}/Content/packs/{name} bytes [0-9]+-[0-9]+: the chunk at {offset} is not what "
                     "release [12] lists: the served pack is damaged", result.stderr), result.stderr
    # Nothing trusts a server the system's store does not.
    result, out, before = from_served(store, "untrusted")
    assert result.returncode == 1 and files_below(out) == before
    assert "the server's certificate" in result.stderr and "give --ca-file" in result.stderr


def test_a_failed_range_is_retried_and_a_lasting_fault_names_its_range(store):
    first, second = fetched_chunks(store, 1)[0][0], fetched_chunks(store, 2)[-1][0]
    control("faults", "POST", [f"Content/packs/{first}=reset:100@1", f"Content/packs/{second}=status:503@1"])
    result, out, _ = from_served(store, "retried", "--ca-file", CERTS / "ca.pem")
    assert result.returncode == 0 and "2 range request(s) retried" in result.stderr, result.stderr
    assert (out / "Content/releases/3.release").read_bytes() == \
        (store["local"] / "Content/releases/3.release").read_bytes()
    control("faults", "POST", [f"Content/packs/{first}=status:503"])
    result, _, _ = from_served(store, "lasting", "--ca-file", CERTS / "ca.pem")
    control("faults", "DELETE")
    assert result.returncode == 1
    assert re.search(f"{URL}/Content/packs/{first} bytes [0-9]+-[0-9]+: status 503 .*\\(3 attempts\\)", result.stderr)


@pytest.mark.parametrize("args", [["--base-url", "http://cdn.example/patches"], ["--base-url", "ftp://127.0.0.1/x"],
                                  ["--base-url", "https://cdn.example/p?x=1"], ["--ca-file", CERTS / "ca.pem"],
                                  ["--base-url", URL, "--ca-file", "/nonexistent/ca.pem"]])
def test_base_options_refused_before_anything_is_cut(tmp_path, args):
    result = publish(tree(tmp_path / "new", {"a": b"a"}), 1, tmp_path / "out", *args)
    assert result.returncode == 1 and str(args[-2]) in result.stderr
    assert not (tmp_path / "out").exists()


def test_ranges_merge_over_small_gaps_and_stay_bounded():
    chunks = [(0, 10), (10, 5), (20, 5), (100, 10), (100, 10), (200, 50)]
    assert content_remote.ranges(chunks, 5) == [(0, 25, [(0, 10), (10, 5), (20, 5)]), (100, 110, [(100, 10)]),
                                                (200, 250, [(200, 50)])]
    # The bound splits a run of neighbours, never a chunk.
    assert [r[:2] for r in content_remote.ranges(chunks, 1000, largest=20)] == [(0, 15), (20, 25), (100, 110),
                                                                                 (200, 250)]
    assert content_remote.check_url("http://127.0.0.1:8080/a/b/") == ("http", "127.0.0.1", 8080, "/a/b")
