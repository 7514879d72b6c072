#!/usr/bin/python3
"""Checks a skin folder before it is built in: every picture the layout needs, at its size and depth."""
import struct
import sys
from pathlib import Path

# file: (width, height, bits per pixel)
EXPECTED = {
    "204.bmp": (649, 489, 32), "205.bmp": (649, 489, 32),
    "206.bmp": (114, 114, 32), "208.bmp": (114, 114, 32), "209.bmp": (114, 114, 32),
    **{f"{n}.bmp": (94, 39, 32) for n in (210, 211, 212, 213, 214, 215, 220, 221, 222)},
    "216.bmp": (276, 7, 24), "217.bmp": (276, 7, 24),
}


def check_bitmap(path, width, height, bits):
    data = path.read_bytes()
    if len(data) < 54 or data[:2] != b"BM":
        return f"{path}: not a Windows bitmap (BMP) file"
    header_size, w, h, planes, bpp, compression = struct.unpack_from("<IiiHHI", data, 14)
    if header_size < 40:
        return f"{path}: old-style bitmap header; save it as a Windows 3 (40-byte header) bitmap"
    if (w, abs(h), bpp) != (width, height, bits):
        return (f"{path}: is {w}x{abs(h)} at {bpp} bits per pixel; "
                f"the layout needs {width}x{height} at {bits} bits per pixel")
    if compression != 0:
        return f"{path}: is compressed (method {compression}); the skin must be uncompressed (BI_RGB)"
    return None


def check_icon(path):
    data = path.read_bytes()
    if len(data) < 6 or struct.unpack_from("<HHH", data, 0)[:2] != (0, 1):
        return f"{path}: not a Windows icon (ICO) file"
    return None


def main():
    if len(sys.argv) != 2:
        print("usage: check_skin.py SKIN_DIR", file=sys.stderr)
        return 2
    folder = Path(sys.argv[1])
    errors = []
    for name, (w, h, bits) in EXPECTED.items():
        path = folder / name
        if not path.is_file():
            errors.append(f"{path}: missing; the layout needs {w}x{h} at {bits} bits per pixel")
            continue
        problem = check_bitmap(path, w, h, bits)
        if problem:
            errors.append(problem)
    icon = folder / "218.ico"
    if not icon.is_file():
        errors.append(f"{icon}: missing; the window icon (64x64 entry recommended)")
    else:
        problem = check_icon(icon)
        if problem:
            errors.append(problem)
    for error in errors:
        print(f"skin error: {error}", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
