#!/usr/bin/python3
"""Checks a Windows program we ship without running it: its PE type, subsystem, version
resource, manifest, skin resources and, above all, its imports. A player's Windows has only
its system DLLs; an import of zlib1.dll or a MinGW runtime DLL would stop the program before
its first line, while Wine (which ships such DLLs) would not notice.

    check_pe.py --arch i686|x86_64 --version 1.1.1.24 [--launcher] FILE... [--program FILE]...
                [--imports FILE]...

--launcher also checks the skin resources of FILE...; the files of --program (the Updater)
get every other check. --imports names a test program that links code we ship before a
shipped program does (zstd, say): only its architecture and imports are checked.

Exits 0 when every file passes, 1 with one line per finding otherwise."""
import argparse
import re
import sys

import pefile

# DLLs that every supported Windows (7 and later) has in its system folder.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
               "wininet.dll", "winmm.dll", "version.dll", "msvcrt.dll", "bcrypt.dll",
               "comctl32.dll", "crypt32.dll", "ws2_32.dll", "wintrust.dll"}

ARCHES = {
    "i686": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], pefile.OPTIONAL_HEADER_MAGIC_PE),
    "x86_64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS),
}
GUI = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
# The skin: background, mask, three pictures for each of four buttons, two bars.
LAUNCHER_BITMAPS = {204, 205, 206, 208, 209, 210, 211, 212, 213, 214, 215, 216, 217, 220, 221, 222}
LAUNCHER_ICON = 218


def imported_dlls(pe):
    names = []
    for attr in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(pe, attr, []):
            names.append(entry.dll.decode("ascii", "replace").lower())
    return names


def resource_ids(pe, type_id):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return set()
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            return {child.id for child in entry.directory.entries if child.id is not None}
    return set()


def resource_data(pe, type_id, res_id):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != type_id:
            continue
        for child in entry.directory.entries:
            if child.id == res_id:
                lang = child.directory.entries[0]
                return pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return None


def fixed_versions(pe):
    """(file version, product version) of the version resource, as a.b.c.d texts."""
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return None, None
    info = pe.VS_FIXEDFILEINFO[0]

    def quad(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    return quad(info.FileVersionMS, info.FileVersionLS), quad(info.ProductVersionMS, info.ProductVersionLS)


def check_manifest(pe, arch):
    data = resource_data(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"], 1)
    if data is None:
        return ["no application manifest (resource 24/1)"]
    text = data.decode("utf-8", "replace")
    problems = []
    if not re.search(r'requestedExecutionLevel\s+level="requireAdministrator"', text):
        problems.append("the manifest does not request administrator rights")
    if "supportedOS" in text:
        problems.append("the manifest lists supported systems")
    # Windows refuses to start a program whose manifest names another architecture.
    wanted = {"i686": "x86", "x86_64": "amd64"}[arch]
    found = re.search(r'processorArchitecture="([^"]*)"', text)
    if found and found.group(1) not in (wanted, "*"):
        problems.append(f"the manifest names processor architecture {found.group(1)}, not {wanted}")
    return problems


def load(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY[d] for d in (
        "IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT",
        "IMAGE_DIRECTORY_ENTRY_RESOURCE")])
    return pe


def machine_and_import_problems(pe, arch):
    problems = []
    machine, magic = ARCHES[arch]
    if pe.FILE_HEADER.Machine != machine or pe.OPTIONAL_HEADER.Magic != magic:
        problems.append(f"machine {pe.FILE_HEADER.Machine:#x} / magic {pe.OPTIONAL_HEADER.Magic:#x} is not {arch}")
    for dll in imported_dlls(pe):
        if dll not in SYSTEM_DLLS:
            problems.append(f"imports {dll}, which is not a system DLL of every Windows")
    return problems


def check_imports(path, arch):
    return [f"{path}: {p}" for p in machine_and_import_problems(load(path), arch)]


def check_file(path, arch, version, launcher):
    pe = load(path)
    problems = machine_and_import_problems(pe, arch)
    if pe.OPTIONAL_HEADER.Subsystem != GUI:
        problems.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem} is not the Windows GUI")
    file_version, product_version = fixed_versions(pe)
    if (file_version, product_version) != (version, version):
        problems.append(f"file version {file_version} / product version {product_version}, expected {version}")
    problems += check_manifest(pe, arch)
    if launcher:
        bitmaps = resource_ids(pe, pefile.RESOURCE_TYPE["RT_BITMAP"])
        if not LAUNCHER_BITMAPS <= bitmaps:
            problems.append(f"bitmaps {sorted(LAUNCHER_BITMAPS - bitmaps)} are missing")
        if LAUNCHER_ICON not in resource_ids(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"]):
            problems.append(f"icon {LAUNCHER_ICON} is missing")
    return [f"{path}: {p}" for p in problems]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", required=True, choices=sorted(ARCHES))
    parser.add_argument("--version", required=True)
    parser.add_argument("--launcher", action="store_true", help="also check the skin resources")
    parser.add_argument("--program", action="append", default=[], help="another program we ship, no skin")
    parser.add_argument("--imports", action="append", default=[], help="a test program: architecture and imports")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args(argv)
    if not args.files + args.program + args.imports:
        parser.error("no file to check")
    problems = []
    for path in args.files:
        problems += check_file(path, args.arch, args.version, args.launcher)
    for path in args.program:
        problems += check_file(path, args.arch, args.version, False)
    for path in args.imports:
        problems += check_imports(path, args.arch)
    for line in problems:
        print(line)
    if not problems:
        count = len(args.files) + len(args.program) + len(args.imports)
        print(f"check_pe: {count} file(s) pass as {args.arch}, version {args.version}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
