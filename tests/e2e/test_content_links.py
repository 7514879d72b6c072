"""Links planted in the game folder: a symbolic link naming a folder outside it (what a junction
is under Wine) is never read, written, swept or deleted through, by the content launcher or the
classic one; and a launcher whose folder cannot be its working directory touches no file. Every
case checks that nothing outside the game folder changed."""
import os

import harness
from test_content_deletions import forge_state
from test_content_patching import CONTENT, publish, write_tree
from test_fault_matrix import ABNORMAL_RUN, READY, patched_launcher, shows, watched_outside, zip_bytes

LINKED = "링크를 따라가지 않습니다 ({})"


def release(seed, **extra):
    rng = __import__("random").Random(seed)
    files = {"Brevanta.exe": rng.randbytes(20000), "data/base.pak": rng.randbytes(40000)}
    files.update(extra)
    return files


def victim(folder, name, files):
    """A folder outside the game folder, as a user of the machine might aim a link at."""
    outside = folder / name
    for relative, data in files.items():
        (outside / relative).parent.mkdir(parents=True, exist_ok=True)
        (outside / relative).write_bytes(data)
    return outside


def contents(root):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}


def stopped_at_link(launcher, folder, player, installed, link, target, named):
    """The installed files without the linked folder's, the link, a kept state claiming
    `installed` as 10001: the update must stop naming `named`, and change nothing outside."""
    run = launcher(player, CONTENT)
    write_tree(run.folder, {k: v for k, v in installed.items() if not k.startswith(link + "/")})
    run.write_config(10001)
    os.symlink(target, run.folder / link, target_is_directory=True)
    forge_state(run, folder, 10001, installed)
    before = contents(target)
    with watched_outside(run):
        run.start()
        assert shows(run.origin(), LINKED.format(named), timeout=60)
        run.stop()
    assert contents(target) == before
    assert run.version() == 10001
    assert (run.folder / link).is_symlink()


def test_an_update_through_a_linked_folder_stops_before_anything_is_touched(launcher, server, folder):
    # One publication for both: 10002 drops x/victim.dat and y/old.dat and changes x/keep.dat.
    v1 = release(1, **{"x/victim.dat": b"victim" * 500, "x/keep.dat": b"keep" * 700, "y/old.dat": b"old" * 300})
    v2 = release(1, **{"x/keep.dat": b"changed" * 600})
    publish(server, folder, [(10002, v2)])
    # A path the new release writes (and the old one deletes) passes through the link.
    outside = victim(folder, "victim-x", {"victim.dat": b"victim" * 500, "keep.dat": b"keep" * 700})
    stopped_at_link(launcher, folder, "first", v1, "x", outside, "x/keep.dat")
    # Only a path the new release removes passes through it.
    others = victim(folder, "victim-y", {"old.dat": b"old" * 300, "mine.txt": b"someone else's"})
    only_y = dict(v1, **{"x/keep.dat": b"changed" * 600})
    only_y.pop("x/victim.dat")
    stopped_at_link(launcher, folder / "scratch", "second", only_y, "y", others, "y/old.dat")


def test_a_linked_unpack_stage_is_never_swept_or_written_through(launcher, server, folder):
    server.put("Player/patch.zip", zip_bytes({"inside.txt": b"fine", "data/a.dat": b"new a"}))
    run = patched_launcher(launcher, server, ["10004 patch.zip"], 10003)
    outside = victim(folder, "victim-stage", {"left.~0.part": b"someone's part file", "b.part": b"another"})
    os.symlink(outside, run.folder / "~unpack", target_is_directory=True)
    before = contents(outside)
    with watched_outside(run):
        run.start()
        # The entries are written beside their files instead: the update still succeeds.
        assert shows(run.origin(), READY.format(10004), timeout=60)
        run.stop()
    assert contents(outside) == before
    assert (run.folder / "inside.txt").read_bytes() == b"fine"
    assert (run.folder / "data" / "a.dat").read_bytes() == b"new a"
    assert (run.folder / "~unpack").is_symlink()


def test_a_folder_its_code_page_cannot_name_is_never_worked_in(launcher, server):
    # The ANSI name of such a folder has "?" for its letters: it cannot be the working directory,
    # and every relative name would reach wherever the launcher was started from.
    server.put("Player/notice.txt", "new notice")
    run = patched_launcher(launcher, server, ["10004 notice.txt"], 10003, subfolder="खेल")
    before = sorted(p.name for p in run.folder.iterdir())
    with watched_outside(run):
        run.start()
        box = harness.probe_box("에러", timeout_ms=30000)
        assert box["found"], box
        assert box["text"].startswith(ABNORMAL_RUN) and "e2e-runs" in box["text"], box
        assert run.wait(20) is not None
    assert sorted(p.name for p in run.folder.iterdir()) == before
    assert run.version() == 10003
