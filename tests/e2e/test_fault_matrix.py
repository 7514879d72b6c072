"""The fault matrix: hostile input and failures met by the real launcher under Wine against the
HTTPS test server. Each test is one row of the README's table. Beside what the player sees,
every row checks what is on disk afterwards: the version record names no step whose files were
not all written, an existing file is only ever replaced by a whole new one, nothing is written
outside the game folder, and the launcher neither crashed nor hangs (it either ended by itself
as designed, or its exit button still ends it with 0)."""
import contextlib
import io
import os
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

import harness
from harness import wait_until

HEAD = harness.INFO_HEAD
READY = "게임을 시작할 준비가 되었습니다. [버전: {}]"
UNREACHABLE = "정보를 서버로부터 가지고 올 수 없습니다."
REINSTALL = "인스톨용 클라이언트를 다시 받아주세요."
ABNORMAL_RUN = "런처가 정상적으로 실행되지 못했습니다.다시 실행해 주십시오."
CONFIG_INCORRECT = "config.txt is incorrect."
EXIT_BUTTON = (335 + 47, 364 + 19)


def zip_bytes(entries):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries.items():
            z.writestr(name, data)
    return buffer.getvalue()


def damaged_in_the_middle(first, middle, last):
    """A zip whose second entry's deflated data is spoilt."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(first[0], first[1])
        start = buffer.tell()
        z.writestr(middle[0], middle[1])
        end = buffer.tell()
        z.writestr(last[0], last[1])
    data = bytearray(buffer.getvalue())
    # Its first block header becomes the reserved block type: inflating it must fail.
    spoil = start + 30 + len(middle[0])
    data[spoil:spoil + 64] = b"\xff" * 64
    return bytes(data)


def outside_state(run):
    """What a run could have written outside its game folder: the test's folder around it, and
    the prefix's drive C less the places Wine keeps its own caches, logs and temporary files."""
    seen = set()
    outer = run.folder.parent
    for path in outer.rglob("*"):
        if path == run.folder or run.folder in path.parents:
            continue
        seen.add(("test", str(path.relative_to(outer)), path.stat().st_size if path.is_file() else -1))
    drive = Path(harness.wine_env()["WINEPREFIX"]) / "drive_c"
    for root, dirs, files in os.walk(drive):
        relative = Path(root).relative_to(drive)
        dirs[:] = [d for d in dirs if not (str(relative) == "." and d == "windows")
                   and d not in ("AppData", "Temp", "temp")]
        for name in files:
            seen.add(("C:", str(relative / name), -1))
    return seen


@contextlib.contextmanager
def watched_outside(run):
    before = outside_state(run)
    yield
    after = outside_state(run)
    assert after - before == set(), f"written outside the game folder: {sorted(after - before)}"


def ends_on_its_exit_button(run, origin):
    """No crash and no hang: the window still answers, and its exit button ends it with 0."""
    assert run.running(), "the launcher ended by itself"
    harness.click(origin[0] + EXIT_BUTTON[0], origin[1] + EXIT_BUTTON[1])
    assert run.wait(20) == 0


def shows(origin, text, timeout=30):
    seen = wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin, text), timeout=timeout)
    if not seen:
        # Kept for the reader of a failed run: what the window showed instead.
        harness.screenshot(harness.RUNS / f"status-not-shown-{os.getpid()}-{int(time.time())}.png")
    return seen


def runs_to_a_failure(run, text):
    """Starts the run and watches it stop at the failure `text` with the start button disabled,
    then ends it by its exit button; nothing may be written outside its folder meanwhile."""
    with watched_outside(run):
        run.start()
        origin = run.origin()
        assert shows(origin, text)
        assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
        ends_on_its_exit_button(run, origin)


def no_partial_files(folder):
    return [str(p.relative_to(folder)) for p in folder.rglob("*.part")] + \
        [str(p.relative_to(folder)) for p in folder.rglob("*.new")]


@contextlib.contextmanager
def small_volume(path, size):
    """A tmpfs of `size` bytes at path: writes past it really fail."""
    path.mkdir(parents=True, exist_ok=True)
    result = subprocess.run(["timeout", "10", "mount", "-t", "tmpfs", "-o", f"size={size},mode=0777", "tmpfs",
                             str(path)], capture_output=True)
    if result.returncode != 0:
        pytest.skip(f"cannot mount a small file system here: {result.stderr.decode().strip()}")
    try:
        yield path
    finally:
        subprocess.run(["timeout", "20", "umount", "-l", str(path)], capture_output=True)


def patched_launcher(launcher, server, steps, installed, subfolder="game", old_copy=None):
    """A game folder at version `installed`, the server publishing `steps` (text lines)."""
    server.put("LauncherPatchInfo.txt", HEAD + f"{installed}\n" + "".join(line + "\n" for line in steps))
    run = launcher(subfolder)
    run.write_config(installed)
    if old_copy is not None:
        (run.folder / "update.dat").write_text(old_copy)
    return run


# ---- the patch information ------------------------------------------------------------------

# Cut just after the version of step 10004: parsed, that copy would make a step without files.
CUT = len(HEAD + "10003\n10004")


@pytest.mark.parametrize("fault", ["status:500", "status:404", f"short:{CUT}", f"reset:{CUT}"],
                         ids=["500", "404", "short", "reset"])
def test_patch_information_that_fails_keeps_the_previous_copy(launcher, server, fault):
    old_copy = HEAD + "10003\n"
    run = patched_launcher(launcher, server, ["10004 a.txt"], 10003, old_copy=old_copy)
    server.put("Player/a.txt", "a")
    server.set_faults([f"LauncherPatchInfo.txt={fault}"])
    mark = server.log_mark()
    with watched_outside(run):
        run.start()
        origin = run.origin()
        # The old copy names the installed version: ready, on what the server said last time.
        assert shows(origin, READY.format(10003), timeout=20)
        assert harness.start_button_look(harness.screenshot(), origin) == "enabled"
        ends_on_its_exit_button(run, origin)
    assert (run.folder / "update.dat").read_text() == old_copy
    assert run.version() == 10003
    assert not no_partial_files(run.folder)
    assert not [r for r in server.requests_since(mark) if r["path"].endswith("/a.txt")]


def test_published_patch_information_cut_mid_line_fails_its_step_visibly(launcher, server):
    server.put("Player/a.txt", "a")
    run = launcher("game")
    run.write_config(10003)
    server.put("LauncherPatchInfo.txt", HEAD + "10003\n10004 a.t")
    runs_to_a_failure(run, "Downloading failed [404] (a.t)")
    assert run.version() == 10003
    assert sorted(p.name for p in run.folder.iterdir()) == ["config", "launcher.exe", "update.dat"]


def test_a_step_with_seventeen_names_is_refused_whole(launcher, server):
    names = [f"f{i:02d}.txt" for i in range(17)]
    for name in names:
        server.put(f"Player/{name}", name)
    server.put("Player/first.txt", "first")
    run = patched_launcher(launcher, server, ["10004 first.txt", "10005 " + " ".join(names)], 10003)
    mark = server.log_mark()
    runs_to_a_failure(run, "Downloading failed - too_many_files (10005)")
    # The step before it is applied and recorded; of the refused one nothing was fetched.
    assert run.version() == 10004
    assert (run.folder / "first.txt").read_text() == "first"
    assert not any((run.folder / name).exists() for name in names)
    assert not [r for r in server.requests_since(mark) if r["path"].rsplit("/", 1)[-1] in names]


def test_a_step_with_an_over_long_name_is_refused(launcher, server):
    long_name = "n" * 66 + ".bin"
    server.put(f"Player/{long_name}", "x")
    server.put(f"Player/{long_name[:63]}", "a file of the cut name must not be taken for it")
    run = patched_launcher(launcher, server, [f"10004 {long_name}"], 10003)
    runs_to_a_failure(run, f"Downloading failed - name_too_long ({long_name[:63]})")
    assert run.version() == 10003
    assert not (run.folder / long_name[:63]).exists()


def test_a_hundred_and_one_steps_take_two_starts(launcher, server):
    server.put("Player/one.txt", "one")
    server.put("Player/last.txt", "last")
    steps = ["10001 one.txt"] + [str(10001 + i) for i in range(1, 100)] + ["10101 last.txt"]
    run = patched_launcher(launcher, server, steps, 10000)
    with watched_outside(run):
        run.start()
        origin = run.origin()
        # A hundred steps are read at a time: the first start ends at the hundredth.
        assert shows(origin, READY.format(10100), timeout=60)
        assert run.version() == 10100
        assert (run.folder / "one.txt").read_text() == "one"
        assert not (run.folder / "last.txt").exists()
        ends_on_its_exit_button(run, origin)

        second = launcher("game")
        second.start()
        origin = second.origin()
        assert shows(origin, READY.format(10101), timeout=40)
        ends_on_its_exit_button(second, origin)
    assert second.version() == 10101
    assert (second.folder / "last.txt").read_text() == "last"


# ---- the patch files -------------------------------------------------------------------------

@pytest.mark.parametrize("fault, text", [
    ("status:403", "Downloading failed [403] (data.bin)"),
    ("status:500", "Downloading failed [500] (data.bin)"),
    ("status:503", "Downloading failed [503] (data.bin)"),
    ("short:50000", "Downloading failed - read (data.bin)"),
    ("nolength", "Downloading failed - query_size (data.bin)"),
    ("reset:50000", "Downloading failed - read (data.bin)"),
], ids=["403", "500", "503", "short", "nolength", "reset"])
def test_a_patch_file_that_fails_leaves_the_old_file(launcher, server, fault, text):
    server.put("Player/first.txt", "first")
    server.put("Player/data.bin", os.urandom(200000))
    run = patched_launcher(launcher, server, ["10004 first.txt", "10005 data.bin"], 10003)
    (run.folder / "data.bin").write_bytes(b"the installed version's data")
    server.set_faults([f"Player/data.bin={fault}"])
    runs_to_a_failure(run, text)
    assert run.version() == 10004
    assert (run.folder / "first.txt").read_text() == "first"
    assert (run.folder / "data.bin").read_bytes() == b"the installed version's data"
    assert not no_partial_files(run.folder)


def archive_run(launcher, server, archive, prepare=None):
    """A launcher whose one pending step is the archive patch.zip; it must give up with the
    abnormal-run box and end."""
    server.put("Player/patch.zip", archive)
    run = patched_launcher(launcher, server, ["10004 patch.zip"], 10003)
    if prepare:
        prepare(run.folder)
    with watched_outside(run):
        run.start()
        box = harness.probe_box("에러", timeout_ms=60000)
        assert box["found"], box
        assert box["text"] == ABNORMAL_RUN and box["owner"] == harness.TITLE
        assert run.wait(20) == 0
    assert run.version() == 10003
    assert not (run.folder / "patch.zip").exists()
    assert not no_partial_files(run.folder)
    return run


def test_an_archive_that_is_not_a_zip_ends_the_launcher(launcher, server):
    archive_run(launcher, server, b"<html>not found</html>\n" * 40)


def test_a_damaged_entry_in_the_middle_keeps_the_old_file(launcher, server):
    def prepare(folder):
        (folder / "middle.bin").write_bytes(b"old middle")
        (folder / "last.bin").write_bytes(b"old last")
    archive = damaged_in_the_middle(("first.bin", b"new first"), ("middle.bin", b"middle data " * 40000),
                                    ("last.bin", b"new last"))
    run = archive_run(launcher, server, archive, prepare)
    # Entries before the damage are unpacked; the damaged one and those after it are as they were.
    assert (run.folder / "first.bin").read_bytes() == b"new first"
    assert (run.folder / "middle.bin").read_bytes() == b"old middle"
    assert (run.folder / "last.bin").read_bytes() == b"old last"


def test_an_entry_that_does_not_match_its_crc_keeps_the_old_file(launcher, server):
    def prepare(folder):
        (folder / "data.bin").write_bytes(b"old data")
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as z:
        z.writestr("first.bin", b"new first")
        z.writestr("data.bin", b"stored data " * 1000)
        z.writestr("last.bin", b"new last")
    archive = bytearray(buffer.getvalue())
    # One byte of the stored data changed: it reads without error, only its CRC-32 tells.
    at = archive.index(b"stored data ") + 5000
    archive[at] ^= 0x20
    run = archive_run(launcher, server, bytes(archive), prepare)
    assert (run.folder / "first.bin").read_bytes() == b"new first"
    assert (run.folder / "data.bin").read_bytes() == b"old data"
    assert not (run.folder / "last.bin").exists()


def test_an_archive_of_a_method_not_read_installs_nothing(launcher, server, folder):
    """7-Zip's Deflate64 (7z a -tzip -mm=Deflate64): 7-Zip still stores what does not shrink, so
    the archive holds a stored entry before the first one the launcher cannot read."""
    source = folder / "deflate64-source"
    (source / "Data").mkdir(parents=True)
    (source / "Data" / "a.rnd").write_bytes(os.urandom(40000))
    (source / "Data" / "b.txt").write_bytes(b"compressible text " * 20000)
    (source / "c.txt").write_bytes(b"more text " * 20000)
    archive = folder / "deflate64.zip"
    subprocess.run(["timeout", "60", "7zz", "a", "-tzip", "-mm=Deflate64", str(archive), "."], cwd=source,
                   check=True, capture_output=True)
    methods = [(i.filename, i.compress_type) for i in zipfile.ZipFile(archive).infolist()]
    assert ("Data/a.rnd", zipfile.ZIP_STORED) in methods and ("Data/b.txt", 9) in methods, methods
    assert [name for name, _ in methods].index("Data/a.rnd") < [name for name, _ in methods].index("Data/b.txt")

    def prepare(game):
        (game / "Data").mkdir()
        (game / "Data" / "a.rnd").write_bytes(b"installed a")
        (game / "Data" / "b.txt").write_bytes(b"installed b")
    run = archive_run(launcher, server, archive.read_bytes(), prepare)
    assert (run.folder / "Data" / "a.rnd").read_bytes() == b"installed a"
    assert (run.folder / "Data" / "b.txt").read_bytes() == b"installed b"
    assert not (run.folder / "c.txt").exists()
    assert sorted(p.name for p in run.folder.iterdir()) == ["Data", "config", "launcher.exe", "update.dat"]


def test_an_archive_entry_escaping_the_folder_is_never_written(launcher, server):
    run = archive_run(launcher, server, zip_bytes({"inside.txt": b"fine", "../outside.txt": b"escaped",
                                                   "C:/Windows/evil.txt": b"escaped"}))
    assert not (run.folder.parent / "outside.txt").exists()


def test_an_entry_seventeen_levels_deep_cannot_be_created(launcher, server):
    deep = "/".join(f"l{i}" for i in range(1, 18)) + "/deep.txt"
    run = archive_run(launcher, server, zip_bytes({deep: b"deep"}))
    assert not list(run.folder.rglob("deep.txt*"))


# ---- the game folder -------------------------------------------------------------------------

def test_an_existing_read_only_file_is_replaced(launcher, server):
    server.put("Player/notice.txt", "new notice")
    server.put("Player/patch.zip", zip_bytes({"data/locked.dat": b"new locked"}))
    run = patched_launcher(launcher, server, ["10004 notice.txt patch.zip"], 10003)
    (run.folder / "data").mkdir()
    for name, old in (("notice.txt", b"old notice"), ("data/locked.dat", b"old locked")):
        (run.folder / name).write_bytes(old)
        harness.run_wine_command(["cmd", "/c", "attrib", "+r", name.replace("/", "\\")], cwd=run.folder)
    with watched_outside(run):
        run.start()
        origin = run.origin()
        assert shows(origin, READY.format(10004))
        ends_on_its_exit_button(run, origin)
    assert (run.folder / "notice.txt").read_text() == "new notice"
    assert (run.folder / "data/locked.dat").read_text() == "new locked"
    assert run.version() == 10004


def test_files_named_like_partial_files_are_never_emptied(launcher, server):
    server.put("Player/b.bin", "new b")
    server.put("Player/patch.zip", zip_bytes({"a.part": b"entry a.part", "a": b"entry a"}))
    run = patched_launcher(launcher, server, ["10004 b.bin patch.zip"], 10003)
    (run.folder / "b.bin.part").write_bytes(b"client b.bin.part")
    (run.folder / "b.bin.~0.part").write_bytes(b"client b.bin.~0.part")
    with watched_outside(run):
        run.start()
        origin = run.origin()
        assert shows(origin, READY.format(10004))
        ends_on_its_exit_button(run, origin)
    assert (run.folder / "b.bin").read_bytes() == b"new b"
    assert (run.folder / "a").read_bytes() == b"entry a"
    assert (run.folder / "a.part").read_bytes() == b"entry a.part"
    assert (run.folder / "b.bin.part").read_bytes() == b"client b.bin.part"
    assert (run.folder / "b.bin.~0.part").read_bytes() == b"client b.bin.~0.part"
    assert sorted(no_partial_files(run.folder)) == ["a.part", "b.bin.part", "b.bin.~0.part"]
    assert run.version() == 10004


def test_a_folder_where_a_file_should_go_is_left_alone(launcher, server):
    server.put("Player/notice.txt", "new notice")
    run = patched_launcher(launcher, server, ["10004 notice.txt"], 10003)
    (run.folder / "notice.txt").mkdir()
    (run.folder / "notice.txt" / "keep.txt").write_text("kept")
    runs_to_a_failure(run, "Creating file failed. (notice.txt)")
    assert (run.folder / "notice.txt" / "keep.txt").read_text() == "kept"
    assert run.version() == 10003
    assert not no_partial_files(run.folder)


def test_a_read_only_game_folder_changes_nothing(launcher, server, folder):
    server.put("Player/a.txt", "a")
    game = folder / "game"
    with small_volume(game, 16 * 1024 * 1024):
        run = patched_launcher(launcher, server, ["10004 a.txt"], 10003, old_copy=HEAD + "10003\n10004 a.txt\n")
        before = {p.name: p.read_bytes() for p in game.iterdir()}
        subprocess.run(["timeout", "10", "mount", "-o", "remount,ro", str(game)], check=True)
        try:
            # The fresh copy cannot be stored: the kept one still names the pending step, whose
            # file cannot be created.
            runs_to_a_failure(run, "Creating file failed. (a.txt)")
        finally:
            run.stop()
        assert {p.name: p.read_bytes() for p in game.iterdir()} == before


def test_a_full_disk_fails_the_file_and_keeps_the_last_whole_step(launcher, server, folder):
    server.put("Player/small.txt", "small")
    server.put("Player/big.bin", os.urandom(2 * 1024 * 1024))
    game = folder / "game"
    size = (harness.BUILD / "launcher.exe").stat().st_size + 512 * 1024
    with small_volume(game, size):
        run = patched_launcher(launcher, server, ["10004 small.txt", "10005 big.bin"], 10003)
        try:
            runs_to_a_failure(run, "Downloading failed - write (big.bin)")
        finally:
            run.stop()
        assert run.version() == 10004
        assert (game / "small.txt").read_text() == "small"
        assert not (game / "big.bin").exists()
        assert not no_partial_files(game)


# ---- the version record ----------------------------------------------------------------------

@pytest.mark.parametrize("kind", ["empty", "garbage", "huge", "directory"])
def test_a_broken_version_record_starts_over_at_version_one(launcher, server, kind):
    run = patched_launcher(launcher, server, ["10004 a.txt"], 10003)
    config = run.folder / "config"
    config.unlink()
    if kind == "empty":
        config.write_bytes(b"")
    elif kind == "garbage":
        config.write_bytes(bytes(range(256)) * 3)
    elif kind == "huge":
        config.write_bytes(os.urandom(200 * 1024))
    else:
        config.mkdir()
        (config / "keep.txt").write_text("kept")
    with watched_outside(run):
        run.start()
        if kind == "directory":
            # Not readable as a record, and the new record cannot take the folder's place:
            # once when the record is replaced, once more before the first fetch.
            for _ in range(2):
                box = harness.probe_box("Error", timeout_ms=30000)
                assert box["found"] and box["text"] == "Can't open Config", box
        else:
            box = harness.probe_box("에러", timeout_ms=30000)
            assert box["found"] and box["text"] == CONFIG_INCORRECT and box["owner"] == harness.TITLE, box
        origin = run.origin()
        # Version 1 is of another series than the published client: reinstall, nothing fetched.
        assert shows(origin, REINSTALL)
        assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
        ends_on_its_exit_button(run, origin)
    if kind == "directory":
        assert (config / "keep.txt").read_text() == "kept"
    else:
        assert run.version() == 1
    assert not no_partial_files(run.folder)
