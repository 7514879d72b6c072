"""Checks the skin generator's output against what the launcher loads: formats, geometry, mask and overlays."""

import os
import struct
import subprocess

import pytest

GENERATOR = os.path.join(os.path.dirname(__file__), "..", "..", "resources", "skin", "generate_skin.py")

BMPS = {
    "204.bmp": (649, 489, 32), "205.bmp": (649, 489, 32),
    "206.bmp": (114, 114, 32), "208.bmp": (114, 114, 32), "209.bmp": (114, 114, 32),
    "216.bmp": (276, 7, 24), "217.bmp": (276, 7, 24),
}
BMPS.update({"%d.bmp" % n: (94, 39, 32) for n in (210, 211, 212, 213, 214, 215, 220, 221, 222)})


def run(out_dir):
    subprocess.run(["/usr/bin/python3", GENERATOR, str(out_dir)], check=True, timeout=120)
    return {name: (out_dir / name).read_bytes() for name in os.listdir(out_dir)}


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    return run(tmp_path_factory.mktemp("skin"))


class Bmp:
    def __init__(self, data):
        magic, self.file_size, _, _, self.offset = struct.unpack_from("<2sIHHI", data, 0)
        (self.header_size, self.width, self.height, self.planes, self.bpp, self.compression,
         self.image_size) = struct.unpack_from("<IiiHHII", data, 14)
        assert magic == b"BM"
        self.data = data
        self.stride = (self.width * self.bpp // 8 + 3) & ~3

    def pixel(self, x, y):
        """(B, G, R[, X]) at x, y counted from the top; rows are stored bottom-up."""
        at = self.offset + (self.height - 1 - y) * self.stride + x * self.bpp // 8
        return tuple(self.data[at:at + self.bpp // 8])


def test_every_bitmap_has_the_exact_header(files):
    for name, (w, h, bpp) in BMPS.items():
        bmp = Bmp(files[name])
        assert (bmp.width, bmp.height, bmp.bpp) == (w, h, bpp), name
        assert (bmp.header_size, bmp.planes, bmp.compression, bmp.offset) == (40, 1, 0, 54), name
        assert bmp.image_size == bmp.stride * h and bmp.file_size == len(files[name]) == 54 + bmp.image_size, name


def test_fourth_byte_is_opaque(files):
    bmp = Bmp(files["204.bmp"])
    assert {bmp.pixel(x, y)[3] for x, y in ((0, 0), (300, 200), (648, 488))} == {255}


def test_runs_are_byte_identical(files, tmp_path):
    assert run(tmp_path) == files


def test_mask_is_opaque_panel_with_soft_neutral_edges(files):
    mask = Bmp(files["205.bmp"])
    for x, y in ((0, 0), (620, 100), (300, 20), (0, 300), (300, 44)):
        assert mask.pixel(x, y)[:3] == (0, 0, 0), (x, y)
    assert mask.pixel(300, 300)[:3] == (255, 255, 255)
    edge = [mask.pixel(300, y)[0] for y in (45, 46, 47)]
    assert 0 < edge[0] < edge[1] < 255 and edge[2] == 255
    for y in range(0, 489, 7):
        for x in range(0, 649, 3):
            b, g, r, _ = mask.pixel(x, y)
            assert b == g == r, (x, y)


def test_bars_are_left_to_right_gradients(files):
    upper, lower = Bmp(files["216.bmp"]), Bmp(files["217.bmp"])
    blue = [upper.pixel(x, 3)[0] for x in range(276)]
    red = [lower.pixel(x, 3)[2] for x in range(276)]
    assert blue == sorted(blue) and blue[-1] - blue[0] > 60  # orange turns pink
    assert red == sorted(red) and red[-1] - red[0] > 60  # blue turns violet
    assert upper.pixel(0, 3)[2] > upper.pixel(0, 3)[0]  # warm
    assert lower.pixel(0, 3)[0] > lower.pixel(0, 3)[2]  # cool


def test_state_pictures_overlay_the_background_seamlessly(files):
    background = Bmp(files["204.bmp"])
    buttons = {(20, 349): (206, 208, 209), (138, 364): (213, 214, 215), (237, 364): (220, 221, 222),
               (335, 364): (210, 211, 212)}
    for (left, top), numbers in buttons.items():
        for number in numbers:
            picture = Bmp(files["%d.bmp" % number])
            for x, y in ((0, 0), (picture.width - 1, 0), (0, picture.height - 1)):
                assert picture.pixel(x, y) == background.pixel(left + x, top + y), (number, x, y)
    # The start button's normal look is its pressed picture.
    start = Bmp(files["208.bmp"])
    assert all(start.pixel(x, y) == background.pixel(20 + x, 349 + y) for y in range(114) for x in range(114))


def test_icon_has_a_64_pixel_32_bit_entry(files):
    data = files["218.ico"]
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind) == (0, 1) and count >= 1
    entries = [struct.unpack_from("<BBBBHHII", data, 6 + 16 * i) for i in range(count)]
    big = [e for e in entries if e[0] == 64 and e[1] == 64]
    assert big, entries
    size, offset = big[0][6], big[0][7]
    assert offset + size <= len(data)
    header_size, width, height, _, bpp = struct.unpack_from("<IiiHH", data, offset)
    assert (header_size, width, height, bpp) == (40, 64, 128, 32)


def brightness(bmp, x, y):
    return sum(bmp.pixel(x, y)[:3]) / 3


def test_runtime_text_areas_stay_dark_and_calm(files):
    background = Bmp(files["204.bmp"])
    for left, top, right, bottom in ((138, 334, 440, 353), (18, 52, 90, 67)):  # status line, version label
        values = [brightness(background, x, y) for y in range(top, bottom) for x in range(left, right)]
        assert max(values) < 70 and max(values) - min(values) < 30, (left, top)


def test_troughs_are_dark_and_close_mark_is_in_its_corner(files):
    background = Bmp(files["204.bmp"])
    for left, top in ((141, 418), (141, 430)):
        assert max(brightness(background, x, y) for y in range(top, top + 7) for x in range(left, left + 276)) < 40
    # Above the illustration (which starts at row 70) only the close mark is bright.
    bright = [x for y in range(45, 70) for x in range(400, 609) if brightness(background, x, y) > 150]
    assert bright and min(bright) > 580


def test_icon_mask_matches_alpha_in_every_entry(files):
    data = files["218.ico"]
    count = struct.unpack_from("<H", data, 4)[0]
    sizes = []
    for i in range(count):
        width, _, _, _, _, _, _, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        sizes.append(width)
        xor = offset + 40
        and_stride = (width + 31) // 32 * 4
        mask = xor + width * width * 4
        for row in range(width):
            for x in range(width):
                alpha = data[xor + (row * width + x) * 4 + 3]
                transparent = data[mask + row * and_stride + x // 8] >> (7 - x % 8) & 1
                assert transparent == (alpha == 0), (width, x, row)
    assert sorted(sizes) == [16, 32, 48, 64]


def test_usage_error_without_output_dir():
    result = subprocess.run(["/usr/bin/python3", GENERATOR], capture_output=True, timeout=60)
    assert result.returncode == 2 and b"usage" in result.stderr
