"""The release manifest's bytes and its path rules: canonical writing, strict reading, the
launcher's safe-path cases."""
import dataclasses
import re
import struct
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import content_paths  # noqa: E402
import content_release  # noqa: E402
from content_release import ReleaseError  # noqa: E402


def sha(n):
    return bytes([n]) * 32


def sample():
    """Release 10003 with chunks in two packs, a shared chunk, an empty file and a folder."""
    locations = {sha(1): ((10001, 0), 0, 100, 40), sha(2): ((10001, 0), 40, 200, 90),
                 sha(3): ((10003, 0), 0, 50, 20), sha(4): ((10003, 0), 20, 7, 7)}
    files = [(b"Data/b.bin", 257, [sha(2), sha(3), sha(4)]), (b"Data/a.bin", 300, [sha(1), sha(2)]),
             (b"empty", 0, []), (b"Game.exe", 100, [sha(1)])]
    return content_release.build(10003, (1024, 4096, 16384), files, locations,
                                 {(10001, 0): 130, (10003, 0): 27, (10002, 0): 5})


def test_a_release_is_written_canonically_and_reads_back():
    release = sample()
    data = content_release.encode(release)
    assert len(data) == release.encoded_size() == 48 + 16 * 2 + 48 * 4 + 24 * 4 + 4 * 6 + 33
    # Paths in byte order (upper case first), chunks in (pack, offset), only the packs used.
    assert [f.path for f in release.files] == [b"Data/a.bin", b"Data/b.bin", b"Game.exe", b"empty"]
    assert release.packs == ((10001, 0, 130), (10003, 0, 27))
    assert [c.sha for c in release.chunks] == [sha(1), sha(2), sha(3), sha(4)]
    assert struct.unpack_from("<8s10I", data) == (b"QORCONT1", 10003, 1024, 4096, 16384, 2, 4, 4, 6, 0, 33)
    assert data.endswith(b"Data/a.binData/b.binGame.exeempty")
    assert content_release.parse(data, 10003) == release
    assert content_release.encode(content_release.parse(data)) == data


def replace(release, **changes):
    return dataclasses.replace(release, **changes)


def with_chunk(release, i, **changes):
    chunks = list(release.chunks)
    chunks[i] = chunks[i]._replace(**changes)
    return replace(release, chunks=tuple(chunks))


def with_file(release, i, **changes):
    files = list(release.files)
    files[i] = files[i]._replace(**changes)
    return replace(release, files=tuple(files))


def header_field(data, index, value):
    data = bytearray(data)
    struct.pack_into("<I", data, 8 + 4 * index, value)
    return bytes(data)


BROKEN = {
    "magic": (lambda r: b"QORCONT2" + content_release.encode(r)[8:], "magic"),
    "release 0": (lambda r: header_field(content_release.encode(r), 0, 0), "release 0"),
    "average": (lambda r: header_field(content_release.encode(r), 2, 4000), "power of two"),
    "max past 4 MiB": (lambda r: header_field(content_release.encode(r), 3, 4194305), "chunk sizes"),
    "a byte more": (lambda r: content_release.encode(r) + b"x", "counts make"),
    "a byte less": (lambda r: content_release.encode(r)[:-1], "counts make"),
    "chunk count past the bound": (lambda r: header_field(content_release.encode(r), 5, (1 << 24) + 1), "chunks"),
    "pack of a later release": (lambda r: replace(r, packs=((10001, 0, 130), (10004, 0, 27))), "after 10003"),
    "packs out of order": (lambda r: replace(r, packs=((10003, 0, 27), (10001, 0, 130))), "not after pack"),
    "empty chunk": (lambda r: with_chunk(r, 3, raw=0), "out of bounds"),
    "chunk above max": (lambda r: with_chunk(r, 3, raw=16385), "out of bounds"),
    "chunk past its pack": (lambda r: with_chunk(r, 3, stored=8), "out of bounds"),
    "chunk in no pack": (lambda r: with_chunk(r, 3, pack=2), "out of bounds"),
    "same chunk twice": (lambda r: with_chunk(r, 1, sha=sha(1)), "repeats"),
    "chunks out of order": (lambda r: with_chunk(r, 1, offset=0), "not after chunk"),
    "sizes do not add up": (lambda r: with_file(r, 0, size=301), "add up"),
    "reference past the chunks": (lambda r: with_file(r, 0, chunks=(0, 9)), "reference"),
    "paths out of order": (lambda r: with_file(with_file(r, 0, path=b"Data/c.bin"), 1, path=b"Data/a.bin"),
                           "ascending"),
    "unsafe path": (lambda r: with_file(r, 0, path=b"Data/../b"), "safe relative path"),
    "launcher's file": (lambda r: with_file(r, 3, path=b"update.dat"), "launcher's own files"),
    "launcher's file in capitals": (lambda r: with_file(r, 2, path=b"Config"), "launcher's own files"),
    "equal ignoring case": (lambda r: with_file(r, 0, path=b"DATA/b.bin"), "letter case"),
    "file beside its folder": (lambda r: with_file(r, 2, path=b"Data/b.bin/x"), "folder of"),
    "delta with reserved set": (lambda r: replace(r, deltas=((0, 10002, sha(9), 5, 0, 0, 5, sha(8), 1),)), "delta 0"),
    "delta from a later release": (lambda r: replace(r, deltas=((0, 10003, sha(9), 5, 0, 0, 5, sha(8), 0),)),
                                   "delta 0"),
}


@pytest.mark.parametrize("case", BROKEN)
def test_a_manifest_breaking_a_rule_is_refused_whole(case):
    make, message = BROKEN[case]
    made = make(sample())
    data = made if isinstance(made, bytes) else content_release.encode(made)
    with pytest.raises(ReleaseError, match=message):
        content_release.parse(data)


# What only the files, references and deltas break: the chunk table alone passes.
FILE_RULES = ("add up", "reference", "ascending", "safe relative path", "launcher's own files", "letter case",
              "folder of", "delta 0")


@pytest.mark.parametrize("case", BROKEN)
def test_the_chunk_table_alone_is_checked_as_a_parse_checks_it(case):
    make, message = BROKEN[case]
    made = make(sample())
    data = made if isinstance(made, bytes) else content_release.encode(made)
    if message in FILE_RULES:
        packs, chunks = content_release.chunk_table(data)
        assert [tuple(c) for c in chunks] == [tuple(c) for c in sample().chunks] and packs == sample().packs
    else:
        with pytest.raises(ReleaseError, match=message):
            content_release.chunk_table(data)


def test_flags_and_a_release_of_another_version_are_refused():
    data = bytearray(content_release.encode(sample()))
    files_at = 48 + 16 * 2 + 48 * 4
    struct.pack_into("<H", data, files_at + 22, 1)
    with pytest.raises(ReleaseError, match="flags"):
        content_release.parse(bytes(data))
    with pytest.raises(ReleaseError, match="not 10004"):
        content_release.parse(content_release.encode(sample()), 10004)
    # A delta within bounds is skipped by this reader, not refused.
    with_delta = replace(sample(), deltas=((0, 10002, sha(9), 5, 1, 0, 5, sha(8), 0),))
    assert content_release.parse(content_release.encode(with_delta)).deltas == with_delta.deltas


def c_string_lists(test_name):
    """The C string literals of one TEST of the launcher's safe-path tests, as bytes."""
    text = (ROOT / "tests" / "unit" / "safe_path_test.cpp").read_text(encoding="latin-1")
    body = text[text.index(test_name):]
    body = body[:body.index("\n}\n")]
    literals = re.findall(r'"((?:[^"\\]|\\.)*)"((?:\s*"(?:[^"\\]|\\.)*")*)', body.split("{", 2)[2].split("})")[0])
    def decode(literal):  # C escapes: \x takes every hex digit, hence the split literals
        return re.sub(rb"\\x([0-9A-Fa-f]+)|\\(.)", lambda m: bytes([int(m[1], 16)]) if m[1] else
                      {b"t": b"\t", b"n": b"\n"}.get(m[2], m[2]), literal.encode("latin-1"))
    return [decode(first) + b"".join(decode(part) for part in re.findall(r'"((?:[^"\\]|\\.)*)"', rest))
            for first, rest in literals]


def test_the_safe_path_rules_are_the_launchers():
    inside = c_string_lists("NamesThatStayInside")
    outside = c_string_lists("NamesThatCouldLeaveTheFolder")
    assert len(inside) > 20 and len(outside) > 60 and b"a\x01b" in outside and b"\\\\?\\C:\\a.txt" in outside
    assert [n for n in inside if not content_paths.is_safe_relative_path(n)] == []
    assert [n for n in outside if content_paths.is_safe_relative_path(n)] == []


@pytest.mark.parametrize("name,allowed", [
    (b"Data/Maps/a.bin", True), (b"content/x", True), (b"Data/config", True), (b"Data/updater.exe", True),
    ("가/나.txt".encode(), True), (b"a" * 255, True), (b"COM\xc2\xb4", True),
    (b"\xb0\xa1/\xb3\xaa.txt", False), (b"a\xc0\xaf", False), (b"\xed\xa0\x80", False),
    (b"COM\xc2\xb9", False), (b"data/Lpt\xc2\xb2 .txt", False),
    (b"a" * 256, False), (b"", False), (b"Data\\a.bin", False), (b"Data/", False),
    (b"config", False), (b"CONFIG/x", False), (b"Update.Dat", False), (b"update.manifest", False),
    (b"update.new", False), (b"content.state/x", False), (b"Data/nul.txt", False), (b"a./b", False),
    # The launcher's programs and the Updater's names for them, folded as NTFS folds.
    (b"updater.exe", False), (b"LAUNCHER.EXE", False), (b"Launcher.exe/x", False), (b"QOR_Installer.exe", False),
    (b"config.new", False), (b"Game.exe.Updating", False), (b"x.REPLACED", False), (b"launcher.exe2", True),
    ("ｃonfig".encode(), True), ("Data/ⅽontent.state".encode(), True),
    # 8.3 alias shapes (src/paths/short_name_alias.h), in any component.
    (b"DATAFI~1/x", False), (b"CONTEN~1.STA", False), (b"a/PROGR~12", False), (b"~1.a", False),
    ("übung~1/a".encode(), False), (b"PROGRA~12", True), (b"ab~1.abcd", True), (b"a~1.b.c", True),
    (b"a~b1", True), (b"a~", True), (b"a~1x", True),
])
def test_release_paths(name, allowed):
    assert (content_paths.path_problem(name) is None) == allowed


def test_paths_that_collide_on_windows():
    names = sorted([b"A.txt", b"a.txt", b"lib", b"lib-x", b"LIB/x.dll", b"ok/a", b"ok/b"])
    problems = content_paths.set_problems(names)
    assert sorted(name for name, _ in problems) == [b"a.txt", b"lib"]
    # Beyond ASCII: one name to NTFS, one file on a player's disk.
    names = sorted(n.encode() for n in ["Ä.txt", "ä.txt", "ö", "Ö/x", "Σ", "σ/y", "Ａ", "ａ", "ᾀ", "ᾈ", "ɐ",
                                         "Ɐ/z", "I", "ı", "ς", "ß", "SS", "K", "\u212a", "e\u0301", "é"])
    problems = content_paths.set_problems(names)
    assert sorted(name.decode() for name, _ in problems) == sorted(["ä.txt", "ö", "Σ", "ａ", "ᾈ", "ɐ"])


def test_the_table_is_the_one_the_launcher_is_built_with():
    import unicodedata
    import make_upcase_table
    text = (ROOT / "src" / "paths" / "upcase_table.cpp").read_text(encoding="utf-8")
    if f"(Unicode {unicodedata.unidata_version})" not in text:
        pytest.skip(f"this Python has Unicode {unicodedata.unidata_version}, not the table's")
    runs = [tuple(int(v, 0) for v in row) for row in
            re.findall(r"\{(0x[0-9A-F]+), (0x[0-9A-F]+), (\d), (-?\d+)\}", text)]
    assert runs == make_upcase_table.runs() and len(runs) < 400
    changed = make_upcase_table.fold_translation()
    assert sum(len(range(f, l + 1, s)) for f, l, s, _ in runs) == len(changed)
    assert all((u + d) & 0xFFFF == changed[u] for f, l, s, d in runs for u in range(f, l + 1, s))
