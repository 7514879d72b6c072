#!/usr/bin/python3
"""Publishes one client patch for the launcher.

Compares the folder of the previous client with the folder of the new one, packs every file
that was added or changed into zip archives under <patch folder>/Player/, and appends the
"[PLAYER]" line naming them to <patch folder>/LauncherPatchInfo.txt (created with its
"[INSTALLER]" and "[LAUNCHER]" sections when it does not exist yet).

    publish_patch.py --old OLD_CLIENT --new NEW_CLIENT --version 10004 --out PATCH_FOLDER

The launcher applies patches only within one series (version / 10000) and in ascending
order, so a version that is not above the last published one, or that belongs to another
series than it, is refused. Files removed from the client cannot be expressed in a patch;
they are listed as a warning and stay on players' machines.

With --sign-key the folder's signed manifest is rewritten after the patch is added (see
patch_signing.py; the subcommands keygen, sign and verify are run through this tool too).
"""
import argparse
import hashlib
import os
import re
import sys
import zipfile
from pathlib import Path

import patch_signing

# What the launcher's parser keeps whole (src/update/patch_limits.h): a longer line, name or
# version would be cut there and its step refused.
MAX_NAMES_PER_LINE = 16
MAX_NAME_LENGTH = 63
MAX_LINE_LENGTH = 1022
MAX_VERSION_LENGTH = 31
MAX_ENTRY_NAME = 255
# Byte counts are 32-bit signed in the launcher: every archive stays well below 2 GiB.
ARCHIVE_LIMIT = 1536 * 1024 * 1024


class PublishError(Exception):
    pass


def client_files(folder):
    files = {}
    for path in sorted(Path(folder).rglob("*")):
        if path.is_file():
            files[path.relative_to(folder).as_posix()] = path
    return files


def same_content(a, b):
    if a.stat().st_size != b.stat().st_size:
        return False
    digest = []
    for path in (a, b):
        h = hashlib.sha256()
        with path.open("rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                h.update(chunk)
        digest.append(h.digest())
    return digest[0] == digest[1]


def changed_files(old, new):
    old_files = client_files(old) if old else {}
    new_files = client_files(new)
    changed = [name for name, path in new_files.items()
               if name not in old_files or not same_content(old_files[name], path)]
    removed = sorted(set(old_files) - set(new_files))
    return changed, removed, new_files


def read_patch_info(path):
    if not path.exists():
        return None
    return path.read_text(encoding="latin-1")


def last_player_version(text):
    section, last = None, None
    for line in text.splitlines():
        tokens = line.split()
        if not tokens:
            continue
        if tokens[0] in ("[INSTALLER]", "[LAUNCHER]", "[PLAYER]"):
            section = tokens[0]
            continue
        if section == "[PLAYER]":
            try:
                value = int(tokens[0])
            except ValueError:
                continue
            if value:
                last = value
    return last


def default_launcher_version():
    """The launcher version the build makes by default (LAUNCHER_FILE_VERSION in CMakeLists.txt
    beside this tool), or None when the tool runs outside the source tree."""
    try:
        text = (Path(__file__).resolve().parents[1] / "CMakeLists.txt").read_text(encoding="utf-8")
    except OSError:
        return None
    found = re.search(r'set\(LAUNCHER_FILE_VERSION "([0-9.]+)" CACHE', text)
    return found.group(1) if found else None


def check_section_version(kind, text):
    if not text or len(text) > MAX_VERSION_LENGTH or any(c.isspace() for c in text):
        raise PublishError(f"{kind} version {text!r} must be one word of at most {MAX_VERSION_LENGTH} characters")


def check_version(version, last):
    if version <= 0:
        raise PublishError(f"version {version} must be a positive number")
    if last is None:
        return
    if version <= last:
        raise PublishError(f"version {version} is not above the last published version {last}")
    if version // 10000 != last // 10000:
        raise PublishError(f"version {version} is in series {version // 10000}, the last published version {last} "
                           f"in series {last // 10000}: the launcher never patches across a series; "
                           "ship a new installation client instead")


def plan_archives(version, names, files, prefix):
    """Groups the changed files into archives below ARCHIVE_LIMIT bytes each."""
    groups, current, size = [], [], 0
    for name in names:
        length = files[name].stat().st_size
        if current and size + length > ARCHIVE_LIMIT:
            groups.append(current)
            current, size = [], 0
        current.append(name)
        size += length
    if current:
        groups.append(current)
    if len(groups) > MAX_NAMES_PER_LINE:
        raise PublishError(f"the patch needs {len(groups)} archives; a patch line holds at most {MAX_NAMES_PER_LINE}")
    archives = []
    for i, group in enumerate(groups):
        suffix = "" if len(groups) == 1 else f"_{i + 1}"
        archive = f"{prefix}{version}{suffix}.zip"
        if len(archive) > MAX_NAME_LENGTH or " " in archive:
            raise PublishError(f"archive name {archive!r} must be at most {MAX_NAME_LENGTH} characters without blanks")
        archives.append((archive, group))
    return archives


def write_archive(path, entries, files):
    tmp = path.with_suffix(path.suffix + ".part")
    with zipfile.ZipFile(tmp, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for name in entries:
            if len(name.encode()) > MAX_ENTRY_NAME:
                raise PublishError(f"file name {name!r} is longer than {MAX_ENTRY_NAME} bytes")
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with files[name].open("rb") as source, z.open(info, "w", force_zip64=False) as target:
                for chunk in iter(lambda: source.read(1 << 20), b""):
                    target.write(chunk)
    os.replace(tmp, path)


def append_player_line(info_path, text, line, installer, launcher):
    if text is None:
        text = f"[INSTALLER]\n{installer}\n[LAUNCHER]\n{launcher}\n[PLAYER]\n"
    lines = text.splitlines()
    headers = [i for i, l in enumerate(lines) if l.split()[:1] in (["[INSTALLER]"], ["[LAUNCHER]"], ["[PLAYER]"])]
    player = [i for i in headers if lines[i].split()[0] == "[PLAYER]"]
    if not player:
        lines.append("[PLAYER]")
        lines.append(line)
    else:
        # The end of the last [PLAYER] section: the next header after it, or the end.
        start = player[-1]
        after = [i for i in headers if i > start]
        end = after[0] if after else len(lines)
        while end > start + 1 and not lines[end - 1].strip():
            end -= 1
        lines.insert(end, line)
    tmp = info_path.with_suffix(".txt.part")
    tmp.write_text("\n".join(lines) + "\n", encoding="latin-1")
    os.replace(tmp, info_path)


def publish(old, new, version, out, installer="1.0.0.0", launcher=None, prefix="patch_"):
    out = Path(out)
    (out / "Player").mkdir(parents=True, exist_ok=True)
    info_path = out / "LauncherPatchInfo.txt"
    text = read_patch_info(info_path)
    check_version(version, last_player_version(text) if text else None)
    if text is None:
        launcher = launcher or default_launcher_version()
        if launcher is None:
            raise PublishError("no launcher version known outside the source tree: give --launcher-version")
        check_section_version("installer", installer)
        check_section_version("launcher", launcher)
    changed, removed, files = changed_files(old, new)
    archives = plan_archives(version, changed, files, prefix)
    line = " ".join([str(version)] + [a for a, _ in archives])
    if len(line) > MAX_LINE_LENGTH:
        raise PublishError(f"the patch line is {len(line)} characters; the launcher reads at most {MAX_LINE_LENGTH}")
    for archive, entries in archives:
        write_archive(out / "Player" / archive, entries, files)
    append_player_line(info_path, text, line, installer, launcher)
    return line, changed, removed


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv and argv[0] in patch_signing.COMMANDS:
        return patch_signing.main(argv)
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--old", help="folder of the previous client (omit for the first patch of a series)")
    parser.add_argument("--new", required=True, help="folder of the new client")
    parser.add_argument("--version", required=True, type=int, help="the new client version number")
    parser.add_argument("--out", required=True, help="patch folder: LauncherPatchInfo.txt and Player/")
    parser.add_argument("--installer-version", default="1.0.0.0", help="[INSTALLER] version of a new file")
    parser.add_argument("--launcher-version", default=default_launcher_version(),
                        help="[LAUNCHER] version of a new file (default: the build's LAUNCHER_FILE_VERSION)")
    parser.add_argument("--prefix", default="patch_", help="archive name prefix (default patch_)")
    parser.add_argument("--sign-key", help="PEM private key: rewrite and sign the folder's manifest afterwards")
    parser.add_argument("--expires", help="with --sign-key: launchers refuse the manifest after this (30d, 12h, "
                                          "2027-01-31T12:00:00Z)")
    args = parser.parse_args(argv)
    try:
        # A key that cannot sign is found before anything is published.
        if args.sign_key:
            patch_signing.check_options(args.sign_key, args.expires)
        line, changed, removed = publish(args.old, args.new, args.version, args.out, args.installer_version,
                                         args.launcher_version, args.prefix)
    except PublishError as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    except patch_signing.SigningError as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    print(f"publish_patch: {len(changed)} changed file(s); appended \"{line}\"")
    if args.sign_key:
        try:
            sequence, count = patch_signing.sign_folder(args.out, args.sign_key, args.expires)
        except patch_signing.SigningError as error:
            print(f"publish_patch: published, but not signed: {error}", file=sys.stderr)
            return 1
        print(f"publish_patch: signed {count} file(s), sequence {sequence}")
    for name in removed:
        print(f"publish_patch: warning: {name} was removed from the client; patches cannot delete files",
              file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
