"""The Updater under Wine: the launcher's self-update from the old launcher's start to the new
one's ready state, the failures that must leave the old launcher whole, kills at any moment,
one Updater at a time, wrong arguments, and the installer road with a stand-in installer.

Wine gives a program that a windowed program starts a session of its own, so the Updater and
the new launcher are found by their working folder, the test's folder, and every test ends
what is left there by pid."""
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import harness
from harness import BUILD, ROOT, PORT, BASE_PATH, BASE_URL, wait_until

sys.path.insert(0, str(ROOT / "tools"))
import publish_patch  # noqa: E402

OLD, NEW = "1.1.1.24", "1.1.1.25"
NEXT_LAUNCHER = BUILD / "next" / "launcher.exe"
INFO = "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n{launcher}\n[PLAYER]\n10203\n"
TEMPORARY = (".updating", ".replaced")
LABEL = (10, 50, 300, 72)
# The Updater's exit codes (README: "The Updater").
DONE, USAGE, ALREADY_RUNNING, STILL_RUNNING, DOWNLOAD_FAILED = 0, 2, 3, 4, 5
WRONG_VERSION, WRONG_PROCESSOR = 7, 8


def server_folder():
    """Launcher or Launcher64: where this build's Updater looks."""
    return publish_patch.launcher_file_info(NEXT_LAUNCHER)[1]


# ---- processes -----------------------------------------------------------------------------

def processes_in(folder):
    """Pids of the processes working in folder (Wine sets a program's Unix working folder to
    its Windows one)."""
    root = str(Path(folder).resolve())
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            cwd = os.readlink(f"/proc/{entry}/cwd")
        except OSError:
            continue
        if cwd == root or cwd.startswith(root + "/") or cwd == root + " (deleted)":
            found.append(int(entry))
    return found


def program_of(pid):
    """The lower-case program name (without .exe) a Wine process runs, from its command line."""
    try:
        first = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[0].decode("latin-1")
    except OSError:
        return None
    name = first.replace("\\", "/").rsplit("/", 1)[-1].lower()
    return name[:-4] if name.endswith(".exe") else name


def running(folder, program):
    return [pid for pid in processes_in(folder) if program_of(pid) == program]


@pytest.fixture
def ends(folder):
    """Whatever still runs in the test's folder afterwards is ended by its pid."""
    yield
    for pid in processes_in(folder):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    wait_until(lambda: not harness.find_windows() and not harness.find_windows("Updater"), timeout=10)


def start_program(folder, name, *words, timeout=150):
    env = harness.wine_env({"WINE_RUN_TIMEOUT": str(timeout)})
    return subprocess.Popen([str(harness.WINE_RUN), name, *map(str, words)], cwd=folder, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)


def start_updater(folder, *words):
    return start_program(folder, "Updater.exe", *words)


# ---- folders and the server ----------------------------------------------------------------

def game_folder(launcher, server, required=NEW, subfolder=None):
    """Launcher 1.1.1.24 with the Updater beside it, a current client, the server asking for
    launcher `required` (nothing published yet)."""
    run = launcher(subfolder)
    shutil.copy2(BUILD / "Updater.exe", run.folder / "Updater.exe")
    info = INFO.format(launcher=required)
    server.put("LauncherPatchInfo.txt", info)
    (run.folder / "update.dat").write_text(info)
    run.write_config(10203)
    return run


def publish_next(server):
    version, _ = publish_patch.publish_launchers([NEXT_LAUNCHER], server.root)
    assert version == NEW
    return server.root / server_folder() / NEW / "launcher.exe"


def temporaries(folder):
    return sorted(p.name for p in Path(folder).iterdir() if p.name.endswith(TEMPORARY))


def old_launcher_intact(folder, name="launcher.exe"):
    return (Path(folder) / name).read_bytes() == (BUILD / "launcher.exe").read_bytes()


def expected_label(renderer):
    out = Path("/tmp") / f"expected-label-{os.getpid()}.rgb"
    result = harness.run_wine([renderer, harness.windows_path(out), "-", 3, 0, 0, 0, 0, 0], timeout=60)
    assert result.returncode == 0, result.stderr
    from PIL import Image
    pixels = out.read_bytes()
    out.unlink()
    return Image.frombytes("RGB", (649, 489), pixels).crop(LABEL).tobytes()


def ready_launcher_window(timeout=90):
    """The one launcher window, once its start button is enabled (the ready state)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        for window in harness.find_windows():
            geometry = harness.try_geometry(window)
            if geometry and geometry[2:] == (649, 489):
                shot = harness.screenshot()
                if harness.start_button_look(shot, geometry[:2]) == "enabled":
                    return window, geometry[:2], shot
        time.sleep(0.2)
    raise AssertionError("no launcher window reached the ready state")


def assert_new_launcher_ready(folder, published, started):
    window, origin, shot = ready_launcher_window()
    elapsed = time.time() - started
    label = shot.crop((origin[0] + LABEL[0], origin[1] + LABEL[1], origin[0] + LABEL[2], origin[1] + LABEL[3]))
    assert label.tobytes() == expected_label(BUILD / "next" / "render_frame.exe"), "the label is not l1.1.1.25"
    assert (Path(folder) / "launcher.exe").read_bytes() == published.read_bytes()
    return elapsed


def hands_over_and_comes_back_ready(run, published):
    """The launcher in run's folder hands over and ends; the Updater swaps in `published`, which
    comes back ready, and leaves nothing behind. The seconds from the start to the ready state."""
    started = time.time()
    run.start()
    assert run.wait(60) == 0
    elapsed = assert_new_launcher_ready(run.folder, published, started)
    assert wait_until(lambda: not running(run.folder, "updater"), timeout=20)
    assert temporaries(run.folder) == []
    return elapsed


# ---- the whole road ------------------------------------------------------------------------

def test_the_launcher_updates_itself_and_the_new_one_comes_back_ready(launcher, server, ends):
    run = game_folder(launcher, server, required=OLD)
    published = publish_next(server)
    mark = server.log_mark()
    elapsed = hands_over_and_comes_back_ready(run, published)
    fetched = [r for r in server.requests_since(mark) if r["path"].endswith("/launcher.exe")]
    assert [(r["path"], r["status"], r["agent"]) for r in fetched] == \
        [(f"{BASE_PATH}/{server_folder()}/{NEW}/launcher.exe", 200, "Updater")]
    print(f"\nself-update road: {elapsed:.1f} s from the old launcher's start to the new one's ready state")
    # Started from its folder without arguments: the game gets none either.
    run.add_stand_in("Brevanta.exe")
    window, origin, _ = ready_launcher_window()
    harness.click(origin[0] + 77, origin[1] + 406)
    record = wait_until(lambda: run.started_record("Brevanta.exe"), timeout=20)
    assert record and record["argc"] == "1", record
    assert record["cwd"].lower() == harness.windows_path(run.folder).lower()


def test_a_renamed_launcher_is_replaced_under_its_own_name(launcher, server, ends):
    run = game_folder(launcher, server)
    os.rename(run.folder / "launcher.exe", run.folder / "QorLauncher.exe")
    published = publish_next(server)
    old = start_program(run.folder, "QorLauncher.exe")
    assert old.wait(60) == 0
    ready_launcher_window()
    assert (run.folder / "QorLauncher.exe").read_bytes() == published.read_bytes()
    assert not (run.folder / "launcher.exe").exists() and temporaries(run.folder) == []


def test_a_read_only_launcher_is_replaced(launcher, server, ends):
    run = game_folder(launcher, server)
    (run.folder / "launcher.exe").chmod(0o444)  # Wine shows it as FILE_ATTRIBUTE_READONLY
    published = publish_next(server)
    started = time.time()
    run.start()
    assert run.wait(60) == 0
    assert_new_launcher_ready(run.folder, published, started)
    assert temporaries(run.folder) == []


def test_a_dns_name_as_base_passes_the_full_certificate_check(launcher, server, ends):
    run = game_folder(launcher, server)
    published = publish_next(server)
    updater = start_updater(run.folder, "Launcher", 0, NEW,
                            f"https://localhost:{PORT}{BASE_PATH}")
    assert updater.wait(60) == DONE
    ready_launcher_window()
    assert (run.folder / "launcher.exe").read_bytes() == published.read_bytes()


# ---- failures: the old launcher stays, a box tells why -------------------------------------

def other_machine(data):
    """The launcher's bytes with the PE machine of the other architecture."""
    data = bytearray(data)
    header = int.from_bytes(data[0x3C:0x40], "little")
    machine = int.from_bytes(data[header + 4:header + 6], "little")
    data[header + 4:header + 6] = (0x014C if machine == 0x8664 else 0x8664).to_bytes(2, "little")
    return bytes(data)


FAILURES = {
    # name: (how the server is set up, exit code, words in the box)
    "404": (lambda server: None, DOWNLOAD_FAILED, "the server answered 404"),
    "500": (lambda server: (publish_next(server), server.set_faults([f"{server_folder()}/*=status:500"])), DOWNLOAD_FAILED,
            "the server answered 500"),
    "short": (lambda server: (publish_next(server), server.set_faults([f"{server_folder()}/*=short:100000"])),
              DOWNLOAD_FAILED, "the download ended after 100000 of"),
    "nolength": (lambda server: (publish_next(server), server.set_faults([f"{server_folder()}/*=nolength"])),
                 DOWNLOAD_FAILED, "has no length"),
    "wrong-version": (lambda server: server.put(f"{server_folder()}/{NEW}/launcher.exe",
                                                (BUILD / "launcher.exe").read_bytes()),
                      WRONG_VERSION, f"has version {OLD}, not the required {NEW}"),
    "wrong-processor": (lambda server: server.put(f"{server_folder()}/{NEW}/launcher.exe",
                                                  other_machine(NEXT_LAUNCHER.read_bytes())),
                        WRONG_PROCESSOR, "not a program for this processor"),
}


@pytest.mark.parametrize("fault", sorted(FAILURES))
def test_a_failed_update_leaves_the_old_launcher_and_says_why(launcher, server, ends, fault):
    prepare, code, words = FAILURES[fault]
    run = game_folder(launcher, server)
    prepare(server)
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"], "no box from the Updater"
    assert words in box["text"] and "launcher.exe" in box["text"] and "Nothing was changed" in box["text"]
    assert updater.wait(30) == code
    assert old_launcher_intact(run.folder) and temporaries(run.folder) == []
    assert not harness.find_windows()  # no launcher was started


@pytest.mark.parametrize("cert,code", [("expired", 12037), ("wrong-host", 12038), ("untrusted", None)])
def test_a_certificate_the_launcher_would_accept_is_refused(launcher, server, ends, cert, code):
    import json
    ready = harness.STATE / f"ready-{cert}.json"
    if not ready.exists():
        pytest.skip(f"no {cert} server")
    port = json.loads(ready.read_text())["port"]
    run = game_folder(launcher, server)
    publish_next(server)
    updater = start_updater(run.folder, "Launcher", 0, NEW, f"https://127.0.0.1:{port}{BASE_PATH}")
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"] and "connection error" in box["text"], box
    if code:
        assert f"connection error {code}" in box["text"]
    assert updater.wait(30) == DOWNLOAD_FAILED
    assert old_launcher_intact(run.folder) and temporaries(run.folder) == []


@pytest.mark.parametrize("words", [[], ["Launcher", "12", NEW], ["Launcher", "x", NEW, BASE_URL],
                                   ["Installer", "12", NEW, BASE_URL], ["Launcher", "0", "1.1.25", BASE_URL],
                                   ["Launcher", "0", NEW, BASE_URL.replace("https", "http")]])
def test_wrong_arguments_show_the_usage_and_touch_nothing(launcher, server, ends, words):
    run = game_folder(launcher, server)
    (run.folder / "launcher.exe.updating").write_bytes(b"left by a killed run")
    before = sorted((p.name, p.read_bytes()) for p in run.folder.iterdir())
    updater = start_updater(run.folder, *words)
    box = harness.probe_box("Updater", timeout_ms=20000)
    assert box["found"] and "Updater Launcher <process id> <version> <patch base address>" in box["text"]
    assert updater.wait(30) == USAGE
    assert sorted((p.name, p.read_bytes()) for p in run.folder.iterdir()) == before


def test_a_launcher_that_does_not_end_is_waited_for_a_minute_and_left_alone(launcher, server, ends):
    run = game_folder(launcher, server)
    publish_next(server)
    # A launcher stand-in that hands over with its own id and stays for longer than the wait.
    shutil.copy2(BUILD / "hand_over.exe", run.folder / "launcher.exe")
    stand_in = (run.folder / "launcher.exe").read_bytes()
    started = time.time()
    start_program(run.folder, "launcher.exe", 120000, "Updater", "Launcher", "%PID%", NEW, BASE_URL)
    box = harness.probe_box("Updater", timeout_ms=90000)
    waited = time.time() - started
    assert box["found"] and "launcher.exe is still running after 60 seconds" in box["text"]
    assert 55 < waited < 85, waited
    # The stand-in writes its record after creating it: wait for the line, not for the file.
    handover = run.folder / "launcher.exe.handover.txt"
    assert wait_until(lambda: handover.exists() and "child_exit=" in handover.read_text(), timeout=20)
    assert "child_exit=4" in handover.read_text()
    assert (run.folder / "launcher.exe").read_bytes() == stand_in and temporaries(run.folder) == []


def test_a_second_updater_leaves_the_first_one_alone(launcher, server, ends):
    run = game_folder(launcher, server)
    published = publish_next(server)
    shutil.copy2(BUILD / "hand_over.exe", run.folder / "launcher.exe")
    # The first Updater waits for this stand-in, which ends after eight seconds.
    start_program(run.folder, "launcher.exe", 8000, "Updater", "Launcher", "%PID%", NEW, BASE_URL)
    assert wait_until(lambda: harness.find_windows("Updater"), timeout=30)
    second = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    assert second.wait(30) == ALREADY_RUNNING
    assert len(harness.find_windows("Updater")) == 1
    record = wait_until(lambda: (run.folder / "launcher.exe.handover.txt").exists(), timeout=60)
    # It left while the Updater still waited for it; the Updater then went on.
    assert record and "child_exit=running" in (run.folder / "launcher.exe.handover.txt").read_text()
    ready_launcher_window()
    assert (run.folder / "launcher.exe").read_bytes() == published.read_bytes()


# ---- killed at any moment ------------------------------------------------------------------

def test_an_updater_killed_mid_download_leaves_the_old_launcher_which_hands_over_again(launcher, server, ends):
    run = game_folder(launcher, server)
    published = publish_next(server)
    server.set_faults([f"{server_folder()}/*=slow:200000"])
    run.start()
    partial = run.folder / "launcher.exe.updating"
    assert wait_until(lambda: partial.exists() and partial.stat().st_size > 100000, timeout=60)
    updaters = running(run.folder, "updater")
    assert len(updaters) == 1
    os.kill(updaters[0], signal.SIGKILL)
    assert wait_until(lambda: not running(run.folder, "updater"), timeout=10)
    assert old_launcher_intact(run.folder)
    assert 0 < partial.stat().st_size < published.stat().st_size

    server.set_faults([])
    started = time.time()
    run.start()  # the player starts the old launcher again
    assert run.wait(60) == 0
    assert_new_launcher_ready(run.folder, published, started)
    assert temporaries(run.folder) == []


@pytest.mark.parametrize("killed_after", ["kept-aside", "moved-in-place"])
def test_an_updater_killed_mid_swap_leaves_a_whole_launcher(launcher, server, ends, killed_after):
    """The folder as a kill after each step of the swap leaves it (each step is one system
    call, too short to hit with a signal)."""
    run = game_folder(launcher, server)
    published = publish_next(server)
    old = (run.folder / "launcher.exe").read_bytes()
    if killed_after == "kept-aside":
        (run.folder / "launcher.exe.replaced").write_bytes(old)
        (run.folder / "launcher.exe.updating").write_bytes(published.read_bytes())
    else:
        (run.folder / "launcher.exe").write_bytes(published.read_bytes())
        (run.folder / "launcher.exe.replaced").write_bytes(old)
    started = time.time()
    run.start()
    if killed_after == "kept-aside":
        assert run.wait(60) == 0  # still the old launcher: it hands over again
    assert_new_launcher_ready(run.folder, published, started)
    # The new launcher never hands over, so its predecessor's copy waits for the next Updater.
    expected = [] if killed_after == "kept-aside" else ["launcher.exe.replaced"]
    assert temporaries(run.folder) == expected


# ---- the installer road --------------------------------------------------------------------

def test_the_installer_road_starts_the_downloaded_installer(launcher, server, ends):
    run = game_folder(launcher, server, required=OLD)
    info = INFO.format(launcher=OLD).replace("1.0.0.3", "1.0.0.10")
    server.put("LauncherPatchInfo.txt", info)
    server.put("Installer/1.0.0.10/QOR_Installer.exe", (BUILD / "stand_in.exe").read_bytes())
    harness.set_installed_installer("1.0.0.9")
    # Leftovers of a killed launcher update are cleared on the way.
    (run.folder / "launcher.exe.replaced").write_bytes(b"old copy")
    (run.folder / "launcher.exe.updating").write_bytes(b"partial")
    run.start()
    assert run.wait(60) == 0
    record = wait_until(lambda: run.started_record("QOR_Installer.exe"), timeout=60)
    assert record, "the installer was not started"
    assert record["argc"] == "1"
    assert record["cwd"].lower() == harness.windows_path(run.folder).lower()
    assert (run.folder / "QOR_Installer.exe").read_bytes() == (BUILD / "stand_in.exe").read_bytes()
    assert old_launcher_intact(run.folder) and temporaries(run.folder) == []

    # Installed: the next start deletes the installer and ends ready.
    harness.set_installed_installer("1.0.0.10")
    run.start()
    ready_launcher_window()
    assert not (run.folder / "QOR_Installer.exe").exists()
