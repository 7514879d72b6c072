"""The patch publishing tool: archives of what changed, the patch line, refusals."""
import importlib.util
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
TOOL = ROOT / "tools" / "publish_patch.py"


def load_tool():
    spec = importlib.util.spec_from_file_location("publish_patch", TOOL)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def build_launcher_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r'set\(LAUNCHER_FILE_VERSION "([0-9.]+)" CACHE', text).group(1)


def run(*args):
    return subprocess.run([sys.executable, str(TOOL), *map(str, args)], capture_output=True, text=True, timeout=60)


def tree(root, files):
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return root


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
