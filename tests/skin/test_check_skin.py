"""The build-time check of an operator's skin folder."""
import shutil
import struct
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
GENERATOR = ROOT / "resources" / "skin" / "generate_skin.py"
CHECK = ROOT / "resources" / "skin" / "check_skin.py"


def check(folder):
    return subprocess.run([sys.executable, str(CHECK), str(folder)], capture_output=True, text=True, timeout=60)


def test_the_built_in_skin_passes_and_wrong_files_are_named(tmp_path):
    skin = tmp_path / "skin"
    subprocess.run([sys.executable, str(GENERATOR), str(skin)], check=True, timeout=120)
    assert check(skin).returncode == 0

    # An exit-button picture of the wrong size: the error names it and the size it needs.
    data = bytearray((skin / "210.bmp").read_bytes())
    struct.pack_into("<i", data, 18, 95)
    (skin / "210.bmp").write_bytes(bytes(data))
    (skin / "216.bmp").unlink()
    result = check(skin)
    assert result.returncode == 1
    assert "210.bmp: is 95x39 at 32 bits per pixel; the layout needs 94x39 at 32 bits per pixel" in result.stderr
    assert "216.bmp: missing; the layout needs 276x7 at 24 bits per pixel" in result.stderr
    shutil.rmtree(skin)
