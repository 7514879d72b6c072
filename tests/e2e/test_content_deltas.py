"""Content deltas: a rebuilt program reaches a player as its zstd --patch-from delta, applied to
the installed file; whenever the delta cannot be used (no matching base, a damaged delta, a
result that is not the release's file) the file still arrives, through its chunks, and only the
debugger output says why. One publication and one installed player serve every case."""
import hashlib
import random
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

import harness
from test_content_patching import CONTENT, KEY, client_files, publish, ranges
from test_fault_matrix import READY, no_partial_files, shows

import content_release  # noqa: E402  (tools/, put on the path by test_content_patching)
import patch_signing  # noqa: E402

OLD, NEW = 10001, 10002
PROGRAM = "Brevanta.exe"


def program_bytes(rng, size):
    """Compressible like code: words of a small vocabulary."""
    words = [rng.randbytes(rng.randrange(2, 9)) for _ in range(256)]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words)
    return bytes(out[:size])


def rebuilt(program, rng):
    """A rebuild: a few bytes changed every few KiB and code inserted near the start, so every
    chunk of the program changes while its delta stays small."""
    out = bytearray(program)
    for at in range(0, len(out), 3000):
        out[at] ^= 0xFF
    out[5000:5000] = rng.randbytes(700)
    return bytes(out)


class Published:
    """The server's folder with OLD installed on a player (snapshot) and NEW published with a
    delta for the program."""

    def __init__(self, base):
        rng = random.Random(190)
        self.base = base
        self.v1 = {PROGRAM: program_bytes(rng, 400_000), "data/base.pak": rng.randbytes(100_000)}
        self.v2 = dict(self.v1, **{PROGRAM: rebuilt(self.v1[PROGRAM], rng), "data/ui/new.dat": rng.randbytes(30_000)})
        self.server = harness.PatchServer()
        self.snapshot = base / "installed"

    def release(self):
        data = (self.server.root / "Content" / "releases" / f"{NEW}.release").read_bytes()
        return content_release.parse(data, NEW)

    def program_delta(self):
        """(pack file, offset, stored size) of the program's delta in NEW."""
        release = self.release()
        index = next(i for i, f in enumerate(release.files) if f.path == PROGRAM.encode())
        # Rows as the format has them: file, base release, base SHA-256, base size, pack, offset, size, SHA-256.
        row = next(r for r in release.deltas if r[0] == index and r[1] == OLD)
        pack = release.packs[row[4]]
        return self.server.root / "Content" / "packs" / content_release.pack_name(pack[0], pack[1]), row[5], row[6]

    def program_chunk_bytes(self):
        release = self.release()
        f = next(f for f in release.files if f.path == PROGRAM.encode())
        return sum(release.chunks[c].stored for c in f.chunks)


def delta_ranges(fetched, delta):
    pack, offset, size = delta
    return [r for r in fetched if r[0] == pack.name and r[1] <= offset and r[2] >= offset + size - 1]


def fresh_base(name):
    """An empty folder of the run for a module's publication; skips without the test server."""
    if not (harness.STATE / "ready.json").exists():
        pytest.skip("the test patch server is not running")
    base = harness.RUNS / name
    if base.exists():
        shutil.rmtree(base)
    base.mkdir(parents=True)
    return base


def install_then_publish(p, base):
    """p.v1 published as OLD and installed by the content launcher into p.snapshot, then p.v2
    published as NEW: the player every case copies."""
    harness.set_installed_installer(None)
    harness.move_pointer(0, 0)  # the pointer over a button would show a hover
    p.server.reset()
    publish(p.server, base, [(OLD, p.v1)])
    run = harness.Launcher(p.snapshot, CONTENT)
    try:
        run.start()
        assert shows(run.origin(), READY.format(OLD), timeout=90)
    finally:
        run.stop()
    publish(p.server, base, [(NEW, p.v2)])


@pytest.fixture(scope="module")
def published():
    base = fresh_base("content-deltas")
    p = Published(base)
    install_then_publish(p, base)
    assert p.release().deltas, "the publisher wrote no delta for the rebuilt program"
    yield p
    p.server.set_faults([])


def player(published, name, monkeypatch):
    """A copy of the installed player (stamps kept: times copied exactly), its debugger output
    captured."""
    folder = published.base / name
    if folder.exists():
        shutil.rmtree(folder)
    shutil.copytree(published.snapshot, folder, copy_function=shutil.copy2)
    monkeypatch.setenv("WINEDEBUG", "-all,+debugstr")
    return harness.Launcher(folder, CONTENT)


def update(published, run):
    """Runs the launcher to NEW; returns the pack ranges it asked for and its debugger output."""
    mark = published.server.log_mark()
    output = run.folder.parent / f"{run.folder.name}-output.txt"
    try:
        run.start(output=output)
        assert shows(run.origin(), READY.format(NEW), timeout=90)
    finally:
        run.stop()
    assert client_files(run.folder) == published.v2
    assert not (run.folder / "content.delta").exists() and not no_partial_files(run.folder)
    return ranges(published.server, mark), output.read_bytes().decode("latin-1")


def test_a_one_step_update_takes_the_programs_delta_and_chunks_for_the_rest(published, monkeypatch):
    fetched, output = update(published, player(published, "one-step", monkeypatch))
    delta = published.program_delta()
    assert len(delta_ranges(fetched, delta)) == 1, fetched
    # The new file came as chunks; the program's own chunks were not fetched: all the requests
    # together are far below them.
    total = sum(last - first + 1 for _, first, last in fetched)
    assert total < published.program_chunk_bytes() / 2, (total, published.program_chunk_bytes())
    assert "content delta" not in output


def test_a_link_planted_at_the_delta_store_leaves_its_target_alone(published, monkeypatch):
    run = player(published, "linked-store", monkeypatch)
    outside = published.base / "outside-of-the-game.dat"
    outside.write_bytes(b"a file of the machine")
    (run.folder / "content.delta").symlink_to(outside)
    output = run.folder.parent / "linked-store-output.txt"
    try:
        run.start(output=output)
        assert shows(run.origin(), READY.format(NEW), timeout=90)
    finally:
        run.stop()
    # Neither truncated nor deleted on close: the program came as chunks instead.
    assert outside.read_bytes() == b"a file of the machine"
    assert client_files(run.folder) == published.v2
    assert "content delta store failed" in output.read_bytes().decode("latin-1")


def test_an_edited_program_has_no_base_and_gets_its_chunks(published, monkeypatch):
    run = player(published, "edited", monkeypatch)
    program = run.folder / PROGRAM
    edited = bytearray(program.read_bytes())
    edited[200_000] ^= 1
    program.write_bytes(bytes(edited))
    fetched, _ = update(published, run)
    assert not delta_ranges(fetched, published.program_delta()), fetched


def test_a_delta_with_one_byte_changed_is_refused_and_the_file_comes_as_chunks(published, monkeypatch):
    pack, offset, size = published.program_delta()
    original = pack.read_bytes()
    damaged = bytearray(original)
    damaged[offset + size // 2] ^= 0x01
    pack.write_bytes(bytes(damaged))
    try:
        fetched, output = update(published, player(published, "damaged", monkeypatch))
    finally:
        pack.write_bytes(original)
    # Asked for once: a delta that fails its hash is not waited for, the chunks are there.
    assert len(delta_ranges(fetched, (pack, offset, size))) == 1, fetched
    assert "content delta hash failed" in output, output[-2000:]


def test_a_delta_whose_result_is_not_the_file_falls_back_to_chunks(published, monkeypatch):
    # A well-formed delta of the right base, listed with its own hash, that makes another file.
    pack, offset, size = published.program_delta()
    release_path = published.server.root / "Content" / "releases" / f"{NEW}.release"
    saved = {path: path.read_bytes() for path in (pack, release_path)}
    with tempfile.TemporaryDirectory() as scratch:
        base, other, made = (Path(scratch) / name for name in ("base", "other", "delta"))
        base.write_bytes(published.v1[PROGRAM])
        wrong = bytearray(published.v2[PROGRAM])
        wrong[len(wrong) // 2] ^= 0x01
        other.write_bytes(bytes(wrong))
        subprocess.run(["/usr/bin/zstd", "-q", "-f", f"--patch-from={base}", str(other), "-o", str(made)],
                       check=True, timeout=60)
        substitute = made.read_bytes()
    try:
        replace_delta(published, pack, offset, substitute)
        patch_signing.sign_folder(published.server.root, KEY)
        fetched, output = update(published, player(published, "wrong-result", monkeypatch))
    finally:
        for path, data in saved.items():
            path.write_bytes(data)
        patch_signing.sign_folder(published.server.root, KEY)
    assert "content delta chunk differs failed" in output, output[-2000:]


def replace_delta(published, pack, offset, substitute):
    """Puts substitute at the end of the program delta's pack and lists it in the release in
    place of the delta at offset."""
    release = published.release()
    at = pack.stat().st_size
    pack.write_bytes(pack.read_bytes() + substitute)
    packs = tuple((r, i, at + len(substitute)) if content_release.pack_name(r, i) == pack.name else (r, i, s)
                  for r, i, s in release.packs)
    deltas = []
    for d in release.deltas:
        row = list(d)
        if row[5] == offset and content_release.pack_name(*release.packs[row[4]][:2]) == pack.name:
            row[5], row[6], row[7] = at, len(substitute), hashlib.sha256(substitute).digest()
        deltas.append(tuple(row))
    changed = content_release.Release(release.version, release.sizes, packs, release.chunks, release.files,
                                      tuple(deltas))
    release_path = published.server.root / "Content" / "releases" / f"{NEW}.release"
    release_path.write_bytes(content_release.encode(changed))


def test_a_delta_the_next_release_lists_again_from_the_earlier_pack_is_applied(published, monkeypatch):
    # Last in the module: it publishes past NEW. The program is as NEW has it, so the release
    # after lists NEW's frame of its delta from OLD again, in NEW's pack, and writes none.
    later = NEW + 1
    v3 = dict(published.v2, **{"data/ui/new.dat": random.Random(191).randbytes(30_000)})
    publish(published.server, published.base, [(later, v3)])
    data = (published.server.root / "Content" / "releases" / f"{later}.release").read_bytes()
    release = content_release.parse(data, later)
    index = next(i for i, f in enumerate(release.files) if f.path == PROGRAM.encode())
    row = next(r for r in release.deltas if r[0] == index and r[1] == OLD)
    pack, offset, size = published.program_delta()
    assert content_release.pack_name(*release.packs[row[4]][:2]) == pack.name and row[5:7] == (offset, size)
    run = player(published, "listed-again", monkeypatch)
    mark = published.server.log_mark()
    try:
        run.start()
        assert shows(run.origin(), READY.format(later), timeout=90)
    finally:
        run.stop()
    assert client_files(run.folder) == v3
    assert len(delta_ranges(ranges(published.server, mark), (pack, offset, size))) == 1
