"""Release-manifest deltas: a player holding the installed release's manifest fetches the small
delta to the new release instead of the whole manifest; a damaged or forged delta, or a kept
manifest the player edited, never makes a wrong manifest: the whole one is fetched and the
update still ends ready. One publication and one installed player serve every case."""
import random
import shutil

import pytest

import harness
from test_content_deltas import fresh_base, install_then_publish
from test_content_patching import CONTENT, KEY, client_files
from test_fault_matrix import READY, shows

import patch_signing  # noqa: E402  (tools/, put on the path by test_content_patching)

OLD, NEW = 10001, 10002
DELTA = f"Content/release-deltas/{NEW}-{OLD}.delta"
WHOLE = f"Content/releases/{NEW}.release"


class Published:
    """OLD installed on a player (snapshot) and NEW published: many small files, so the
    manifest is large beside the one file that changes."""

    def __init__(self, base):
        rng = random.Random(1902)
        self.base = base
        self.v1 = {f"data/{i:03}.dat": rng.randbytes(2500) for i in range(200)}
        self.v2 = dict(self.v1, **{"data/007.dat": rng.randbytes(2500), "data/new.dat": rng.randbytes(900)})
        self.server = harness.PatchServer()
        self.snapshot = base / "installed"
        self.delta = self.server.root / DELTA


@pytest.fixture(scope="module")
def published():
    base = fresh_base("content-manifest-delta")
    p = Published(base)
    install_then_publish(p, base)
    assert (p.snapshot / f"content.{OLD}.release").is_file()
    assert p.delta.stat().st_size < (p.server.root / WHOLE).stat().st_size // 10
    yield p
    p.server.set_faults([])


def update(published, name, monkeypatch, change=None):
    """A copy of the installed player run to NEW; returns the release files it asked for and its
    debugger output."""
    folder = published.base / name
    if folder.exists():
        shutil.rmtree(folder)
    shutil.copytree(published.snapshot, folder, copy_function=shutil.copy2)
    if change:
        change(folder)
    monkeypatch.setenv("WINEDEBUG", "-all,+debugstr")
    run = harness.Launcher(folder, CONTENT)
    mark = published.server.log_mark()
    output = published.base / f"{name}-output.txt"
    try:
        run.start(output=output)
        assert shows(run.origin(), READY.format(NEW), timeout=90)
    finally:
        run.stop()
    assert client_files(folder) == published.v2
    assert (folder / f"content.{NEW}.release").read_bytes() == (published.server.root / WHOLE).read_bytes()
    asked = [r["path"].split("/StandaloneWindows64/", 1)[-1] for r in published.server.requests_since(mark)]
    return [path for path in asked if path in (DELTA, WHOLE)], output.read_bytes().decode("latin-1")


def test_the_new_manifest_comes_as_a_delta_from_the_kept_one(published, monkeypatch):
    asked, output = update(published, "delta", monkeypatch)
    assert asked == [DELTA], asked
    assert "release delta" not in output


def test_a_damaged_delta_gives_way_to_the_whole_manifest(published, monkeypatch):
    original = published.delta.read_bytes()
    damaged = bytearray(original)
    damaged[len(damaged) // 2] ^= 0x01
    published.delta.write_bytes(bytes(damaged))
    try:
        asked, output = update(published, "damaged", monkeypatch)
    finally:
        published.delta.write_bytes(original)
    # Asked for once, never waited for: the whole manifest is the way round.
    assert asked == [DELTA, WHOLE], asked
    assert "release delta hash failed" in output, output[-2000:]


def test_a_forged_delta_listed_with_its_own_hash_gives_way_to_the_whole_manifest(published, monkeypatch):
    original = published.delta.read_bytes()
    forged = bytearray(original)
    forged[len(forged) // 2] ^= 0x01
    published.delta.write_bytes(bytes(forged))
    patch_signing.sign_folder(published.server.root, KEY)
    try:
        asked, output = update(published, "forged", monkeypatch)
    finally:
        published.delta.write_bytes(original)
        patch_signing.sign_folder(published.server.root, KEY)
    assert asked == [DELTA, WHOLE], asked
    assert "release delta apply failed" in output or "release delta result failed" in output, output[-2000:]


def test_a_kept_manifest_the_player_edited_only_costs_the_whole_one(published, monkeypatch):
    def edit(folder):
        kept = folder / f"content.{OLD}.release"
        data = bytearray(kept.read_bytes())
        data[len(data) // 2] ^= 0x01
        kept.write_bytes(bytes(data))
    asked, output = update(published, "edited-kept", monkeypatch, edit)
    assert asked == [DELTA, WHOLE], asked
    assert "release delta apply failed" in output or "release delta result failed" in output, output[-2000:]
