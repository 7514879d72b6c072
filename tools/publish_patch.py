#!/usr/bin/python3
"""Publishes one client patch for the launcher.

Compares the folder of the previous client with the folder of the new one, packs every file
that was added or changed into zip archives under <patch folder>/Player/, and appends the
"[PLAYER]" line naming them to <patch folder>/LauncherPatchInfo.txt (created with its
"[INSTALLER]" and "[LAUNCHER]" sections when it does not exist yet).

    publish_patch.py --old OLD_CLIENT --new NEW_CLIENT --version 10004 --out PATCH_FOLDER

It also publishes a new launcher, for the Updater that the launcher hands over to, and a
new installer:

    publish_patch.py --out PATCH_FOLDER --launcher win-i686/launcher.exe --launcher win-x86_64/launcher.exe
    publish_patch.py --out PATCH_FOLDER --installer QOR_Installer.exe --installer-version 1.0.0.11

A launcher's version is read from its version resource and its architecture from its PE
header: an i686 file goes to Launcher/<version>/launcher.exe, an x86_64 one to
Launcher64/<version>/launcher.exe; the installer goes to Installer/<version>/QOR_Installer.exe.
The files are in place before the "[LAUNCHER]" or "[INSTALLER]" line names their version.
A version below the published one is refused, and so is the published one itself, unless it
only adds the other architecture's file; a versioned file once published is never replaced.

The launcher applies patches only within one series (version / 10000) and in ascending
order, so a version that is not above the last published one, or that belongs to another
series than it, is refused. Files removed from the client cannot be expressed in a patch;
they are listed as a warning and stay on players' machines.

With --sign-key (or --sign-command) the folder's signed manifest is rewritten after the patch
is added (see patch_signing.py; the subcommands keygen, sign and verify are run through this
tool too, and root_signing.py's root-keys, root and root-sign for launchers built with root
keys).

Content releases (docs/content-format.md) for launchers built with content patching:

    publish_patch.py content --new NEW_CLIENT --version 10004 --out PATCH_FOLDER [--old OLD_CLIENT]
    publish_patch.py content-plan --from CLIENT_FOLDER --to 10004 PATCH_FOLDER [--json]

`content` cuts every file of the client into chunks, stores the chunks no earlier release
stored in new packs, adds the binary deltas of the files changed since the last releases
(--delta-releases, default 3) when they are smaller than the chunks, writes
Content/releases/<version>.release and appends the [PLAYER] line (naming the zip patch of the
same step when --old is given). `verify` also checks every
release and pack; `content-plan` prints what a player with that folder would download.

    publish_patch.py rollback --to 10002 --version 10005 --out PATCH_FOLDER
    publish_patch.py prune --keep 3 --grace 14 --out PATCH_FOLDER
    publish_patch.py rollout --channel live --to 50 --out PATCH_FOLDER

With --channel NAME (1 to 32 of a-z, 0-9 and -) `content` publishes into a channel: its patch
information, manifest and signature live in PATCH_FOLDER/channels/NAME/, its releases and packs
in the Content/ store every channel shares (so a release version is used once across all of
them). `live`, the default, is PATCH_FOLDER itself, which launchers without a channel follow.

`rollback` republishes an earlier release's content as a new version (a release manifest, no
pack); `prune` removes the packs no kept release needs once the grace has passed
(content_operations.py). `content --rollout P` offers the new release to P percent of installs,
the others staying on the release before it; `rollout --to P` widens (100 completes) or halts
(0) it without publishing (content_rollout.py).
"""
import argparse
import gc
import hashlib
import time
import os
from concurrent.futures import ThreadPoolExecutor
import re
import shutil
import sys
import zipfile
from pathlib import Path

import patch_signing
import root_signing

# What the launcher's parser keeps whole (src/update/patch_limits.h): a longer line, name or
# version would be cut there and its step refused.
MAX_NAMES_PER_LINE = 16
MAX_NAME_LENGTH = 63
MAX_LINE_LENGTH = 1022
MAX_VERSION_LENGTH = 31
MAX_ENTRY_NAME = 255
# Byte counts are 32-bit signed in the launcher: every archive stays well below 2 GiB.
ARCHIVE_LIMIT = 1536 * 1024 * 1024
# Server folders of the launcher by PE machine type: each Updater fetches its own architecture.
LAUNCHER_FOLDERS = {0x014C: ("Launcher", "i686"), 0x8664: ("Launcher64", "x86_64")}
LAUNCHER_NAME = "launcher.exe"
INSTALLER_NAME = "QOR_Installer.exe"
VERSION_PATTERN = re.compile(r"^(\d{1,5})\.(\d{1,5})\.(\d{1,5})\.(\d{1,5})$")


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


def check_step(out, version, installer, launcher, channel="live"):
    """(path, text) of the channel's patch information and the launcher version of a new file,
    once the version may follow the published ones."""
    info_path = patch_signing.channel_folder(out, channel) / "LauncherPatchInfo.txt"
    text = read_patch_info(info_path)
    check_version(version, last_player_version(text) if text else None)
    if text is None:
        launcher = launcher or default_launcher_version()
        if launcher is None:
            raise PublishError("no launcher version known outside the source tree: give --launcher-version")
        check_section_version("installer", installer)
        check_section_version("launcher", launcher)
    return info_path, text, launcher


def player_line(version, archives):
    line = " ".join([str(version)] + [a for a, _ in archives])
    if len(line) > MAX_LINE_LENGTH:
        raise PublishError(f"the patch line is {len(line)} characters; the launcher reads at most {MAX_LINE_LENGTH}")
    return line


def publish(old, new, version, out, installer="1.0.0.0", launcher=None, prefix="patch_"):
    out = Path(out)
    (out / "Player").mkdir(parents=True, exist_ok=True)
    info_path, text, launcher = check_step(out, version, installer, launcher)
    changed, removed, files = changed_files(old, new)
    archives = plan_archives(version, changed, files, prefix)
    line = player_line(version, archives)
    for archive, entries in archives:
        write_archive(out / "Player" / archive, entries, files)
    append_player_line(info_path, text, line, installer, launcher)
    return line, changed, removed


# ---- content releases --------------------------------------------------------------------

def publish_content(new, version, out, old=None, level=19, pack_limit=64 << 20, sizes=(32768, 131072, 524288),
                    installer="1.0.0.0", launcher=None, prefix="patch_", threads=None, signed=False,
                    delta_releases=3, delta_bound=256 << 20, programs=(), stamps=None, progress=None,
                    channel="live", rollout=100, base_url=None, ca_file=None, base_gap=65536):
    """Publishes client folder new as content release version (and, with old, the zip patch
    of the same step), with a delta for every file changed since each of the last
    delta_releases releases (both sizes within delta_bound) that is smaller than its chunks;
    returns a summary dictionary. programs: the operator's branded program names, which no
    release may name in the folder's top level (launcher.exe and Updater.exe never). Everything
    is checked before the first file is written, and the [PLAYER] line that announces the
    release comes last. stamps and progress: as content_publish.prepare. channel: whose patch
    information announces the release (patch_signing.channel_folder); a channel other than live
    takes no zip patch, which only launchers without channels fetch. rollout: the percentage of
    installs that take the release (content_rollout); 100 ends any rollout under way. base_url:
    where the patch folder's Content/ is served, for earlier releases' packs out does not hold
    (fetched by range, ca_file and base_gap as content_remote.Served)."""
    import content_delta
    import content_rollout
    import content_publish
    import content_release
    out = Path(out)
    if version > content_release.MAX_VERSION:
        raise PublishError(f"version {version} is above {content_release.MAX_VERSION}, the largest release")
    if not 0 <= rollout <= 100:
        raise PublishError(f"--rollout is 0 to 100 percent, not {rollout}")
    if old is not None and rollout < 100:
        raise PublishError("--old writes a zip patch, which launchers without the content mode take whatever the "
                           "rollout: roll out without it")
    if old is not None and channel != patch_signing.LIVE:
        raise PublishError(f"--old writes a zip patch, which only launchers without channels fetch: publish "
                           f"channel {channel} without it")
    if channel != patch_signing.LIVE and not (patch_signing.channel_folder(out, channel) /
                                              "LauncherPatchInfo.txt").exists():
        # A new channel names live's installer and launcher: those are served to every channel
        # alike, and another version would send its launchers to an Updater that follows live.
        live = read_patch_info(out / "LauncherPatchInfo.txt")
        installer = section_version(live, "[INSTALLER]") or installer
        launcher = section_version(live, "[LAUNCHER]") or launcher
    info_path, text, launcher = check_step(out, version, installer, launcher, channel)
    content_publish.check_options(sizes, level, pack_limit)
    content_delta.check_options(delta_releases, delta_bound, base_url, ca_file)
    archives, files, removed = [], {}, []
    if old is not None:
        changed, removed, files = changed_files(old, new)
        archives = plan_archives(version, changed, files, prefix)
    line = player_line(version, archives)
    threads = threads or os.cpu_count() or 1
    with ThreadPoolExecutor(threads) as executor:
        # The new chunks' compression starts while the cut goes on, and the deltas are made
        # beside it: a pipeline's small release costs little more than compressing what changed.
        prepared = content_publish.prepare(new, version, out, sizes, pack_limit, executor, programs, stamps,
                                           progress, packs_served=bool(base_url), level=level,
                                           whole=content_delta.eligible(out, version, delta_releases, delta_bound))
        pending = None
        try:
            found = content_delta.candidates(prepared, out, delta_releases, delta_bound)
            room = max(1, pack_limit - content_publish.compress_bound(sizes[2]))
            delta_packs = content_delta.delta_bytes_at_most(prepared, found) // room + 1 if found else 0
            if signed:
                check_signable(out, prepared.new_packs_at_most + delta_packs + 1 + delta_releases + len(archives) +
                               (text is None), channel)
            started = time.monotonic()
            pending = content_delta.Pending(prepared, out, found, level, threads, base_url, ca_file, base_gap, stamps)
        except BaseException:
            prepared.cancel()
            if pending:
                pending.close()
            raise
        timing = {}

        def deltas(ready):
            kept = pending.finish(ready, pack_limit)
            timing["seconds"] = time.monotonic() - started
            return kept
        try:
            import content_stamps
            packs = content_publish.write_packs(prepared, out, level, pack_limit, executor, threads, deltas,
                                                content_stamps.Storing if progress else None)
            release, manifest_bytes = content_publish.write_release(prepared, out, delta_releases, level)
            if archives:
                (out / "Player").mkdir(parents=True, exist_ok=True)
            for archive, entries in archives:
                prepared.written.append(out / "Player" / archive)
                write_archive(out / "Player" / archive, entries, files)
        except BaseException:
            pending.close()
            content_publish.remove_written(prepared)
            raise
    info_path.parent.mkdir(parents=True, exist_ok=True)
    append_player_line(info_path, text, line, installer, launcher)
    write_patch_info(info_path, content_rollout.with_rollout(read_patch_info(info_path), version, rollout))
    return {"line": line, "files": len(prepared.files), "bytes": prepared.content_bytes,
            "new_chunks": len(prepared.new), "reused_chunks": prepared.reused, "packs": packs,
            "pack_bytes": sum(prepared.pack_sizes[(version, i)] for i in range(packs)),
            "manifest_bytes": manifest_bytes, "removed": removed,
            "manifest_deltas": [{"from": base, "bytes": size} for base, size in prepared.manifest_deltas],
            "delta_candidates": len(found), "deltas": len(prepared.deltas),
            "delta_refused_before": len(pending.skipped),
            "delta_bytes": sum(len(d.data) for d in {id(d.data): d for d, _, _ in prepared.deltas}.values()),
            "delta_changed_bytes": sum(c.size for c in found),
            "delta_seconds": timing.get("seconds", 0.0),
            "files_from_stamps": stamps.hits if stamps else 0, "files_cut": stamps.cuts if stamps else len(prepared.files)}


def rollback_content(out, to, version, installer="1.0.0.0", launcher=None, gap=65536, channel="live"):
    """Publishes version with release to's content (a release manifest, no pack) and appends
    its [PLAYER] line to channel's patch information, ending any rollout under way there;
    returns a summary with what a player on the channel's newest release fetches."""
    import content_operations
    import content_plan
    import content_publish
    import content_release
    import content_release_delta
    import content_rollout
    out = Path(out)
    info_path, text, launcher = check_step(out, version, installer, launcher, channel)
    newest = last_player_version(text) if text else None
    if newest is None or not (out / "Content" / "releases" / f"{newest}.release").is_file():
        raise PublishError(f"the newest [PLAYER] version {newest} has no content release to roll back from")
    if to >= newest:
        raise PublishError(f"release {to} is not before the newest release {newest}")
    release = content_operations.rollback_release(out, to, version)
    current, _ = content_plan.load_release(out, newest)
    manifest_bytes = content_operations.write_release(out, release)
    # A player on the newest release fetches this manifest too: a rollback is where its delta pays most.
    written = []
    try:
        manifest_deltas = content_release_delta.write_deltas(out, version, content_release.encode(release), 3,
                                                             content_publish.DEFAULT_LEVEL, written)
    except BaseException:
        for path in reversed(written + [out / "Content" / "releases" / f"{version}.release"]):
            path.unlink(missing_ok=True)
        raise
    append_player_line(info_path, text, str(version), installer, launcher)
    write_patch_info(info_path, content_rollout.without(read_patch_info(info_path)))
    return dict(content_operations.fetch_between(current, release, gap), line=str(version), release=version,
                to=to, newest=newest, files=len(release.files), chunks=len(release.chunks),
                manifest_bytes=manifest_bytes,
                manifest_deltas=[{"from": base, "bytes": size} for base, size in manifest_deltas])


def check_signable(out, more, channel="live"):
    """Refuses a publication after which the folder would hold more files than a signed
    manifest lists, before anything is written."""
    listed = max(sum(1 for name, p in patch_signing.listed_files(out, c) if not name.endswith(".part") and p.is_file())
                 for c in {channel, patch_signing.LIVE})
    if listed + more > patch_signing.MAX_FILES:
        raise PublishError(f"the folder would hold up to {listed + more} files; a signed manifest lists at most "
                           f"{patch_signing.MAX_FILES}: publish larger packs (--pack-limit) or move old files away")


def content_summary(result):
    ratio = 100.0 * result["manifest_bytes"] / result["bytes"] if result["bytes"] else 0.0
    return (f"publish_patch: {result['files']} file(s), {result['bytes']} bytes; chunks {result['new_chunks']} new, "
            f"{result['reused_chunks']} reused; {result['packs']} pack(s) written ({result['pack_bytes']} bytes); "
            f"manifest {result['manifest_bytes']} bytes ({ratio:.3f}% of the content); deltas {result['deltas']} "
            f"kept of {result['delta_candidates']} ({result['delta_bytes']} bytes)")


# ---- launcher and installer files --------------------------------------------------------

def version_tuple(text):
    """(a, b, c, d) of a version text a.b.c.d whose numbers fit a Windows version, or None."""
    match = VERSION_PATTERN.match(text or "")
    if not match or any(int(n) > 65535 for n in match.groups()):
        return None
    return tuple(int(n) for n in match.groups())


def version_text(numbers):
    return ".".join(str(n) for n in numbers)


def launcher_file_info(path):
    """(version tuple, server folder, architecture) of a launcher from its PE file."""
    import pefile
    try:
        pe = pefile.PE(str(path), fast_load=True)
    except (OSError, pefile.PEFormatError) as error:
        raise PublishError(f"{path} is not a Windows program: {error}") from None
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    place = LAUNCHER_FOLDERS.get(pe.FILE_HEADER.Machine)
    if place is None:
        raise PublishError(f"{path} is built for machine {pe.FILE_HEADER.Machine:#x}, neither i686 nor x86_64")
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        raise PublishError(f"{path} has no version resource; the Updater accepts only the version it was asked for")
    info = pe.VS_FIXEDFILEINFO[0]
    version = (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF, info.FileVersionLS >> 16,
               info.FileVersionLS & 0xFFFF)
    pe.close()
    return version, place[0], place[1]


def section_version(text, section):
    """The version line of a section ("[LAUNCHER]", "[INSTALLER]"), or None."""
    lines = (text or "").splitlines()
    for i, line in enumerate(lines):
        if line.split()[:1] == [section]:
            for value in lines[i + 1:]:
                tokens = value.split()
                if tokens:
                    return None if tokens[0].startswith("[") else tokens[0]
    return None


def with_section_version(text, section, version, installer, launcher):
    """The patch information with the section's version line set (the file made if needed)."""
    if text is None:
        text = f"[INSTALLER]\n{installer}\n[LAUNCHER]\n{launcher}\n[PLAYER]\n"
    lines = text.splitlines()
    headers = [i for i, line in enumerate(lines) if line.split()[:1] == [section]]
    if not headers:
        return "\n".join([section, version] + lines) + "\n"
    at = headers[0] + 1
    while at < len(lines) and not lines[at].strip():
        at += 1
    if at < len(lines) and not lines[at].split()[0].startswith("["):
        lines[at] = version
    else:
        lines.insert(headers[0] + 1, version)
    return "\n".join(lines) + "\n"


def check_new_version(kind, version, published, targets):
    """Refuses a version below the published one, and any file already there: the published
    version itself passes only when it adds the other architecture's file."""
    published_numbers = version_tuple(published) if published else None
    for target in targets:
        if target.exists():
            raise PublishError(f"{target} is already published; a published version never changes")
    if published_numbers and version < published_numbers:
        raise PublishError(f"{kind} {version_text(version)} is below the published {published}")


def place_file(source, target):
    target.parent.mkdir(parents=True, exist_ok=True)
    partial = target.with_name(target.name + ".part")
    shutil.copyfile(source, partial)
    os.replace(partial, target)


def write_patch_info(info_path, text):
    partial = info_path.with_suffix(".txt.part")
    partial.write_text(text, encoding="latin-1")
    os.replace(partial, info_path)


def publish_launchers(files, out, installer="1.0.0.0", launcher="1.1.1.24"):
    """Places one launcher per architecture and sets [LAUNCHER]; returns the version and places."""
    out = Path(out)
    infos = [(Path(f), *launcher_file_info(f)) for f in files]
    versions = {info[1] for info in infos}
    if len(versions) != 1:
        raise PublishError("the launchers differ in version: " + ", ".join(
            f"{path} is {version_text(v)}" for path, v, _, _ in infos))
    folders = [info[2] for info in infos]
    if len(set(folders)) != len(folders):
        raise PublishError("two launchers of the same architecture")
    version = versions.pop()
    targets = [out / folder / version_text(version) / LAUNCHER_NAME for _, _, folder, _ in infos]
    info_path = out / "LauncherPatchInfo.txt"
    text = read_patch_info(info_path)
    check_new_version("launcher", version, section_version(text, "[LAUNCHER]"), targets)
    for (source, _, _, _), target in zip(infos, targets):
        place_file(source, target)
    out.mkdir(parents=True, exist_ok=True)
    write_patch_info(info_path, with_section_version(text, "[LAUNCHER]", version_text(version), installer, launcher))
    return version_text(version), [(arch, target) for (_, _, _, arch), target in zip(infos, targets)]


def publish_installer(file, version, out, installer="1.0.0.0", launcher="1.1.1.24"):
    """Places the installer and sets [INSTALLER]; returns where it went."""
    out = Path(out)
    numbers = version_tuple(version)
    if numbers is None:
        raise PublishError(f"installer version {version!r} must be a.b.c.d, each number at most 65535")
    target = out / "Installer" / version_text(numbers) / INSTALLER_NAME
    info_path = out / "LauncherPatchInfo.txt"
    text = read_patch_info(info_path)
    check_new_version("installer", numbers, section_version(text, "[INSTALLER]"), [target])
    place_file(Path(file), target)
    write_patch_info(info_path, with_section_version(text, "[INSTALLER]", version_text(numbers), installer, launcher))
    return target


def publish_requested(args, installer_default):
    """The installer, the launchers and the client step the command line asks for, in that order."""
    if args.installer:
        target = publish_installer(args.installer, args.installer_version, args.out, installer_default,
                                   args.launcher_version)
        print(f"publish_patch: installer {args.installer_version} placed at {target}; [INSTALLER] names it")
    if args.launcher:
        version, places = publish_launchers(args.launcher, args.out, installer_default, args.launcher_version)
        for arch, target in places:
            print(f"publish_patch: launcher {version} ({arch}) placed at {target}")
        print(f"publish_patch: [LAUNCHER] is now {version}")
        if len(places) == 1:
            print("publish_patch: note: only one architecture was published; Updaters of the other one "
                  "will find no file for this version", file=sys.stderr)
    if args.new is not None:
        line, changed, removed = publish(args.old, args.new, args.version, args.out, installer_default,
                                         args.launcher_version, args.prefix)
        print(f"publish_patch: {len(changed)} changed file(s); appended \"{line}\"")
        for name in removed:
            print(f"publish_patch: warning: {name} was removed from the client; patches cannot delete files",
                  file=sys.stderr)


def byte_count(text):
    """An argument like 65536, 64K, 64M or 1G as a number of bytes."""
    scale = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}.get(text[-1:].upper(), 1)
    try:
        return int(text[:-1] if scale > 1 else text) * scale
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a byte count (65536, 64K, 64M)") from None


def chunk_sizes(text):
    sizes = [byte_count(part) for part in text.split(",")]
    if len(sizes) != 3:
        raise argparse.ArgumentTypeError(f"{text!r}: give MIN,AVG,MAX")
    return tuple(sizes)


def sign_after(out, signer, expires, quiet=False):
    """quiet: the line goes to stderr, standard output carrying JSON."""
    try:
        sequence, count = patch_signing.sign_folder(out, signer, expires)
    except patch_signing.SigningError as error:
        print(f"publish_patch: published, but not signed: {error}", file=sys.stderr)
        return 1
    print(f"publish_patch: signed {count} file(s), sequence {sequence}", file=sys.stderr if quiet else sys.stdout)
    return 0


def content_main(argv):
    parser = argparse.ArgumentParser(prog="publish_patch.py content",
                                     description="publish a client folder as a content release")
    parser.add_argument("--new", required=True, help="folder of the new client")
    parser.add_argument("--version", type=int, required=True, help="the new client version number")
    parser.add_argument("--out", required=True, help="patch folder")
    parser.add_argument("--old", help="folder of the previous client: also write the zip patch of this step")
    parser.add_argument("--level", type=int, default=19, help="zstd level of new chunks (default 19)")
    parser.add_argument("--pack-limit", type=byte_count, default=64 << 20, metavar="BYTES",
                        help="largest pack (default 64M)")
    parser.add_argument("--chunk-sizes", type=chunk_sizes, default=(32768, 131072, 524288), metavar="MIN,AVG,MAX",
                        help="chunk sizes (default 32K,128K,512K)")
    parser.add_argument("--delta-releases", type=int, default=3, metavar="K",
                        help="write deltas from each of the last K releases (default 3, 0: none)")
    parser.add_argument("--delta-bound", type=byte_count, default=256 << 20, metavar="BYTES",
                        help="no delta for a file whose old or new size is above this (default 256M)")
    parser.add_argument("--installer-version", default="1.0.0.0", help="[INSTALLER] version of a new file")
    parser.add_argument("--launcher-version", default=default_launcher_version(),
                        help="[LAUNCHER] version of a new file (default: the build's LAUNCHER_FILE_VERSION)")
    parser.add_argument("--prefix", default="patch_", help="zip archive name prefix (default patch_)")
    patch_signing.add_signing_arguments(parser)
    parser.add_argument("--program-name", action="append", default=[], metavar="NAME",
                        help="a branded name of the launcher's programs in the client folder, refused as a "
                             "release path like launcher.exe and Updater.exe (repeatable)")
    parser.add_argument("--stamps", metavar="FILE", help="the stamp cache: files whose size and last-write time "
                        "match their last cut are not read again (default: PATCH_FOLDER.publish-stamps.json "
                        "beside the patch folder, never inside it)")
    parser.add_argument("--no-stamps", action="store_true", help="cut every file, keep no stamp cache")
    parser.add_argument("--channel", default=patch_signing.LIVE, metavar="NAME",
                        help="publish into this channel (1 to 32 of a-z, 0-9 and -; default live, the folder's "
                             "own patch information): its patch information and manifest go to channels/NAME/")
    parser.add_argument("--rollout", type=int, default=100, metavar="P",
                        help="only P percent of installs take the release, the others stay on the one before "
                             "(0 to 100; default 100, which also ends a rollout under way)")
    parser.add_argument("--base-url", metavar="URL",
                        help="where the patch folder is served (the folder that holds Content/): earlier releases' "
                             "packs the folder does not hold are fetched from there by range for the deltas, so a "
                             "build machine needs only Content/releases/ (https; http only for 127.0.0.1)")
    parser.add_argument("--ca-file", metavar="PEM", help="with --base-url: trust only these certificate "
                        "authorities (default: the system's)")
    parser.add_argument("--base-gap", type=byte_count, default=65536, metavar="BYTES",
                        help="with --base-url: a range runs on over at most this many unneeded bytes to the next "
                             "chunk (default 64K)")
    parser.add_argument("--json", action="store_true", help="print the summary as JSON on standard output")
    args = parser.parse_args(argv)
    import content_publish
    import content_stamps
    stamps = None if args.no_stamps else content_stamps.Stamps(args.stamps or content_stamps.default_path(args.out))
    try:
        patch_signing.check_channel(args.channel)
        args.signer = patch_signing.signer_of(args)
        if args.signer:
            patch_signing.check_options(args.signer, args.expires, folder=args.out)
        result = publish_content(args.new, args.version, args.out, args.old, args.level, args.pack_limit,
                                 args.chunk_sizes, args.installer_version, args.launcher_version, args.prefix,
                                 signed=bool(args.signer), delta_releases=args.delta_releases,
                                 delta_bound=args.delta_bound, programs=tuple(args.program_name), stamps=stamps,
                                 progress=content_stamps.Progress, channel=args.channel, rollout=args.rollout,
                                 base_url=args.base_url, ca_file=args.ca_file, base_gap=args.base_gap)
    except (PublishError, patch_signing.SigningError, content_publish.ContentError, OSError) as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    finally:
        if stamps:
            stamps.save()
    if args.json:
        import json
        print(json.dumps(dict(result, removed=[os.fsdecode(n) if isinstance(n, bytes) else n
                                               for n in result["removed"]]), indent=1))
    else:
        print(content_summary(result))
        print(f"publish_patch: appended \"{result['line']}\"")
        if args.rollout < 100:
            print(f"publish_patch: rolled out to {args.rollout}% of installs; the others stay on the release "
                  "before it")
    if args.old is None and args.channel == patch_signing.LIVE:
        print(f"publish_patch: note: the [PLAYER] line names no zip patch; launchers without content patching "
              f"record {args.version} without fetching anything (give --old to write the zip patch too)",
              file=sys.stderr)
    for name in result["removed"]:
        print(f"publish_patch: warning: {name} was removed from the client; content launchers delete it, "
              "zip patches cannot", file=sys.stderr)
    return sign_after(args.out, args.signer, args.expires, args.json) if args.signer else 0


def content_plan_main(argv):
    parser = argparse.ArgumentParser(prog="publish_patch.py content-plan",
                                     description="print what a player with a client folder downloads")
    parser.add_argument("folder", help="patch folder")
    parser.add_argument("--from", dest="client", required=True, help="the player's client folder (may be empty)")
    parser.add_argument("--to", type=int, required=True, help="the release to reach")
    parser.add_argument("--installed", type=int, help="the release the folder has: list the files it deletes")
    parser.add_argument("--gap", type=byte_count, default=65536, help="bytes a request runs on over (default 64K)")
    parser.add_argument("--json", action="store_true", help="print the plan as JSON")
    args = parser.parse_args(argv)
    import json
    import content_plan
    try:
        with ThreadPoolExecutor(os.cpu_count() or 1) as executor:
            result = content_plan.plan(args.client, args.folder, args.to, executor, args.gap, args.installed)
    except (content_plan.ContentError, OSError) as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    print(json.dumps(result, indent=1) if args.json else "\n".join(content_plan.describe(result)))
    return 0


def verify_main(argv):
    parser = argparse.ArgumentParser(prog="publish_patch.py verify",
                                     description="check a patch folder as a launcher would")
    parser.add_argument("folder")
    trust = parser.add_mutually_exclusive_group()
    trust.add_argument("--public-key", help="check the signed manifest with this key (without it, only the "
                                            "content releases and packs are checked)")
    trust.add_argument("--root-keys", help="walk the root documents from this root keys file, as launchers built "
                                           "with it do, and check the manifests against the newest root")
    args = parser.parse_args(argv)
    problems = []
    if args.public_key or args.root_keys:
        try:
            problems += [f"patch_signing: {p}" for p in
                         patch_signing.verify_folder(args.folder, args.public_key, args.root_keys)]
        except patch_signing.SigningError as error:
            problems.append(f"patch_signing: {error}")
    if (Path(args.folder) / "Content").exists():
        import content_verify
        newest = {}
        for channel in [patch_signing.LIVE] + patch_signing.channels(args.folder):
            text = read_patch_info(patch_signing.channel_folder(args.folder, channel) / "LauncherPatchInfo.txt")
            if text or channel == patch_signing.LIVE:
                newest[channel] = last_player_version(text) if text else None
        content_problems, notes = content_verify.verify_folder(args.folder, newest)
        problems += [f"content: {p}" for p in content_problems]
        for note in notes:
            print(f"content: note: {note}", file=sys.stderr)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


def operation_parser(name, description):
    parser = argparse.ArgumentParser(prog=f"publish_patch.py {name}", description=description)
    parser.add_argument("--out", required=True, help="patch folder")
    patch_signing.add_signing_arguments(parser)
    parser.add_argument("--json", action="store_true", help="print the summary as JSON on standard output")
    return parser


def finish_operation(args, result, lines):
    import json
    print(json.dumps(result, indent=1) if args.json else "\n".join(lines))
    return sign_after(args.out, args.signer, args.expires, args.json) if args.signer else 0


def rollback_main(argv):
    parser = operation_parser("rollback", "publish an earlier content release's content as a new version")
    parser.add_argument("--to", type=int, required=True, help="the release whose content comes back")
    parser.add_argument("--version", type=int, required=True, help="the new version number")
    parser.add_argument("--channel", default=patch_signing.LIVE, metavar="NAME",
                        help="the channel whose players move forward to it (default live)")
    parser.add_argument("--gap", type=byte_count, default=65536, help="bytes a request runs on over (default 64K)")
    parser.add_argument("--installer-version", default="1.0.0.0", help="[INSTALLER] version of a new file")
    parser.add_argument("--launcher-version", default=default_launcher_version(),
                        help="[LAUNCHER] version of a new file (default: the build's LAUNCHER_FILE_VERSION)")
    args = parser.parse_args(argv)
    import content_publish
    try:
        args.signer = patch_signing.signer_of(args)
        if args.signer:
            patch_signing.check_options(args.signer, args.expires, folder=args.out)
        patch_signing.check_channel(args.channel)
        result = rollback_content(args.out, args.to, args.version, args.installer_version, args.launcher_version,
                                  args.gap, args.channel)
    except (PublishError, patch_signing.SigningError, content_publish.ContentError, OSError) as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    print("publish_patch: note: the [PLAYER] line names no zip patch; launchers without content patching record "
          f"{args.version} without fetching anything", file=sys.stderr)
    return finish_operation(args, result, [
        f"publish_patch: release {args.version} holds release {args.to}'s {result['files']} file(s) "
        f"({result['chunks']} chunks, all stored before; manifest {result['manifest_bytes']} bytes, no pack written)",
        f"publish_patch: a player on {result['newest']} fetches {result['fetch_bytes']} bytes in "
        f"{result['requests']} request(s) ({result['needed_chunks']} chunk(s), ideal {result['ideal_bytes']} bytes)",
        f"publish_patch: appended \"{result['line']}\""])


def prune_main(argv):
    parser = operation_parser("prune", "remove the packs no kept content release needs")
    parser.add_argument("--keep", type=int, required=True, help="the newest N releases stay whole")
    parser.add_argument("--grace", type=float, required=True, metavar="DAYS",
                        help="remove only once the oldest kept release is this many days old")
    args = parser.parse_args(argv)
    import content_operations
    import content_publish
    try:
        args.signer = patch_signing.signer_of(args)
        if args.signer:
            patch_signing.check_options(args.signer, args.expires, folder=args.out)
        result = content_operations.prune(args.out, args.keep, args.grace, channel_lines(args.out))
    except (PublishError, patch_signing.SigningError, content_publish.ContentError, OSError) as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    lines = [f"publish_patch: keeps release(s) {', '.join(map(str, result['kept']))}; "
             f"{len(result['pruned'])} older release(s), {len(result['packs_unused'])} pack(s) no kept release "
             f"names ({result['unused_bytes']} bytes)"]
    if result["removed"]:
        lines.append(f"publish_patch: removed {len(result['removed_files'])} file(s), {result['freed_bytes']} "
                     "bytes freed")
    else:
        lines.append(f"publish_patch: nothing removed: the oldest kept release is not {args.grace:g} day(s) old "
                     f"until {time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(result['due']))}")
    lines.append(f"publish_patch: {result['dead_bytes_in_kept_packs']} bytes of kept packs hold chunks no kept "
                 "release uses")
    if not result["removed"]:
        args.signer = None  # the folder did not change
    return finish_operation(args, result, lines)


def player_versions(text):
    """The [PLAYER] versions of a patch information text, in order."""
    section, found = None, []
    for line in (text or "").splitlines():
        tokens = line.split()
        if tokens and tokens[0].startswith("["):
            section = tokens[0]
        elif tokens and section == "[PLAYER]" and tokens[0].isdigit() and int(tokens[0]):
            found.append(int(tokens[0]))
    return found


def channel_lines(out):
    """{channel: ([PLAYER] versions, the release a rollout under way holds installs on, or None)}
    of live and every other channel of the folder."""
    import content_rollout
    lines = {}
    for channel in [patch_signing.LIVE] + patch_signing.channels(out):
        text = read_patch_info(patch_signing.channel_folder(out, channel) / "LauncherPatchInfo.txt")
        versions = player_versions(text)
        under_way = content_rollout.read(text) if text else None
        held = None
        if under_way and under_way[1] < 100:
            held = max((v for v in versions if v < under_way[0]), default=None)
        lines[channel] = (versions, held)
    return lines


def rollout_main(argv):
    parser = operation_parser("rollout", "widen, halt or complete a channel's staged rollout")
    parser.add_argument("--channel", default=patch_signing.LIVE, metavar="NAME", help="the channel (default live)")
    parser.add_argument("--to", type=int, required=True, metavar="P",
                        help="percent of installs that take the release (0 halts it, 100 completes it)")
    args = parser.parse_args(argv)
    import content_rollout
    try:
        patch_signing.check_channel(args.channel)
        if not 0 <= args.to <= 100:
            raise PublishError(f"--to is 0 to 100 percent, not {args.to}")
        args.signer = patch_signing.signer_of(args)
        if args.signer:
            patch_signing.check_options(args.signer, args.expires, folder=args.out)
        info_path = patch_signing.channel_folder(args.out, args.channel) / "LauncherPatchInfo.txt"
        text = read_patch_info(info_path)
        under_way = content_rollout.read(text) if text else None
        if under_way is None:
            raise PublishError(f"channel {args.channel} has no rollout under way ({info_path})")
        version, before = under_way
        write_patch_info(info_path, content_rollout.with_rollout(text, version, args.to))
    except (PublishError, patch_signing.SigningError, OSError) as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    what = {0: " (halted: installs not on it stay where they are)", 100: " (complete: every install takes it)"}
    result = {"channel": args.channel, "version": version, "from": before, "to": args.to}
    return finish_operation(args, result, [f"publish_patch: release {version} of channel {args.channel}: "
                                           f"{before}% -> {args.to}% of installs{what.get(args.to, '')}"])


SUBCOMMANDS = {"content": content_main, "content-plan": content_plan_main, "verify": verify_main,
               "rollback": rollback_main, "prune": prune_main, "rollout": rollout_main}


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv and argv[0] in SUBCOMMANDS:
        return SUBCOMMANDS[argv[0]](argv[1:])
    if argv and argv[0] in patch_signing.COMMANDS:
        return patch_signing.main(argv)
    if argv and argv[0] in root_signing.COMMANDS:
        return root_signing.root_main(argv)
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--old", help="folder of the previous client (omit for the first patch of a series)")
    parser.add_argument("--new", help="folder of the new client")
    parser.add_argument("--version", type=int, help="the new client version number")
    parser.add_argument("--out", required=True, help="patch folder: LauncherPatchInfo.txt and Player/")
    parser.add_argument("--launcher", action="append", default=[], metavar="FILE",
                        help="a new launcher.exe (i686 or x86_64; give both for both)")
    parser.add_argument("--installer", metavar="FILE", help="a new QOR_Installer.exe (with --installer-version)")
    parser.add_argument("--installer-version", default=None,
                        help="the version of --installer; without it, the [INSTALLER] version of a new file")
    parser.add_argument("--launcher-version", default=default_launcher_version(),
                        help="[LAUNCHER] version of a new file (default: the build's LAUNCHER_FILE_VERSION)")
    parser.add_argument("--prefix", default="patch_", help="archive name prefix (default patch_)")
    patch_signing.add_signing_arguments(parser)
    args = parser.parse_args(argv)
    if (args.new is None) != (args.version is None):
        parser.error("--new and --version go together")
    if args.installer and not args.installer_version:
        parser.error("--installer needs --installer-version")
    if args.new is None and not args.launcher and not args.installer:
        parser.error("nothing to publish: give --new and --version, --launcher or --installer")
    installer_default = args.installer_version if args.installer_version and not args.installer else "1.0.0.0"
    try:
        # A key that cannot sign is found before anything is published.
        args.signer = patch_signing.signer_of(args)
        if args.signer:
            patch_signing.check_options(args.signer, args.expires, folder=args.out)
        publish_requested(args, installer_default)
    except (PublishError, patch_signing.SigningError) as error:
        print(f"publish_patch: {error}", file=sys.stderr)
        return 1
    return sign_after(args.out, args.signer, args.expires) if args.signer else 0


if __name__ == "__main__":
    # A large game's release is millions of small records, made once and freed at exit: the
    # cycle collector's passes over them cost seconds and find nothing to free.
    gc.disable()
    sys.exit(main())
