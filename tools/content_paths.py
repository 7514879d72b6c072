"""Path rules of content releases: the launcher's safe-path check, and the rules over all paths.

Names are compared as NTFS compares them (and as the launcher's src/paths/name_fold.h does):
UTF-16 code units upper-cased one to one by the table of make_upcase_table.py."""
import functools
import re

from make_upcase_table import fold_translation

DEVICES = (b"con", b"prn", b"aux", b"nul", b"conin$", b"conout$")
# The launcher's and the Updater's own files in its folder, which is the client folder, compared
# folded; the Updater takes any "<name>.updating" or "<name>.replaced" there for its own.
RESERVED_TOP = ("config", "config.new", "update.dat", "update.manifest", "launcher.exe", "updater.exe",
                "qor_installer.exe")
RESERVED_TOP_PREFIXES = ("update.", "content.")
RESERVED_TOP_SUFFIXES = (".updating", ".replaced")
# The launcher's own programs, always; an operator adds branded names (--program-name).
PROGRAM_NAMES = ("launcher.exe", "Updater.exe")
MAX_PATH = 255
_FOLD = fold_translation()
# The 8.3 alias shape (src/paths/short_name_alias.h): a stem of 1 to 8 characters without ".",
# ending in "~" and ASCII digits, then nothing or "." and 1 to 3 characters without ".".
_ALIAS = re.compile(r"(?P<stem>[^.]*~[0-9]+)(\.[^.]{1,3})?", re.DOTALL)
# Control characters, DEL and the characters Windows reserves, in one scan of a component.
_UNSAFE_BYTE = re.compile(rb'[\x00-\x1f\x7f<>"|?*:]')


def lower_ascii(name):
    return name.lower()  # bytes.lower() changes ASCII letters only


def fold(name):
    """The text NTFS compares for name (bytes of UTF-8, or str): each BMP code point
    upper-cased by the table, "\\" as "/"; bytes that are not UTF-8 stay apart from all text."""
    text = name.decode("utf-8", "surrogateescape") if isinstance(name, bytes) else name
    return text.translate(_FOLD).replace("\\", "/")


def is_short_alias_shape(component):
    """True when a component (bytes or str) looks like an 8.3 alias ("DATAFI~1", "CONTEN~1.STA"),
    which may open another file than the one it spells."""
    if (b"~" if isinstance(component, bytes) else "~") not in component:
        return False
    text = component.decode("utf-8", "surrogateescape") if isinstance(component, bytes) else component
    match = _ALIAS.fullmatch(text)
    return bool(match) and len(match.group("stem")) <= 8


@functools.lru_cache(maxsize=16)
def _reserved(programs):
    """The folded program names, reserved names, prefixes and suffixes: folded once, not for
    each of a large release's hundred thousand paths."""
    return (frozenset(fold(n) for n in (*PROGRAM_NAMES, *programs)), frozenset(fold(n) for n in RESERVED_TOP),
            tuple(fold(p) for p in RESERVED_TOP_PREFIXES), tuple(fold(s) for s in RESERVED_TOP_SUFFIXES))


def reserved_top_problem(name, programs=()):
    """Why the top-level component of name is the launcher's, or None. programs: more program
    names (an operator's branded ones) beside launcher.exe and Updater.exe."""
    top = fold(name.split(b"/" if isinstance(name, bytes) else "/", 1)[0]).split("/", 1)[0]
    own, reserved, prefixes, suffixes = _reserved(tuple(programs))
    if top in own:
        return ("names one of the launcher's own programs in the folder's top level "
                "(every player's launcher would refuse the release)")
    if top in reserved or top.startswith(prefixes) or top.endswith(suffixes):
        return "names one of the launcher's own files in the folder's top level"
    return None


def _is_device(component):
    base = component.split(b".", 1)[0].rstrip(b" ")
    if lower_ascii(base) in DEVICES:
        return True
    # Windows counts the superscripts 1, 2 and 3 as port numbers too (CP949 A9 F6 to A9 F8).
    digit = len(base) == 4 and 0x31 <= base[3] <= 0x39
    superscript = len(base) == 5 and base[3] == 0xA9 and 0xF6 <= base[4] <= 0xF8
    return (digit or superscript) and lower_ascii(base[:3]) in (b"com", b"lpt")


def _is_utf8_superscript_port(component):
    """COM or LPT with a superscript 1, 2 or 3 in UTF-8: the launcher's rules know it in CP949."""
    base = component.split(b".", 1)[0].rstrip(b" ")
    return len(base) == 5 and base[3:] in (b"\xc2\xb9", b"\xc2\xb2", b"\xc2\xb3") and \
        lower_ascii(base[:3]) in (b"com", b"lpt")


def _is_safe_component(component):
    if not component or component[-1:] in (b".", b" "):
        return False
    if _UNSAFE_BYTE.search(component):
        return False
    return not _is_device(component)


def is_safe_relative_path(name):
    """The launcher's IsSafeRelativePath on bytes: "/" and "\\" separate, one trailing
    separator allowed."""
    if not name or name[:1] in (b"/", b"\\"):
        return False
    components = name.replace(b"\\", b"/").split(b"/")
    if components[-1] == b"":
        components.pop()
    return all(_is_safe_component(c) for c in components)


def path_problem(name, programs=()):
    """Why one release path cannot be published, or None; programs as reserved_top_problem."""
    if not 1 <= len(name) <= MAX_PATH:
        return f"is {len(name)} bytes long; a release path is 1 to {MAX_PATH} bytes"
    # A backslash is a separator to Windows: "a\\b" would be the file "a/b" unseen by the
    # duplicate and folder rules.
    if b"\\" in name or name.endswith(b"/") or not is_safe_relative_path(name):
        return ("is not a safe relative path (no .. or . component, drive, stream, device name, "
                "reserved character, backslash, or component ending in a dot or a blank)")
    # UTF-8, so that a name means the same on every player's Windows whatever its code page.
    try:
        name.decode("utf-8", "strict")
    except UnicodeDecodeError:
        return "is not UTF-8 (release paths are UTF-8 on every player's machine)"
    if any(_is_utf8_superscript_port(c) for c in name.split(b"/")):
        return "is not a safe relative path (a COM or LPT port name with a superscript digit)"
    aliases = [c for c in name.split(b"/") if is_short_alias_shape(c)]
    if aliases:
        return (f"has a component shaped like an 8.3 alias ({display(aliases[0])}: a name, '~' and digits), "
                "which may open another file on a player's NTFS")
    return reserved_top_problem(name, programs)


def set_problems(names):
    """(name, reason) for the rules between paths: the same name to NTFS (equal folded), or
    one a folder of another (also folded: Windows would see the same names)."""
    problems, seen, folders = [], {}, {}
    for name in names:
        key = fold(name)
        if key in seen:
            problems.append((name, f"differs from {display(seen[key])} only in letter case "
                                   "(the same name on a player's NTFS)"))
        seen.setdefault(key, name)
        parts = key.split("/")
        for i in range(1, len(parts)):
            folders.setdefault("/".join(parts[:i]), name)
    for key, name in seen.items():
        if key in folders:
            problems.append((name, f"is a file, and a folder of {display(folders[key])}"))
    return problems


def display(name):
    return name.decode("utf-8", "backslashreplace")
