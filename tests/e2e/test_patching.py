"""Background patching by the real launcher against the HTTPS test server."""
import io
import os
import stat
import subprocess
import time
import zipfile

import harness
from harness import wait_until

HEAD = harness.INFO_HEAD
READY = "게임을 시작할 준비가 되었습니다. [버전: {}]"


def make_zip(entries, directories=False):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries.items():
            if directories and "/" in name:
                z.writestr(name.rsplit("/", 1)[0] + "/", b"")
            z.writestr(name, data)
    return buffer.getvalue()


def attributes(folder, name):
    # Wine's cmd once printed nothing at all on a loaded machine: it is asked again, and what it
    # said is kept for the failure should it stay silent.
    for _ in range(3):
        result = harness.run_wine_command(["cmd", "/c", "attrib", name], cwd=folder)
        output = result.stdout.decode(errors="replace")
        if output:
            return output.split(harness.windows_path(folder)[:1])[0]
    raise AssertionError(f"attrib {name} printed nothing (exit {result.returncode}): "
                         f"{result.stderr.decode(errors='replace')!r}")


def test_typical_road_patches_step_by_step_and_starts_the_game(launcher, server):
    # About four seconds of a.zip at the slow rate, so that screenshots land inside the file even
    # on a loaded machine.
    a_zip = make_zip({"data/maps/field.map": b"F" * 300000, "data/sound/bgm.ogg": os.urandom(600000)})
    b_zip = make_zip({"readonly.dat": b"new content"})
    c_zip = make_zip({"data/quests/q2.qst": b"Q2" * 1000}, directories=True)
    notice = b"Welcome to season 2\r\n"
    server.put("Player/a.zip", a_zip)
    server.put("Player/b.zip", b_zip)
    server.put("Player/notice.txt", notice)
    server.put("Player/sub/c.zip", c_zip)
    server.put("LauncherPatchInfo.txt", HEAD + "10002 base.zip\n10003 a.zip b.zip\n10004 notice.txt sub/c.zip\n")
    server.set_faults(["Player/*=slow:150000"])
    run = launcher()
    run.add_stand_in("Brevanta.exe")
    run.write_config(10002)
    (run.folder / "readonly.dat").write_bytes(b"old")
    os.chmod(run.folder / "readonly.dat", stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    run.start("-patched")
    origin = run.origin()

    saw_downloading = wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin,
                                                                   "Downloading file (a.zip)"), timeout=30)
    assert saw_downloading
    fills = []
    deadline = time.time() + 60
    while time.time() < deadline and not harness.status_line_shows(harness.screenshot(), origin, READY.format(10004)):
        shot = harness.screenshot()
        fills.append((harness.bar_fill(shot, origin, 418, 216), harness.bar_fill(shot, origin, 430, 217)))
    shot = harness.screenshot()
    assert harness.status_line_shows(shot, origin, READY.format(10004))
    assert harness.start_button_look(shot, origin) == "enabled"
    assert any(0 < upper < 276 for upper, _ in fills), fills  # the upper bar moved within a file
    assert any(0 < lower < 276 for _, lower in fills), fills  # the lower bar moved across files
    assert harness.bar_fill(shot, origin, 418, 216) >= 274 and harness.bar_fill(shot, origin, 430, 217) >= 274

    assert run.version() == 10004
    folder = run.folder
    assert not list(folder.glob("*.zip")) and not (folder / "sub" / "c.zip").exists()
    assert (folder / "data/maps/field.map").read_bytes() == b"F" * 300000
    assert (folder / "readonly.dat").read_bytes() == b"new content"
    assert (folder / "data/quests/q2.qst").read_bytes() == b"Q2" * 1000
    assert (folder / "notice.txt").read_bytes() == notice
    flags = attributes(folder, "Brevanta.exe")
    assert "R" in flags and "H" in flags, flags

    harness.click(origin[0] + 77, origin[1] + 406)
    assert run.wait(20) == 0
    record = wait_until(lambda: run.started_record("Brevanta.exe"), timeout=10)
    assert record["arg1"] == "-patched"


def test_a_missing_file_stops_patching_after_the_last_complete_step(launcher, server):
    for name in ("a.zip", "b.zip", "c.zip"):
        server.put(f"Player/{name}", make_zip({f"{name}.txt": name.encode()}))
    server.put("LauncherPatchInfo.txt", HEAD + "10003 a.zip\n10004 b.zip\n10005 c.zip d.zip\n")
    run = launcher()
    run.write_config(10002)
    run.start()
    origin = run.origin()
    assert wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin,
                                                        "Downloading failed [404] (d.zip)"), timeout=40)
    assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
    assert run.version() == 10004
    assert (run.folder / "c.zip.txt").exists() and not (run.folder / "d.zip").exists()
    time.sleep(1)
    assert run.running()


def test_a_short_body_leaves_no_file(launcher, server):
    server.put("Player/big.bin", os.urandom(100000))
    server.put("LauncherPatchInfo.txt", HEAD + "10003 big.bin\n")
    server.set_faults(["Player/big.bin=short:5000"])
    run = launcher()
    run.write_config(10002)
    run.start()
    origin = run.origin()
    assert wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin,
                                                        "Downloading failed - read (big.bin)"), timeout=30)
    assert not (run.folder / "big.bin").exists()
    assert run.version() == 10002


def test_an_archive_made_by_bsdtar_patches_in_place(launcher, server, folder):
    """bsdtar, the tar that Windows ships (tar -a -c -f patch.zip .), names every entry after a
    first "./": "./", "./Data/", "./Data/Maps/a.map". The launcher unpacks it as unzip does."""
    source = folder / "bsdtar-source"
    (source / "Data" / "Maps").mkdir(parents=True)
    (source / "Data" / "Maps" / "a.map").write_bytes(b"map " * 50000)
    (source / "Data" / "notes.txt").write_bytes(b"new notes")
    (source / "top.bin").write_bytes(os.urandom(70000))
    archive = folder / "bsdtar.zip"
    subprocess.run(["timeout", "60", "bsdtar", "--format", "zip", "-c", "-f", str(archive), "-C", str(source), "."],
                   check=True, capture_output=True)
    names = zipfile.ZipFile(archive).namelist()
    assert names[0] == "./" and "./Data/Maps/a.map" in names, names
    server.put("Player/patch.zip", archive.read_bytes())
    server.put("LauncherPatchInfo.txt", HEAD + "10003 patch.zip\n")
    run = launcher("game")
    run.write_config(10002)
    (run.folder / "Data").mkdir()
    (run.folder / "Data" / "notes.txt").write_bytes(b"old notes")
    run.start()
    origin = run.origin()
    assert wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin, READY.format(10003)),
                      timeout=40)
    assert harness.start_button_look(harness.screenshot(), origin) == "enabled"
    assert run.version() == 10003
    for name in ("Data/Maps/a.map", "Data/notes.txt", "top.bin"):
        assert (run.folder / name).read_bytes() == (source / name).read_bytes(), name
    assert sorted(p.name for p in run.folder.iterdir()) == ["Data", "config", "launcher.exe", "top.bin", "update.dat"]
    assert not list(run.folder.rglob("*.part"))


def test_a_damaged_archive_shows_the_abnormal_run_box_and_ends(launcher, server):
    # Compressible data, so the entry is really deflated; then its compressed bytes are spoilt.
    good = make_zip({"x.bin": b"abcdefgh" * 20000})
    damaged = bytearray(good)
    start = 30 + len("x.bin")
    damaged[start:start + 64] = b"\xff" * 64
    server.put("Player/bad.zip", bytes(damaged))
    server.put("LauncherPatchInfo.txt", HEAD + "10003 bad.zip\n")
    run = launcher()
    run.write_config(10002)
    run.start()
    box = harness.probe_box("에러", timeout_ms=60000)
    assert box["found"], box
    assert box["text"] == "런처가 정상적으로 실행되지 못했습니다.다시 실행해 주십시오."
    assert box["owner"] == "QOR Launcher"
    assert run.wait(20) == 0
    assert run.version() == 10002
    assert not (run.folder / "bad.zip").exists()


def test_archive_entries_outside_the_folder_are_never_written(launcher, server):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        z.writestr("inside.txt", b"fine")
        z.writestr("../outside.txt", b"escaped")
    server.put("Player/evil.zip", buffer.getvalue())
    server.put("LauncherPatchInfo.txt", HEAD + "10003 evil.zip\n")
    run = launcher("game")
    run.write_config(10002)
    run.start()
    harness.probe_box("에러", timeout_ms=60000)
    run.wait(20)
    assert not (run.folder.parent / "outside.txt").exists()
    assert run.version() == 10002


def test_a_patch_name_outside_the_folder_is_refused(launcher, server):
    server.put("Player/x.bin", b"x")
    server.put("LauncherPatchInfo.txt", HEAD + "10003 ../x.bin\n")
    run = launcher("game")
    run.write_config(10002)
    run.start()
    origin = run.origin()
    assert wait_until(lambda: harness.start_button_look(harness.screenshot(), origin) == "disabled", timeout=20)
    time.sleep(2)
    assert not (run.folder.parent / "x.bin").exists()
    assert run.version() == 10002


def test_an_interrupted_patch_resumes_at_the_first_incomplete_step(launcher, server):
    server.put("Player/small.zip", make_zip({"small.txt": b"s"}))
    server.put("Player/large.bin", os.urandom(3_000_000))
    server.put("LauncherPatchInfo.txt", HEAD + "10003 small.zip\n10004 large.bin\n")
    server.set_faults(["Player/large.bin=slow:100000"])
    run = launcher()
    run.write_config(10002)
    run.start()
    run.wait_window()
    assert wait_until(lambda: run.version() == 10003 and list(run.folder.glob("large.bin.~*.part")), timeout=30)
    run.stop()  # killed in the middle of the large file
    assert run.version() == 10003
    assert not (run.folder / "large.bin").exists()
    # The system removed the partial file as the process ended.
    assert not list(run.folder.glob("large.bin*"))

    server.set_faults([])
    mark = server.log_mark()
    second = launcher()
    second.start()
    origin = second.origin()
    assert wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin, READY.format(10004)),
                      timeout=40)
    fetched = [r["path"].rsplit("/", 1)[-1] for r in server.requests_since(mark) if r["method"] == "GET"]
    assert "small.zip" not in fetched and "large.bin" in fetched
    assert second.version() == 10004
    assert not list(second.folder.glob("*.part"))



# What Wine's crash handling leaves in a program's output when it catches a fault.
CRASH_SIGNS = ("Unhandled", "Backtrace", "winedbg", "page fault")


def test_quitting_while_patching_ends_cleanly_every_time(launcher, server, folder):
    """The worker is abandoned at exit and goes on while the process tears itself down around it:
    quitting in a slow download, or among the entries of an archive (the worker writes the
    status line at each), ends with 0 every time, brings up no crash report and leaves no
    partial file."""
    many = io.BytesIO()
    with zipfile.ZipFile(many, "w", zipfile.ZIP_STORED) as z:
        for i in range(20000):
            z.writestr(f"many/e{i:05}.txt", b"x")
    server.put("Player/many.zip", many.getvalue())
    server.put("Player/slow.bin", os.urandom(2_000_000))
    server.set_faults(["Player/slow.bin=slow:50000"])
    for round_ in range(10):
        unpacking = round_ % 2 == 1
        server.put("LauncherPatchInfo.txt", HEAD + ("10003 many.zip\n" if unpacking else "10003 slow.bin\n"))
        run = launcher(f"round{round_}")
        run.write_config(10002)
        output = folder / f"round{round_}.out"
        run.start(output=output)
        origin = run.origin()
        if unpacking:
            assert wait_until(lambda: (run.folder / "many" / "e00050.txt").exists(), timeout=60), round_
        else:
            assert wait_until(lambda: list(run.folder.glob("slow.bin*")), timeout=30), round_
        harness.click(origin[0] + 335 + 47, origin[1] + 364 + 19)
        code = run.wait(30)
        crash_windows = harness.find_windows("Program Error")
        text = output.read_bytes().decode("utf-8", "replace")
        run.stop()
        harness.move_pointer(0, 0)  # a pointer already in place makes the next click's move wait
        assert code == 0, (round_, code, text[-2000:])
        assert not crash_windows, round_
        assert not any(sign in text for sign in CRASH_SIGNS), (round_, text[-2000:])
        assert not list(run.folder.rglob("*.part")), round_
        assert run.version() == 10002
