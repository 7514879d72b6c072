"""Path rules of content releases: the launcher's safe-path check, and the rules over all paths."""

RESERVED_CHARACTERS = frozenset(b'<>"|?*:')
DEVICES = (b"con", b"prn", b"aux", b"nul", b"conin$", b"conout$")
# The launcher's own files in its folder, which is the client folder.
RESERVED_TOP = (b"config", b"update.dat", b"update.manifest")
RESERVED_TOP_PREFIXES = (b"update.", b"content.")
MAX_PATH = 255


def lower_ascii(name):
    return name.lower()  # bytes.lower() changes ASCII letters only


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
    if any(b < 0x20 or b == 0x7F or b in RESERVED_CHARACTERS for b in component):
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


def path_problem(name):
    """Why one release path cannot be published, or None."""
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
    top = lower_ascii(name.split(b"/", 1)[0])
    if top in RESERVED_TOP or top.startswith(RESERVED_TOP_PREFIXES):
        return "names one of the launcher's own files in the folder's top level"
    return None


def set_problems(names):
    """(name, reason) for the rules between paths: equal ignoring ASCII case, or one a
    folder of another (also ignoring case: Windows would see the same names)."""
    problems, seen, folders = [], {}, {}
    for name in names:
        key = lower_ascii(name)
        if key in seen:
            problems.append((name, f"differs from {display(seen[key])} only in letter case"))
        seen.setdefault(key, name)
        parts = key.split(b"/")
        for i in range(1, len(parts)):
            folders.setdefault(b"/".join(parts[:i]), name)
    for key, name in seen.items():
        if key in folders:
            problems.append((name, f"is a file, and a folder of {display(folders[key])}"))
    return problems


def display(name):
    return name.decode("utf-8", "backslashreplace")
