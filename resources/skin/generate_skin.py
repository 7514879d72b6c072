#!/usr/bin/python3
"""Draws the launcher's skin bitmaps and window icon, byte-for-byte reproducibly, into a directory."""

import math
import os
import random
import struct
import sys
from collections import namedtuple

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

W, H = 649, 489
# Inclusive pixel bounds; everything outside is masked away at runtime.
PANEL = (1, 45, 608, 488)
PANEL_RADIUS = 6
ILLUSTRATION = (10, 70, 599, 330)
START_POS, START_SIZE = (20, 349), 114
RECT_SIZE = (94, 39)
RectButton = namedtuple("RectButton", "pos text hover_pressed_disabled_files")
RECT_BUTTONS = (
    RectButton((138, 364), "홈페이지", (213, 214, 215)),
    RectButton((237, 364), "공식카페", (220, 221, 222)),
    RectButton((335, 364), "취소", (210, 211, 212)),
)
START_FILES = (206, 208, 209)
TROUGHS = ((141, 418), (141, 430))
BAR_SIZE = (276, 7)
ICON_SIZES = (64, 48, 32, 16)

FONT_DIR = "/usr/share/fonts/truetype/nanum"
# Shapes are rasterised this many times larger and box-filtered down, which gives exact coverage anti-aliasing.
SS = 4

PANEL_TOP, PANEL_MID, PANEL_BOTTOM = (27, 34, 49), (19, 25, 37), (12, 16, 24)
OUTSIDE = (8, 10, 14)
GOLD = (206, 166, 94)
GOLD_DIM = (138, 108, 62)


# ---------------------------------------------------------------- primitives

def font(name, size):
    # The basic layout engine avoids depending on whether libraqm happens to be installed.
    return ImageFont.truetype(os.path.join(FONT_DIR, name), size, layout_engine=ImageFont.Layout.BASIC)


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def stop_color(stops, t):
    if t <= stops[0][0]:
        return stops[0][1]
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            return lerp(c0, c1, (t - t0) / (t1 - t0) if t1 > t0 else 1.0)
    return stops[-1][1]


def vgrad(size, stops):
    w, h = size
    column = Image.new("RGB", (1, h))
    column.putdata([stop_color(stops, y / max(h - 1, 1)) for y in range(h)])
    return column.resize((w, h), Image.NEAREST)


def aa(size, draw_fn):
    """Coverage mask; draw_fn gets an ImageDraw on the enlarged canvas and the box() helper for edge coordinates."""
    w, h = size
    big = Image.new("L", (w * SS, h * SS), 0)
    draw_fn(ImageDraw.Draw(big))
    return big.resize((w, h), Image.BOX)


def box(x0, y0, x1, y1):
    """Edge coordinates (pixel x covers [x, x+1)) to the inclusive bounds ImageDraw expects on the enlarged canvas."""
    return [round(x0 * SS), round(y0 * SS), round(x1 * SS) - 1, round(y1 * SS) - 1]


def pts(points):
    return [(round(x * SS), round(y * SS)) for x, y in points]


def disc(size, cx, cy, r):
    return aa(size, lambda d: d.ellipse(box(cx - r, cy - r, cx + r, cy + r), fill=255))


def rrect(size, x0, y0, x1, y1, r):
    return aa(size, lambda d: d.rounded_rectangle(box(x0, y0, x1, y1), radius=r * SS, fill=255))


def scaled(mask, k):
    return mask.point(lambda v: min(255, int(v * k + 0.5)))


def paint(img, mask, src, pos=(0, 0)):
    if isinstance(src, tuple):
        src = Image.new("RGB", mask.size, src)
    img.paste(src, pos, mask)


def glow(img, mask, color, radius, strength=1.0, pos=(0, 0)):
    paint(img, scaled(mask.filter(ImageFilter.GaussianBlur(radius)), strength), color, pos)


def top_edge(mask):
    """The rim a light from above would catch: coverage minus the same coverage one pixel lower."""
    return ImageChops.subtract(mask, ImageChops.offset(mask, 0, 1))


def text_mask(text, f, spacing=0, pad=0):
    """Tight ink mask of a text, with pad pixels of empty margin for glows and outlines."""
    ascent, descent = f.getmetrics()
    width = int(f.getlength(text) + spacing * len(text)) + 8
    canvas = Image.new("L", (width, ascent + descent + 8), 0)
    draw = ImageDraw.Draw(canvas)
    if spacing:
        x = 4.0
        for ch in text:
            draw.text((x, 4), ch, font=f, fill=255)
            x += f.getlength(ch) + spacing
    else:
        draw.text((4, 4), text, font=f, fill=255)
    ink = canvas.crop(canvas.getbbox())
    out = Image.new("L", (ink.width + 2 * pad, ink.height + 2 * pad), 0)
    out.paste(ink, (pad, pad))
    return out


def centred(mask, cx, cy):
    return (int(round(cx - mask.width / 2)), int(round(cy - mask.height / 2)))


def label(img, text, f, cx, cy, color, shadow, spacing=0):
    m = text_mask(text, f, spacing, pad=3)
    pos = centred(m, cx, cy)
    glow(img, m, shadow, 1.2, 1.6, (pos[0], pos[1] + 1))
    paint(img, m, color, pos)


# ---------------------------------------------------------------- file formats

def bmp_bytes(img, bpp):
    w, h = img.size
    if bpp == 32:
        # The program ignores the 4th byte; 255 keeps the file sensible in viewers that do read it.
        data, row = img.convert("RGB").convert("RGBA").tobytes("raw", "BGRA"), w * 4
    else:
        data, row = img.convert("RGB").tobytes("raw", "BGR"), w * 3
    stride = (row + 3) & ~3
    pad = b"\0" * (stride - row)
    pixels = b"".join(data[y * row:(y + 1) * row] + pad for y in range(h - 1, -1, -1))
    file_header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, 0, len(pixels), 2835, 2835, 0, 0)
    return file_header + info + pixels


def ico_bytes(images):
    """ICO with classic BMP payloads (BGRA plus AND mask), which every Windows and Wine version reads."""
    entries, payloads = [], []
    offset = 6 + 16 * len(images)
    for im in images:
        w, h = im.size
        bgra = im.tobytes("raw", "BGRA")
        xor = b"".join(bgra[y * w * 4:(y + 1) * w * 4] for y in range(h - 1, -1, -1))
        alpha = im.getchannel("A").tobytes()
        mask_stride = ((w + 31) // 32) * 4
        rows = []
        for y in range(h - 1, -1, -1):
            bits = bytearray(mask_stride)
            for x in range(w):
                if alpha[y * w + x] == 0:
                    bits[x >> 3] |= 0x80 >> (x & 7)
            rows.append(bytes(bits))
        and_mask = b"".join(rows)
        info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
        payload = info + xor + and_mask
        entries.append(struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, 0, 0, 1, 32, len(payload), offset))
        payloads.append(payload)
        offset += len(payload)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(payloads)


# ---------------------------------------------------------------- mask

def edge_ramp(d):
    """Opacity for a pixel whose centre lies d pixels inside the panel outline: 96, 192, then opaque."""
    for (d0, v0), (d1, v1) in zip(((0, 0), (0.5, 96), (1.5, 192)), ((0.5, 96), (1.5, 192), (2.5, 255))):
        if d <= d1:
            return 0 if d <= d0 else int(round(v0 + (v1 - v0) * (d - d0) / (d1 - d0)))
    return 255


def opacity_mask():
    x0, y0, x1, y1 = PANEL
    left, top, right, bottom = x0, y0, x1 + 1, y1 + 1
    r = PANEL_RADIUS
    im = Image.new("L", (W, H), 0)
    im.paste(255, (x0 + 3, y0 + 3, x1 - 2, y1 - 2))
    px = im.load()
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            dx = min(x + 0.5 - left, right - x - 0.5)
            dy = min(y + 0.5 - top, bottom - y - 0.5)
            if dx >= 3 and dy >= 3:
                continue
            d = r - math.hypot(r - dx, r - dy) if dx < r and dy < r else min(dx, dy)
            px[x, y] = edge_ramp(d)
    return im.convert("RGB")


# ---------------------------------------------------------------- landscape

def midpoint_line(rng, n, amp, rough):
    size = 1
    while size < n:
        size *= 2
    v = [0.0] * (size + 1)
    v[0], v[size] = rng.uniform(-amp, amp), rng.uniform(-amp, amp)
    step, scale = size, amp
    while step > 1:
        half = step // 2
        for i in range(half, size, step):
            v[i] = (v[i - half] + v[i + half]) / 2 + rng.uniform(-scale, scale)
        scale *= rough
        step = half
    return v[:n]


def ridge(rng, w, base, peaks, amp, rough=0.55):
    noise = midpoint_line(rng, w + 1, amp, rough)
    ys = []
    for x in range(w + 1):
        y = base + noise[x]
        for centre, height, spread, sharp in peaks:
            t = abs(x - centre) / spread
            # Sharp peaks fall off exponentially (a crest), soft ones as a bell (a hill).
            y -= height * (math.exp(-t) if sharp else math.exp(-t * t))
        ys.append(y)
    return ys


def ridge_mask(size, ys):
    w, h = size
    outline = [(x, ys[x]) for x in range(w + 1)] + [(w, h), (0, h)]
    return aa(size, lambda d: d.polygon(pts(outline), fill=255))


def castle(d, cx, by):
    """Castle silhouette standing on ground level by, centred at cx (drawn on an enlarged canvas)."""
    def rect(x0, y0, x1, y1):
        d.rectangle(box(x0, y0, x1, y1), fill=255)

    def merlons(x0, x1, y, step=4):
        x = x0
        while x + 2 <= x1:
            rect(x, y - 2.5, x + 2, y)
            x += step

    def cone(x0, x1, y, height):
        d.polygon(pts([(x0 - 1.5, y), (x1 + 1.5, y), ((x0 + x1) / 2, y - height)]), fill=255)

    rect(cx - 31, by - 15, cx + 31, by + 16)
    merlons(cx - 31, cx + 31, by - 15)
    for x0 in (cx - 35, cx + 26):
        rect(x0, by - 31, x0 + 9, by + 16)
        cone(x0, x0 + 9, by - 31, 13)
    rect(cx - 14, by - 34, cx + 12, by + 16)
    merlons(cx - 14, cx + 12, by - 34)
    rect(cx - 5, by - 55, cx + 4, by + 16)
    cone(cx - 5, cx + 4, by - 55, 17)
    d.line(pts([(cx - 0.5, by - 72), (cx - 0.5, by - 80)]), fill=255, width=SS)
    d.polygon(pts([(cx, by - 80), (cx + 7, by - 78), (cx, by - 76)]), fill=255)


CASTLE_WINDOWS = ((-1, -47), (-9, -26), (6, -26), (-31, -22), (29, -22), (-20, -8), (17, -8), (-1, -26))


def pines(d, rng, ys, x0, x1, density):
    x = x0
    while x < x1:
        h = rng.uniform(10, 26)
        base = ys[int(x)] + 2
        half = h * 0.32
        for tier in range(3):
            top = base - h + tier * h * 0.22
            bottom = base - h * 0.35 + tier * h * 0.25
            spread = half * (0.55 + 0.3 * tier)
            d.polygon(pts([(x - spread, bottom), (x + spread, bottom), (x, top)]), fill=255)
        d.rectangle(box(x - 0.6, base - h * 0.2, x + 0.6, base + 4), fill=255)
        x += rng.uniform(4, 9) / density


def landscape(size):
    w, h = size
    rng = random.Random(20260)
    img = vgrad(size, [(0, (7, 11, 30)), (0.25, (18, 24, 60)), (0.44, (50, 43, 96)),
                       (0.56, (128, 80, 112)), (0.66, (218, 138, 108)), (1, (250, 190, 128))])
    glow(img, aa(size, lambda d: d.ellipse(box(w * 0.14, h * 0.48, w * 0.7, h * 0.86), fill=255)),
         (255, 204, 146), 26, 0.8)

    px = img.load()
    for _ in range(170):
        x, y = rng.randrange(w), int(rng.random() ** 1.7 * h * 0.55)
        k = rng.uniform(0.3, 1.0) * max(0.0, 1 - y / (h * 0.58))
        px[x, y] = lerp(px[x, y], (255, 250, 236), k)
        if k > 0.7 and 0 < x < w - 1 and 0 < y < h - 1:
            for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
                px[nx, ny] = lerp(px[nx, ny], (255, 250, 236), k * 0.35)

    for _ in range(9):
        cx, cy = rng.uniform(0, w), rng.uniform(h * 0.36, h * 0.62)
        cw, ch = rng.uniform(60, 180), rng.uniform(3, 7)
        cloud = aa(size, lambda d: d.ellipse(box(cx - cw / 2, cy - ch / 2, cx + cw / 2, cy + ch / 2), fill=255))
        glow(img, cloud, lerp((150, 96, 140), (255, 176, 140), cy / h), 2.5, rng.uniform(0.35, 0.6))

    mx, my, mr = w * 0.85, 50, 16
    glow(img, disc(size, mx, my, mr * 2.2), (190, 196, 236), 16, 0.55)
    moon = disc(size, mx, my, mr)
    paint(img, moon, vgrad(size, [(0, (255, 250, 232)), (my / h, (246, 236, 210)), (1, (222, 212, 190))]))
    for ox, oy, rx, ry in ((-5, -4, 5, 4), (4, 2, 4, 5), (-2, 7, 3, 2)):
        blot = aa(size, lambda d: d.ellipse(box(mx + ox - rx, my + oy - ry, mx + ox + rx, my + oy + ry), fill=255))
        paint(img, scaled(ImageChops.multiply(blot.filter(ImageFilter.GaussianBlur(1.5)), moon), 0.35),
              (196, 186, 170))

    layers = (
        (h * 0.66, ((w * 0.24, 96, 70, True), (w * 0.52, 58, 60, True), (w * 0.9, 70, 80, True)), 22,
         (70, 62, 112), (106, 84, 126), (255, 210, 166)),
        (h * 0.76, ((w * 0.08, 46, 50, True), (w * 0.4, 40, 70, True), (w * 0.66, 30, 60, True)), 15,
         (44, 40, 82), (72, 58, 102), (255, 186, 150)),
        (h * 0.85, ((w * 0.73, 44, 62, False), (w * 0.2, 24, 90, False)), 6,
         (26, 26, 52), (40, 36, 66), (236, 160, 140)),
    )
    castle_x = w * 0.73
    for i, (base, peaks, amp, top_c, bottom_c, rim_c) in enumerate(layers):
        ys = ridge(rng, w, base, peaks, amp, 0.62)
        if i == 2:
            ground = min(ys[int(castle_x) - 6:int(castle_x) + 7]) + 3
            ridge_m = ridge_mask(size, ys)
            tower = aa(size, lambda d: castle(d, castle_x, ground))
            m = ImageChops.lighter(ridge_m, tower)
        else:
            m = ridge_mask(size, ys)
        top = min(ys)
        paint(img, m, vgrad(size, [(0, top_c), (top / h, top_c), (1, bottom_c)]))
        paint(img, scaled(top_edge(m), 0.45 - 0.1 * i), rim_c)
        haze = aa(size, lambda d: d.rectangle(box(0, base - 4, w, base + 16), fill=255))
        glow(img, haze, lerp(bottom_c, (230, 170, 160), 0.35), 7, 0.55)
        if i == 2:
            for ox, oy in CASTLE_WINDOWS:
                win = aa(size, lambda d: d.rectangle(box(castle_x + ox, ground + oy, castle_x + ox + 1.5,
                                                         ground + oy + 2.5), fill=255))
                glow(img, win, (255, 170, 80), 2, 1.2)
                paint(img, win, (255, 222, 140))

    lake_top = h * 0.9
    lake = aa(size, lambda d: d.ellipse(box(w * 0.18, lake_top, w * 0.86, h + 30), fill=255))
    paint(img, lake, vgrad(size, [(0, (112, 76, 108)), (lake_top / h, (124, 80, 108)), (1, (30, 28, 56))]))
    for k in range(5):
        y = lake_top + 2.5 + k * 3.5
        xc, half = w * 0.42 + rng.uniform(-25, 25), rng.uniform(25, 70) * (1 - k * 0.15)
        streak = aa(size, lambda d: d.ellipse(box(xc - half, y, xc + half, y + 1.2), fill=255))
        glow(img, ImageChops.multiply(streak, lake), (255, 196, 150), 0.8, 0.5 - k * 0.06)

    fg = ridge(rng, w, h * 1.02, ((0, 58, 120, False), (w, 62, 110, False), (w * 0.5, -10, 60, False)), 3)
    fg_m = ImageChops.lighter(ridge_mask(size, fg), aa(size, lambda d: (
        pines(d, random.Random(7), fg, 2, w * 0.26, 1.0), pines(d, random.Random(11), fg, w * 0.78, w - 2, 1.0))))
    paint(img, fg_m, (10, 12, 24))
    paint(img, scaled(top_edge(fg_m), 0.25), (200, 130, 120))

    vignette = aa(size, lambda d: d.ellipse(box(-w * 0.15, -h * 0.35, w * 1.15, h * 1.3), fill=255))
    paint(img, ImageChops.invert(vignette.filter(ImageFilter.GaussianBlur(40))).point(lambda v: v * 2 // 3),
          (6, 8, 18))
    return img


# ---------------------------------------------------------------- panel furniture

def diamond(img, cx, cy, r, color):
    m = aa((W, H), lambda d: d.polygon(pts([(cx, cy - r), (cx + r, cy), (cx, cy + r), (cx - r, cy)]), fill=255))
    paint(img, m, color)


def panel_frame(img):
    x0, y0, x1, y1 = PANEL
    l, t, r, b = x0, y0, x1 + 1, y1 + 1
    outer = rrect((W, H), l, t, r, b, PANEL_RADIUS)
    paint(img, outer, (44, 46, 56))
    paint(img, rrect((W, H), l + 2, t + 2, r - 2, b - 2, PANEL_RADIUS - 2), (5, 6, 10))
    paint(img, rrect((W, H), l + 3, t + 3, r - 3, b - 3, PANEL_RADIUS - 3), GOLD_DIM)
    paint(img, rrect((W, H), l + 4, t + 4, r - 4, b - 4, PANEL_RADIUS - 3), (8, 10, 16))
    inner_w, inner_h = r - l - 10, b - t - 10
    body = rrect((inner_w, inner_h), 0, 0, inner_w, inner_h, 2)
    paint(img, body, vgrad((inner_w, inner_h), [(0, PANEL_TOP), (0.45, PANEL_MID), (1, PANEL_BOTTOM)]),
          (l + 5, t + 5))
    for cx, cy in (((l + r) / 2, t + 3.5), ((l + r) / 2, b - 3.5), (l + 3.5, (t + b) / 2), (r - 3.5, (t + b) / 2)):
        diamond(img, cx, cy, 3.5, GOLD)


def illustration(img):
    x0, y0, x1, y1 = ILLUSTRATION
    d = ImageDraw.Draw(img)
    d.rectangle((x0 - 2, y0 - 2, x1 + 2, y1 + 2), outline=(4, 5, 9))
    d.rectangle((x0 - 1, y0 - 1, x1 + 1, y1 + 1), outline=GOLD_DIM)
    img.paste(landscape((x1 - x0 + 1, y1 - y0 + 1)), (x0, y0))
    for cx, cy in ((x0 - 0.5, y0 - 0.5), (x1 + 1.5, y0 - 0.5), (x0 - 0.5, y1 + 1.5), (x1 + 1.5, y1 + 1.5)):
        diamond(img, cx, cy, 3, GOLD)


def logo(img):
    cx = (PANEL[0] + PANEL[2] + 1) / 2
    word = text_mask("QOR", font("NanumMyeongjoBold.ttf", 60), spacing=6, pad=40)
    pos = centred(word, cx, 112)
    glow(img, word, (0, 0, 0), 4, 1.4, (pos[0], pos[1] + 3))
    glow(img, word, (255, 178, 80), 11, 0.8, pos)
    paint(img, word.filter(ImageFilter.MaxFilter(3)), (58, 34, 12), pos)
    ink_top, ink_bottom = word.getbbox()[1], word.getbbox()[3]
    fill = Image.new("RGB", word.size)
    fill.paste(vgrad((word.width, ink_bottom - ink_top), [(0, (255, 246, 206)), (0.45, (236, 190, 102)),
                                                          (0.55, (196, 140, 64)), (1, (246, 204, 124))]),
               (0, ink_top))
    paint(img, word, fill, pos)
    paint(img, scaled(top_edge(word), 0.8), (255, 255, 236), pos)

    sub = text_mask("ONLINE", font("NanumSquareB.ttf", 12), spacing=7, pad=6)
    sub_y = pos[1] + ink_bottom + 11
    glow(img, sub, (0, 0, 0), 2, 1.5, centred(sub, cx, sub_y + 1))
    paint(img, sub, (236, 214, 160), centred(sub, cx, sub_y))
    half = sub.width / 2
    for sign in (-1, 1):
        a, b = cx + sign * (half + 4), cx + sign * (half + 46)
        line = aa((W, H), lambda d: d.line(pts([(a, sub_y), (b, sub_y)]), fill=255, width=SS))
        glow(img, line, (0, 0, 0), 1.5, 1.2)
        paint(img, line, GOLD)
        diamond(img, b + sign * 3, sub_y, 2.5, GOLD)


def close_mark(img):
    cx, cy = 592.5, 57.5
    ring = disc((W, H), cx, cy, 8)
    paint(img, ring, (60, 50, 36))
    paint(img, disc((W, H), cx, cy, 7), (16, 20, 30))
    cross = aa((W, H), lambda d: (
        d.line(pts([(cx - 3.8, cy - 3.8), (cx + 3.8, cy + 3.8)]), fill=255, width=round(1.7 * SS)),
        d.line(pts([(cx - 3.8, cy + 3.8), (cx + 3.8, cy - 3.8)]), fill=255, width=round(1.7 * SS))))
    paint(img, cross, (222, 212, 190))


def troughs(img):
    w, h = BAR_SIZE
    d = ImageDraw.Draw(img)
    for x, y in TROUGHS:
        d.rectangle((x - 1, y - 1, x + w, y + h), fill=(58, 64, 80))
        d.line((x - 1, y - 1, x + w - 1, y - 1), fill=(2, 3, 6))
        d.line((x - 1, y - 1, x - 1, y + h - 1), fill=(2, 3, 6))
        img.paste(vgrad((w, h), [(0, (4, 5, 9)), (1, (15, 18, 26))]), (x, y))


def crossed_swords(d, cx, cy):
    for sign in (-1, 1):
        d.line(pts([(cx - sign * 8, cy + 8), (cx + sign * 7, cy - 7)]), fill=255, width=round(2.2 * SS))
        d.line(pts([(cx - sign * 9.5, cy + 3), (cx - sign * 3, cy + 9.5)]), fill=255, width=round(2 * SS))


def badges(img):
    size, top = 34, 418
    f = font("NanumSquareB.ttf", 17)
    for i, (fill, text, ink) in enumerate((((236, 178, 28), "12", (24, 20, 10)),
                                           ((228, 104, 32), "15", (255, 255, 255)),
                                           ((58, 62, 72), None, (240, 240, 240)))):
        x = 484 + i * (size + 4)
        paint(img, rrect((W, H), x, top, x + size, top + size, 6), (236, 236, 236))
        paint(img, rrect((W, H), x + 2, top + 2, x + size - 2, top + size - 2, 4), fill)
        cx, cy = x + size / 2, top + size / 2
        if text:
            m = text_mask(text, f)
            paint(img, m, ink, centred(m, cx, cy))
        else:
            paint(img, aa((W, H), lambda d: crossed_swords(d, cx, cy)), ink)
    caption = text_mask("이용등급", font("NanumGothicBold.ttf", 10), spacing=1)
    paint(img, caption, (120, 128, 142), centred(caption, 484 + (3 * size + 8) / 2, top + size + 9))


def credits(img):
    m = text_mask("© 2026 QOR Online. All rights reserved.", font("NanumGothic.ttf", 10))
    paint(img, m, (104, 112, 126), centred(m, (PANEL[0] + PANEL[2] + 1) / 2, 475))


# ---------------------------------------------------------------- buttons

StartLook = namedtuple("StartLook", "rim_top rim_bottom face_top face_bottom shine ink shadow halo")
START_LOOKS = {
    "ready": StartLook((250, 214, 138), (112, 70, 30), (206, 132, 58), (104, 56, 20), (255, 220, 150),
              (255, 248, 230), (56, 26, 6), ((255, 176, 70), 0.7)),
    "hover": StartLook((180, 255, 246), (26, 116, 122), (48, 158, 158), (12, 66, 76), (170, 255, 246),
              (255, 255, 255), (4, 40, 44), ((70, 230, 220), 1.5)),
    "disabled": StartLook((156, 156, 158), (66, 66, 70), (92, 92, 96), (52, 52, 56), (150, 150, 152),
                 (172, 172, 174), (30, 30, 32), None),
}


def start_button(background, look):
    rim_t, rim_b, face_t, face_b, shine, ink, shadow, halo = START_LOOKS[look]
    n = START_SIZE
    c = n / 2
    img = background.crop((START_POS[0], START_POS[1], START_POS[0] + n, START_POS[1] + n))
    # Blurs are cut off at the picture edge; fading them to nothing there keeps the overlay seamless.
    window = disc((n, n), c, c, c - 0.5)
    outer = disc((n, n), c, c, 53)
    shadow_m = ImageChops.offset(outer.filter(ImageFilter.GaussianBlur(2)), 0, 2)
    paint(img, scaled(ImageChops.multiply(shadow_m, window), 1.1), (0, 0, 0))
    if halo:
        halo_colour, halo_strength = halo
        paint(img, ImageChops.multiply(scaled(outer.filter(ImageFilter.GaussianBlur(3)), halo_strength), window),
              halo_colour)
    paint(img, outer, vgrad((n, n), [(0, rim_t), (0.5, lerp(rim_t, rim_b, 0.6)), (1, rim_b)]))
    paint(img, disc((n, n), c, c, 48), lerp(rim_b, (0, 0, 0), 0.7))
    face = disc((n, n), c, c, 46.5)
    paint(img, face, vgrad((n, n), [(0, face_t), (0.75, face_b), (1, lerp(face_b, face_t, 0.5))]))
    sheen = ImageChops.multiply(aa((n, n), lambda d: d.ellipse(box(c - 36, c - 46, c + 36, c - 4), fill=255))
                                .filter(ImageFilter.GaussianBlur(6)), face)
    paint(img, scaled(sheen, 0.42), shine)
    ring = ImageChops.subtract(disc((n, n), c, c, 44.5), disc((n, n), c, c, 43.5))
    paint(img, scaled(ring, 0.35), shine)
    paint(img, scaled(top_edge(outer), 0.9), lerp(rim_t, (255, 255, 255), 0.5))
    label(img, "게임 시작", font("NanumSquareB.ttf", 19), c, c - 6, ink, shadow)
    label(img, "GAME START", font("NanumSquareB.ttf", 9), c, c + 15, lerp(ink, shine, 0.4), shadow, spacing=1.5)
    return img


RectLook = namedtuple("RectLook", "border_top border_bottom face_top face_bottom ink shadow halo drop")
RECT_LOOKS = {
    "normal": RectLook((190, 152, 88), (96, 72, 40), (46, 55, 74), (24, 29, 41), (234, 222, 198), (0, 0, 0), None, 0),
    "hover": RectLook((150, 255, 246), (36, 164, 166), (30, 100, 108), (14, 50, 60), (255, 255, 255), (0, 26, 30),
              (60, 226, 216), 0),
    "pressed": RectLook((255, 222, 146), (172, 120, 58), (112, 70, 30), (170, 112, 52), (255, 244, 222), (50, 24, 4),
                None, 1),
    "disabled": RectLook((98, 98, 102), (64, 64, 68), (52, 54, 58), (38, 40, 44), (124, 126, 130), (0, 0, 0), None, 0),
}


def rect_button(background, pos, text, look):
    border_t, border_b, face_t, face_b, ink, shadow, halo, drop = RECT_LOOKS[look]
    w, h = RECT_SIZE
    img = background.crop((pos[0], pos[1], pos[0] + w, pos[1] + h))
    window = rrect((w, h), 1, 1, w - 1, h - 1, 6)
    body = rrect((w, h), 2.5, 2.5, w - 2.5, h - 2.5, 5)
    if halo:
        paint(img, ImageChops.multiply(scaled(body.filter(ImageFilter.GaussianBlur(2)), 1.8), window), halo)
    else:
        shadow_m = ImageChops.offset(body.filter(ImageFilter.GaussianBlur(1.2)), 0, 1)
        paint(img, scaled(ImageChops.multiply(shadow_m, window), 0.8), (0, 0, 0))
    paint(img, body, vgrad((w, h), [(0, border_t), (1, border_b)]))
    face = rrect((w, h), 3.5, 3.5, w - 3.5, h - 3.5, 4)
    paint(img, face, vgrad((w, h), [(0.1, face_t), (0.9, face_b)]))
    if not drop and look != "disabled":
        paint(img, scaled(top_edge(face), 0.25), (255, 255, 255))
    label(img, text, font("NanumSquareB.ttf", 13), w / 2, h / 2 + drop, ink, shadow)
    return img


# ---------------------------------------------------------------- progress bars and icon

def progress_bar(left, right):
    w, h = BAR_SIZE
    shade = (1.3, 1.14, 1.04, 0.97, 0.9, 0.82, 0.68)
    img = Image.new("RGB", (w, h))
    px = img.load()
    for x in range(w):
        c = lerp(left, right, x / (w - 1))
        for y in range(h):
            px[x, y] = tuple(min(255, int(v * shade[y])) for v in c)
    return img


def icon(size):
    n = 256
    rgb = vgrad((n, n), [(0, (255, 228, 150)), (0.5, (208, 156, 72)), (1, (122, 76, 30))])
    alpha = disc((n, n), 128, 128, 126)
    # Below 32 px serifs and a wide rim turn to mush, so the tiniest icon gets a thin rim and a heavy sans letter.
    tiny = size <= 16
    rim = 14 if tiny else 22 if size <= 32 else 16
    paint(rgb, disc((n, n), 128, 128, 126 - rim), (26, 14, 6))
    face = disc((n, n), 128, 128, 122 - rim)
    paint(rgb, face, vgrad((n, n), [(0, (40, 56, 90)), (1, (10, 15, 28))]))
    q = text_mask("Q", font("NanumSquareB.ttf", 190) if tiny else
                  font("NanumMyeongjoBold.ttf", 200 if size <= 32 else 176), pad=8)
    pos = centred(q, 128, 132)
    paint(rgb, q.filter(ImageFilter.MaxFilter(5)), (30, 16, 4), pos)
    paint(rgb, q, vgrad(q.size, [(0, (255, 244, 200)), (0.5, (232, 184, 96)), (1, (180, 124, 52))]), pos)
    rgb.putalpha(alpha)
    small = rgb.resize((size, size), Image.LANCZOS)
    # Fully transparent pixels carry no colour, which keeps the AND mask and the colour data consistent.
    black = Image.new("RGBA", small.size, (0, 0, 0, 0))
    return Image.composite(small, black, small.getchannel("A").point(lambda v: 255 if v else 0))


# ---------------------------------------------------------------- assembly

def build():
    """All skin files as {file name: bytes}."""
    base = Image.new("RGB", (W, H), OUTSIDE)
    panel_frame(base)
    illustration(base)
    logo(base)
    close_mark(base)
    troughs(base)
    badges(base)
    credits(base)

    files = {}
    pictures = {}
    ready = start_button(base, "ready")
    for number, look in zip(START_FILES, ("hover", "ready", "disabled")):
        pictures[number] = ready if look == "ready" else start_button(base, look)
    for pos, text, numbers in RECT_BUTTONS:
        for number, look in zip(numbers, ("hover", "pressed", "disabled")):
            pictures[number] = rect_button(base, pos, text, look)
    # Button pictures are cut from the background before the buttons are drawn on it, so their corners match.
    background = base.copy()
    background.paste(ready, START_POS)
    for pos, text, _ in RECT_BUTTONS:
        background.paste(rect_button(base, pos, text, "normal"), pos)

    files["204.bmp"] = bmp_bytes(background, 32)
    files["205.bmp"] = bmp_bytes(opacity_mask(), 32)
    for number, picture in sorted(pictures.items()):
        files["%d.bmp" % number] = bmp_bytes(picture, 32)
    files["216.bmp"] = bmp_bytes(progress_bar((255, 150, 36), (244, 72, 150)), 24)
    files["217.bmp"] = bmp_bytes(progress_bar((44, 136, 255), (152, 84, 236)), 24)
    files["218.ico"] = ico_bytes([icon(s) for s in ICON_SIZES])
    return files


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: %s OUTPUT_DIR\n" % os.path.basename(argv[0]))
        return 2
    os.makedirs(argv[1], exist_ok=True)
    for name, data in build().items():
        with open(os.path.join(argv[1], name), "wb") as out:
            out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
