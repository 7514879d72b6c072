"""The real launcher window under Wine: placement, shape, hover, quitting, dragging, the roads
of start-up that end in the updater, and the game start."""
import time

import harness
from harness import BASE_URL, near, skin_pixel, wait_until

READY_INFO = harness.INFO_HEAD + "10203\n"


def start_ready(launcher, server, *args):
    """A launcher whose client is current (10203): it ends ready, start button enabled."""
    server.put("LauncherPatchInfo.txt", READY_INFO)
    run = launcher()
    (run.folder / "update.dat").write_text(READY_INFO)
    run.write_config(10203)
    run.start(*args)
    return run


def test_window_is_centred_and_shaped_by_the_mask(launcher, server):
    run = start_ready(launcher, server)
    window = run.wait_window()
    m = harness.system_metrics()
    x, y, width, height = harness.window_geometry(window)
    assert (width, height) == (649, 489)
    assert x == int((m["cxfullscreen"] - 649) / 2)
    assert y == int((m["cyfullscreen"] + m["cycaption"] - 489) / 2)
    time.sleep(0.5)
    shot = harness.screenshot()
    # Above the panel and right of it the mask is black: the root window shows through.
    for wx, wy in [(300, 10), (630, 200), (0, 300)]:
        assert near(shot.getpixel((x + wx, y + wy)), (0, 0, 0), 2), (wx, wy)
    # The illustration is opaque: the background picture as it is.
    for wx, wy in [(300, 150), (100, 250), (500, 100)]:
        assert near(shot.getpixel((x + wx, y + wy)), skin_pixel(204, wx, wy)), (wx, wy)
    # The version label is the executable's own file version and the channel: "l1.1.1.24 live"
    # with the default LAUNCHER_FILE_VERSION.
    label = (10, 50, 300, 72)
    expected = harness.expected_frame("").crop(label).tobytes()
    actual = shot.crop((x + label[0], y + label[1], x + label[2], y + label[3])).tobytes()
    assert actual == expected
    assert run.running()


def test_hover_changes_the_button_picture_and_exit_quits(launcher, server):
    run = start_ready(launcher, server)
    x, y = run.origin()
    differing = [(dx, dy) for dx in range(2, 92, 5) for dy in range(2, 37, 5)
                 if not near(skin_pixel(210, dx, dy), skin_pixel(204, 335 + dx, 364 + dy), 24)]
    assert differing, "the hover picture must differ from the normal look"
    dx, dy = differing[0]
    harness.move_pointer(x + 335 + 47, y + 364 + 19)
    assert wait_until(lambda: near(harness.screenshot().getpixel((x + 335 + dx, y + 364 + dy)),
                                   skin_pixel(210, dx, dy)), timeout=5)
    harness.move_pointer(x + 5, y + 200)
    assert wait_until(lambda: near(harness.screenshot().getpixel((x + 335 + dx, y + 364 + dy)),
                                   skin_pixel(204, 335 + dx, 364 + dy)), timeout=5)
    harness.click(x + 335 + 47, y + 364 + 19)
    assert run.wait(10) == 0


def test_press_in_the_close_region_quits(launcher, server):
    run = start_ready(launcher, server)
    x, y = run.origin()
    harness.click(x + 592, y + 57)
    assert run.wait(10) == 0


def test_press_on_the_background_drags_and_hit_testing_follows(launcher, server):
    server.put("LauncherPatchInfo.txt", READY_INFO)
    run = launcher()
    run.write_config(10203)
    # A newer client of another series keeps the start button disabled: pressing it drags too.
    (run.folder / "update.dat").write_text(READY_INFO.replace("10203", "20001"))
    server.put("LauncherPatchInfo.txt", READY_INFO.replace("10203", "20001"))
    run.start()
    window = run.wait_window()
    x, y, _, _ = harness.window_geometry(window)
    harness.press(x + 77, y + 406)  # the disabled start button
    for step in range(1, 11):
        harness.move_pointer(x + 77 + step * 10, y + 406 + step * 5)
        time.sleep(0.05)
    harness.release()
    moved = wait_until(lambda: harness.window_geometry(window)[:2] != (x, y), timeout=5)
    assert moved
    nx, ny, _, _ = harness.window_geometry(window)
    assert abs((nx - x) - 100) <= 4 and abs((ny - y) - 50) <= 4
    # The exit button is found at its new place.
    harness.click(nx + 335 + 47, ny + 364 + 19)
    assert run.wait(10) == 0


def test_second_launcher_exits_with_one(launcher, server):
    first = start_ready(launcher, server)
    first.wait_window()
    second = launcher("second")
    second.start()
    assert second.wait(30) == 1
    assert first.running()


def write_update_road(run, server, installer="1.0.0.3", launcher_version=harness.LAUNCHER_VERSION):
    info = f"[INSTALLER]\n{installer}\n[LAUNCHER]\n{launcher_version}\n[PLAYER]\n10203\n"
    server.put("LauncherPatchInfo.txt", info)
    (run.folder / "update.dat").write_text(info)
    run.write_config(10203)


def test_installer_road_starts_the_updater(launcher, server):
    run = launcher()
    run.add_stand_in("Updater.exe")
    write_update_road(run, server, installer="1.0.0.10")
    harness.set_installed_installer("1.0.0.9")
    run.start()
    assert run.wait(60) == 0
    record = wait_until(lambda: run.started_record("Updater.exe"), timeout=10)
    assert record, "the updater was not started"
    assert record["arg1"] == "Installer" and record["arg2"] == "0"
    assert record["arg3"] == "1.0.0.10" and record["arg4"] == BASE_URL
    assert record["commandline"].split() == ["Updater", "Installer", "0", "1.0.0.10", BASE_URL]
    assert record["cwd"].lower() == harness.windows_path(run.folder).lower()


def test_launcher_road_passes_the_process_id(launcher, server):
    run = launcher()
    run.add_stand_in("Updater.exe")
    write_update_road(run, server, launcher_version=harness.NEWER_LAUNCHER_VERSION)
    run.start()
    assert run.wait(60) == 0
    record = wait_until(lambda: run.started_record("Updater.exe"), timeout=10)
    words = record["commandline"].split()
    assert words[:2] == ["Updater", "Launcher"] and words[3:] == [harness.NEWER_LAUNCHER_VERSION, BASE_URL]
    assert int(words[2]) > 0


def test_missing_updater_shows_error_code_two(launcher, server):
    run = launcher()
    write_update_road(run, server, installer="9.0.0.0")
    harness.set_installed_installer("1.0.0.0")
    run.start()
    box = harness.probe_box("Error")
    assert box["found"] and box["text"] == "Error code: 2"
    assert run.wait(20) == 0


def test_start_button_starts_the_game_with_the_arguments(launcher, server):
    run = start_ready(launcher, server, "-window", "-server", "7")
    run.add_stand_in("Brevanta.exe")
    x, y = run.origin()
    time.sleep(0.5)
    harness.click(x + 77, y + 406)
    assert run.wait(15) == 0
    record = wait_until(lambda: run.started_record("Brevanta.exe"), timeout=10)
    assert record["arg1"] == "-window" and record["arg2"] == "-server" and record["arg3"] == "7"
    assert record["cwd"].lower() == harness.windows_path(run.folder).lower()


def test_missing_game_shows_the_reinstall_box_and_the_launcher_stays(launcher, server):
    run = start_ready(launcher, server)
    x, y = run.origin()
    time.sleep(0.5)
    harness.click(x + 77, y + 406)
    # The shell reports the missing file with its own box first ("오류" in the Korean
    # locale); the launcher's own box follows once that is closed.
    harness.probe_box("오류", timeout_ms=8000)
    box = harness.probe_box("Error")
    assert box["found"]
    assert box["text"] == "실행 파일을 찾을수 없습니다. 프로그램을 재설치해 주시기 바랍니다"
    assert box["owner"] == "QOR Launcher"
    time.sleep(1)
    assert run.running()
