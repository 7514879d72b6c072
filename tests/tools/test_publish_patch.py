"""The patch publishing tool: archives of what changed, the patch line, refusals."""
import importlib
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

from tool_support import run, tree  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
TOOL = ROOT / "tools" / "publish_patch.py"


def load_tool():
    if str(TOOL.parent) not in sys.path:
        sys.path.insert(0, str(TOOL.parent))
    return importlib.import_module("publish_patch")


def build_launcher_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r'set\(LAUNCHER_FILE_VERSION "([0-9.]+)" CACHE', text).group(1)


def test_first_patch_creates_the_file_and_packs_only_changes(tmp_path):
    old = tree(tmp_path / "old", {"Brevanta.exe": b"exe1", "data/a.bin": b"a", "data/keep.bin": b"k"})
    new = tree(tmp_path / "new", {"Brevanta.exe": b"exe2", "data/a.bin": b"a", "data/keep.bin": b"k",
                                  "data/maps/new.map": b"m" * 5000})
    out = tmp_path / "patches"
    result = run("--old", old, "--new", new, "--version", 10002, "--out", out)
    assert result.returncode == 0, result.stderr
    info = (out / "LauncherPatchInfo.txt").read_text()
    assert info == f"[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n{build_launcher_version()}\n[PLAYER]\n10002 patch_10002.zip\n"
    with zipfile.ZipFile(out / "Player" / "patch_10002.zip") as z:
        assert sorted(z.namelist()) == ["Brevanta.exe", "data/maps/new.map"]
        assert z.read("data/maps/new.map") == b"m" * 5000


def test_later_patches_append_and_refusals(tmp_path):
    a = tree(tmp_path / "a", {"x": b"1"})
    b = tree(tmp_path / "b", {"x": b"2"})
    c = tree(tmp_path / "c", {"x": b"3"})
    out = tmp_path / "patches"
    assert run("--old", a, "--new", b, "--version", 10002, "--out", out).returncode == 0
    assert run("--old", b, "--new", c, "--version", 10003, "--out", out).returncode == 0
    lines = (out / "LauncherPatchInfo.txt").read_text().splitlines()
    assert lines[-2:] == ["10002 patch_10002.zip", "10003 patch_10003.zip"]
    same = run("--old", b, "--new", c, "--version", 10003, "--out", out)
    assert same.returncode == 1 and "not above" in same.stderr
    cross = run("--old", b, "--new", c, "--version", 20000, "--out", out)
    assert cross.returncode == 1 and "series" in cross.stderr
    assert (out / "LauncherPatchInfo.txt").read_text().splitlines() == lines


def test_no_change_gives_a_step_without_files_and_removals_warn(tmp_path):
    a = tree(tmp_path / "a", {"x": b"1", "gone": b"g"})
    b = tree(tmp_path / "b", {"x": b"1"})
    out = tmp_path / "patches"
    result = run("--old", a, "--new", b, "--version", 10005, "--out", out)
    assert result.returncode == 0
    assert (out / "LauncherPatchInfo.txt").read_text().splitlines()[-1] == "10005"
    assert "gone" in result.stderr


def test_a_line_goes_into_the_player_section_even_when_it_is_not_last(tmp_path):
    out = tmp_path / "patches"
    out.mkdir()
    (out / "LauncherPatchInfo.txt").write_text("[PLAYER]\n10001\n\n[INSTALLER]\n1.0.0.5\n")
    a = tree(tmp_path / "a", {"x": b"1"})
    b = tree(tmp_path / "b", {"x": b"2"})
    assert run("--old", a, "--new", b, "--version", 10002, "--out", out).returncode == 0
    assert (out / "LauncherPatchInfo.txt").read_text() == \
        "[PLAYER]\n10001\n10002 patch_10002.zip\n\n[INSTALLER]\n1.0.0.5\n"


@pytest.mark.parametrize("prefix", ["has blank_", "x" * 60])
def test_archive_names_the_launcher_cannot_use_are_refused(tmp_path, prefix):
    a = tree(tmp_path / "a", {"x": b"1"})
    b = tree(tmp_path / "b", {"x": b"2"})
    result = run("--old", a, "--new", b, "--version", 10002, "--out", tmp_path / "p", "--prefix", prefix)
    assert result.returncode == 1


def test_the_tool_keeps_the_limits_the_launcher_reads():
    header = (ROOT / "src" / "update" / "patch_limits.h").read_text(encoding="utf-8")
    limits = {name: int(value) for name, value in re.findall(r"constexpr int (k\w+) = (\d+);", header)}
    tool = load_tool()
    assert limits == {"kMaxStepFiles": tool.MAX_NAMES_PER_LINE, "kMaxFileNameLength": tool.MAX_NAME_LENGTH,
                      "kMaxLineLength": tool.MAX_LINE_LENGTH, "kMaxVersionTextLength": tool.MAX_VERSION_LENGTH}


def test_a_line_or_a_version_the_launcher_would_cut_is_refused(tmp_path, monkeypatch):
    tool = load_tool()
    monkeypatch.setattr(tool, "ARCHIVE_LIMIT", 1)  # one archive per file
    new = tree(tmp_path / "new", {f"f{i:02}": b"x" for i in range(16)})
    # 16 names of 62 and 63 characters after a ten-digit version: 1025 characters.
    with pytest.raises(tool.PublishError, match="1025 characters"):
        tool.publish(None, new, 1000000002, tmp_path / "p", launcher="1.0.0.0", prefix="p" * 46)
    assert not any((tmp_path / "p" / "Player").iterdir())
    result = run("--new", new, "--version", 10002, "--out", tmp_path / "q", "--launcher-version", "1." + "0" * 31)
    assert result.returncode == 1 and "at most 31 characters" in result.stderr
    assert not (tmp_path / "q" / "LauncherPatchInfo.txt").exists()
    assert not any((tmp_path / "q" / "Player").iterdir())


# ---- launcher and installer files ---------------------------------------------------------

PROGRAM = "int WinMain(void* a, void* b, char* c, int d) { return 0; }\n"
VERSION_RESOURCE = """1 VERSIONINFO
FILEVERSION {commas}
PRODUCTVERSION {commas}
BEGIN
END
"""
COMPILERS = {"i686": "i686-w64-mingw32", "x86_64": "x86_64-w64-mingw32"}


@pytest.fixture(scope="module")
def programs(tmp_path_factory):
    """Small Windows programs of a chosen architecture and file version, like launcher builds."""
    root = tmp_path_factory.mktemp("programs")
    made = {}
    for arch, version in [("i686", "1.1.1.25"), ("x86_64", "1.1.1.25"), ("i686", "1.1.1.23"),
                          ("x86_64", "1.1.1.26")]:
        folder = root / f"{arch}-{version}"
        folder.mkdir()
        (folder / "app.c").write_text(PROGRAM)
        (folder / "app.rc").write_text(VERSION_RESOURCE.format(commas=version.replace(".", ",")))
        prefix = COMPILERS[arch]
        subprocess.run([f"{prefix}-windres", "app.rc", "-O", "coff", "-o", "app.res"], cwd=folder, check=True,
                       timeout=60)
        subprocess.run([f"{prefix}-gcc", "-mwindows", "app.c", "app.res", "-o", "launcher.exe"], cwd=folder,
                       check=True, timeout=120)
        made[(arch, version)] = folder / "launcher.exe"
    return made


PUBLISHED = "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n1.1.1.24\n[PLAYER]\n10202 a.zip\n10203 b.zip\n"


def published(tmp_path, text=PUBLISHED):
    out = tmp_path / "patches"
    out.mkdir()
    (out / "LauncherPatchInfo.txt").write_text(text)
    return out


def test_launchers_go_to_the_folder_of_their_architecture_and_name_their_version(tmp_path, programs):
    out = published(tmp_path)
    i686, x86_64 = programs[("i686", "1.1.1.25")], programs[("x86_64", "1.1.1.25")]
    result = run("--out", out, "--launcher", i686, "--launcher", x86_64)
    assert result.returncode == 0, result.stderr
    assert (out / "Launcher" / "1.1.1.25" / "launcher.exe").read_bytes() == i686.read_bytes()
    assert (out / "Launcher64" / "1.1.1.25" / "launcher.exe").read_bytes() == x86_64.read_bytes()
    # Only the [LAUNCHER] line changes; the client steps stay as they were.
    assert (out / "LauncherPatchInfo.txt").read_text() == PUBLISHED.replace("1.1.1.24", "1.1.1.25")
    assert "1.1.1.25" in result.stdout and "note" not in result.stderr


def test_a_launcher_not_above_the_published_one_is_refused(tmp_path, programs):
    out = published(tmp_path)
    before = (out / "LauncherPatchInfo.txt").read_text()
    older = run("--out", out, "--launcher", programs[("i686", "1.1.1.23")])
    assert older.returncode == 1 and "below the published 1.1.1.24" in older.stderr
    mixed = run("--out", out, "--launcher", programs[("i686", "1.1.1.25")], "--launcher",
                programs[("x86_64", "1.1.1.26")])
    assert mixed.returncode == 1 and "differ in version" in mixed.stderr
    twice = run("--out", out, "--launcher", programs[("i686", "1.1.1.25")], "--launcher",
                programs[("i686", "1.1.1.25")])
    assert twice.returncode == 1 and "same architecture" in twice.stderr
    not_a_program = run("--out", out, "--launcher", out / "LauncherPatchInfo.txt")
    assert not_a_program.returncode == 1 and "not a Windows program" in not_a_program.stderr
    assert (out / "LauncherPatchInfo.txt").read_text() == before
    assert not (out / "Launcher").exists() and not (out / "Launcher64").exists()

    # One architecture first warns; the same version again only adds the other one.
    first = run("--out", out, "--launcher", programs[("i686", "1.1.1.25")])
    assert first.returncode == 0 and "only one architecture" in first.stderr
    again = run("--out", out, "--launcher", programs[("i686", "1.1.1.25")])
    assert again.returncode == 1 and "already published" in again.stderr
    other = run("--out", out, "--launcher", programs[("x86_64", "1.1.1.25")])
    assert other.returncode == 0, other.stderr
    assert section_line(out, "[LAUNCHER]") == "1.1.1.25"


def section_line(out, section):
    lines = (out / "LauncherPatchInfo.txt").read_text().splitlines()
    return lines[lines.index(section) + 1]


def test_an_installer_goes_to_its_versioned_folder(tmp_path):
    out = published(tmp_path)
    installer = tmp_path / "setup.exe"
    installer.write_bytes(b"MZ installer")
    result = run("--out", out, "--installer", installer, "--installer-version", "1.0.0.11")
    assert result.returncode == 0, result.stderr
    assert (out / "Installer" / "1.0.0.11" / "QOR_Installer.exe").read_bytes() == b"MZ installer"
    assert section_line(out, "[INSTALLER]") == "1.0.0.11"
    assert section_line(out, "[LAUNCHER]") == "1.1.1.24"
    lower = run("--out", out, "--installer", installer, "--installer-version", "1.0.0.4")
    assert lower.returncode == 1 and "below" in lower.stderr
    assert run("--out", out, "--installer", installer).returncode == 2
    assert run("--out", out, "--installer", installer, "--installer-version", "1.0.0.70000").returncode == 1
    assert section_line(out, "[INSTALLER]") == "1.0.0.11"


def test_a_launcher_for_a_folder_without_patch_information_creates_it(tmp_path, programs):
    out = tmp_path / "fresh"
    assert run("--out", out, "--launcher", programs[("x86_64", "1.1.1.26")]).returncode == 0
    assert (out / "LauncherPatchInfo.txt").read_text() == "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n1.1.1.26\n[PLAYER]\n"
    assert run("--out", out).returncode == 2  # nothing to publish
