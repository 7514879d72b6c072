"""Build-time branding: addresses, names and messages reach the built-in settings, and a wrong
skin picture stops the build with its name."""
import shutil
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def configure(build, *options):
    return subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *options], capture_output=True, text=True,
                          timeout=300)


def test_operator_values_are_baked_into_the_settings(tmp_path):
    messages = tmp_path / "messages.txt"
    messages.write_text("MsgReady=Ready to play! [version:% d]\nErrorCaption=오류\nMsgVersionMissing=line one\\nline two\n",
                        encoding="utf-8")
    build = tmp_path / "build"
    result = configure(build, "-DLAUNCHER_PATCH_BASE_URL=https://patch.mygame.example/live",
                       "-DLAUNCHER_GAME_EXECUTABLE=MyGame.exe", "-DLAUNCHER_CHANNEL_NAME=beta",
                       f"-DLAUNCHER_MESSAGES_FILE={messages}")
    assert result.returncode == 0, result.stderr
    header = (build / "generated" / "build_settings.h").read_text(encoding="utf-8")
    assert '#define LAUNCHER_PATCH_BASE_URL "https://patch.mygame.example/live"' in header
    assert '#define LAUNCHER_GAME_EXECUTABLE "MyGame.exe"' in header
    assert '#define LAUNCHER_CHANNEL_NAME "beta"' in header
    assert '#define LAUNCHER_TEXT_MsgReady "Ready to play! [version:% d]"' in header
    assert '#define LAUNCHER_TEXT_ErrorCaption "오류"' in header
    assert '#define LAUNCHER_TEXT_MsgVersionMissing "line one\\nline two"' in header


def test_a_base_address_with_a_trailing_slash_is_refused(tmp_path):
    result = configure(tmp_path / "build", "-DLAUNCHER_PATCH_BASE_URL=https://patch.mygame.example/live/")
    assert result.returncode != 0
    assert "must not end with a slash" in result.stderr


def test_a_base_address_that_leaves_the_updater_no_room_is_refused(tmp_path):
    # "Updater Launcher " (17), a 10-digit process id, a blank, a 31-character version and a
    # blank leave 255 - 60 = 195 bytes of the command line for the address.
    def address(length):
        return "https://patch.mygame.example/" + "a" * (length - len("https://patch.mygame.example/"))
    result = configure(tmp_path / "long", f"-DLAUNCHER_PATCH_BASE_URL={address(196)}")
    message = " ".join(result.stderr.split())  # CMake wraps its messages
    assert result.returncode != 0
    assert "LAUNCHER_PATCH_BASE_URL is 196 bytes" in message and "at most 195 bytes for the address" in message
    result = configure(tmp_path / "fits", f"-DLAUNCHER_PATCH_BASE_URL={address(195)}")
    assert result.returncode == 0, result.stderr


def test_a_wrong_skin_picture_stops_the_build_with_its_name(tmp_path):
    skin = tmp_path / "skin"
    subprocess.run(["/usr/bin/python3", str(ROOT / "resources/skin/generate_skin.py"), str(skin)], check=True,
                   timeout=120)
    shutil.copy(skin / "217.bmp", skin / "205.bmp")  # a bar picture where the mask belongs
    build = tmp_path / "build"
    result = configure(build, f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/mingw-i686.cmake", f"-DLAUNCHER_SKIN_DIR={skin}")
    assert result.returncode == 0, result.stderr
    built = subprocess.run(["cmake", "--build", str(build), "--target", "skin"], capture_output=True, text=True,
                           timeout=300)
    assert built.returncode != 0
    assert f"skin error: {skin}/205.bmp: is 276x7 at 24 bits per pixel; the layout needs 649x489 at 32 bits per pixel" \
        in built.stdout + built.stderr


def test_a_ready_message_without_its_number_is_refused(tmp_path):
    messages = tmp_path / "messages.txt"
    messages.write_text("MsgReady=Ready %s\n", encoding="utf-8")
    result = configure(tmp_path / "build", f"-DLAUNCHER_MESSAGES_FILE={messages}")
    assert result.returncode != 0
    assert "MsgReady" in result.stderr
