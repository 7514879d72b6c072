"""The PE check refuses what a player's Windows could not start: an import of zlib1.dll or of
a MinGW runtime DLL, a console program, the wrong architecture, the wrong version."""
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import check_pe  # noqa: E402

SOURCE = r"""
#include <windows.h>
#include <zlib.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return zlibVersion()[0]; }
"""
RESOURCE = r"""
1 VERSIONINFO
FILEVERSION 1,1,1,24
PRODUCTVERSION 1,1,1,24
BEGIN
END
1 24 "app.manifest"
"""
MANIFEST = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
    <requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>
  </requestedPrivileges></security></trustInfo>
</assembly>
"""


def build(tmp_path, *link):
    """A GUI program of the right version and manifest that calls zlib, linked as told."""
    (tmp_path / "app.c").write_text(SOURCE)
    (tmp_path / "app.rc").write_text(RESOURCE)
    (tmp_path / "app.manifest").write_text(MANIFEST)
    subprocess.run(["x86_64-w64-mingw32-windres", "app.rc", "-O", "coff", "-o", "app.res"], cwd=tmp_path,
                   check=True, timeout=60)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-mwindows", "app.c", "app.res", "-o", "app.exe", *link],
                   cwd=tmp_path, check=True, timeout=120)
    return str(tmp_path / "app.exe")


def findings(path, arch="x86_64", version="1.1.1.24"):
    return check_pe.check_file(path, arch, version, launcher=False)


def test_a_statically_linked_program_passes(tmp_path):
    assert findings(build(tmp_path, "-static", "-Wl,-Bstatic", "-lz")) == []


def test_an_import_of_zlib1_dll_fails(tmp_path):
    # The import library libz.dll.a is what a plain -lz picks: the fault this check guards.
    problems = findings(build(tmp_path, "-lz"))
    assert any("zlib1.dll" in p for p in problems), problems


@pytest.mark.parametrize("arch,version,expected", [
    ("i686", "1.1.1.24", "is not i686"),
    ("x86_64", "1.1.1.25", "expected 1.1.1.25"),
])
def test_wrong_architecture_or_version_fails(tmp_path, arch, version, expected):
    problems = findings(build(tmp_path, "-static", "-Wl,-Bstatic", "-lz"), arch, version)
    assert any(expected in p for p in problems), problems


def test_a_program_beside_the_launcher_gets_every_check_but_the_skin(tmp_path, capsys):
    (tmp_path / "static").mkdir()
    (tmp_path / "dynamic").mkdir()
    good = build(tmp_path / "static", "-static", "-Wl,-Bstatic", "-lz")
    bad = build(tmp_path / "dynamic", "-lz")
    common = ["--arch", "x86_64", "--version", "1.1.1.24"]
    assert check_pe.main(common + ["--launcher", good, "--program", good]) == 1
    lines = capsys.readouterr().out.splitlines()
    assert sum("bitmaps" in line for line in lines) == 1  # asked of the launcher file alone
    assert check_pe.main(common + [good, "--program", bad]) == 1
    assert any("zlib1.dll" in line and line.startswith(bad) for line in capsys.readouterr().out.splitlines())



def test_a_test_program_gets_the_import_and_architecture_checks_only(tmp_path, capsys):
    (tmp_path / "static").mkdir()
    (tmp_path / "dynamic").mkdir()
    good = build(tmp_path / "static", "-static", "-Wl,-Bstatic", "-lz", "-mconsole")
    bad = build(tmp_path / "dynamic", "-lz", "-mconsole")
    common = ["--arch", "x86_64", "--version", "1.1.1.24"]
    assert check_pe.main(common + ["--imports", good]) == 0
    assert check_pe.main(common + [good]) == 1  # as a program we ship: not a GUI program
    assert "subsystem" in capsys.readouterr().out
    assert check_pe.main(common + ["--imports", bad]) == 1
    assert any(line.startswith(bad) and "zlib1.dll" in line for line in capsys.readouterr().out.splitlines())
    assert check_pe.main(["--arch", "i686", "--version", "1.1.1.24", "--imports", good]) == 1
    assert "is not i686" in capsys.readouterr().out
