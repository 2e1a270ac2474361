#!/usr/bin/python3
"""Draws the window's images and icons into res/*.png.

Run with Debian's python (it has PIL): /usr/bin/python3 res/draw_images.py
The PNGs are committed, so a build needs neither this script nor its fonts.

Geometry the window code relies on (client coordinates = image coordinates of 133):
  banner rows 0-57; body from row 58; label 1 in columns 11-60, rows 69-80;
  trough 1 frame rows 103/125, columns 11/409; label 2 columns 11-60, rows 139-150;
  trough 2 frame rows 155/177, columns 11/409. The script checks the labels stay in their boxes.
"""

import math
import os

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
FONT_PROPORTIONAL = 0
FONT_SHARP = 2  # carries hand-tuned bitmaps at 12 px: crisp small labels

SS = 8  # supersampling factor for shapes


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def mix(c, other, t):
    return lerp(c, other, t)


def supersampled(size, draw_fn):
    """Draws with draw_fn(draw, scale) on an RGBA canvas SS times larger and scales it down."""
    w, h = size
    big = Image.new("RGBA", (w * SS, h * SS), (0, 0, 0, 0))
    draw_fn(ImageDraw.Draw(big), SS)
    return big.resize((w, h), Image.Resampling.BOX)


# ---------------------------------------------------------------- the globe with a download arrow


def draw_globe(d, s, ox, oy, size):
    """Globe of diameter `size` at (ox, oy) in output pixels, with a green arrow in front."""
    u = size / 48.0  # designed on a 48-pixel grid

    def p(x, y):
        return ((ox + x * u) * s, (oy + y * u) * s)

    def r(v):
        return v * u * s

    cx, cy, rad = 21.0, 21.0, 19.0
    # ocean, shaded from top-left
    for i in range(24, 0, -1):
        t = i / 24.0
        col = mix((40, 110, 205), (130, 195, 250), (1 - t) * 0.9)
        rr = rad * t
        off = (1 - t) * -5.0
        x0, y0 = p(cx + off - rr, cy + off - rr)
        x1, y1 = p(cx + off + rr, cy + off + rr)
        d.ellipse((x0, y0, x1, y1), fill=col + (255,))
    # land masses
    green = (70, 165, 80, 255)
    lands = [
        [(9, 12), (15, 8), (21, 9), (22, 14), (18, 17), (17, 22), (13, 24), (10, 20), (7, 17)],
        [(24, 20), (31, 18), (36, 22), (35, 29), (30, 35), (26, 33), (25, 27)],
        [(14, 29), (18, 28), (20, 33), (17, 38), (13, 35)],
        [(27, 7), (33, 8), (35, 12), (30, 13)],
    ]
    for poly in lands:
        d.polygon([p(x, y) for x, y in poly], fill=green)
    # meridians and parallels, faint
    line = (255, 255, 255, 70)
    for k in (-1, 0, 1):
        ex = abs(k) * 8.0 if k else 0.0
        if k == 0:
            d.line([p(cx, cy - rad), p(cx, cy + rad)], fill=line, width=max(1, round(r(0.9))))
        else:
            x0, y0 = p(cx - ex, cy - rad)
            x1, y1 = p(cx + ex, cy + rad)
            d.ellipse((x0, y0, x1, y1), outline=line, width=max(1, round(r(0.9))))
    for yy in (-9.5, 0.0, 9.5):
        half = math.sqrt(rad * rad - yy * yy)
        d.line([p(cx - half, cy + yy), p(cx + half, cy + yy)], fill=line,
               width=max(1, round(r(0.9))))
    # rim
    x0, y0 = p(cx - rad, cy - rad)
    x1, y1 = p(cx + rad, cy + rad)
    d.ellipse((x0, y0, x1, y1), outline=(25, 70, 140, 255), width=max(1, round(r(1.4))))
    # glossy highlight
    x0, y0 = p(cx - 11, cy - 16)
    x1, y1 = p(cx + 1, cy - 9)
    d.ellipse((x0, y0, x1, y1), fill=(255, 255, 255, 45))

    # the download arrow, lower right, with a dark outline so it reads at 16 px
    arrow = [(33, 22), (41, 22), (41, 34), (47, 34), (37, 46), (27, 34), (33, 34)]
    d.polygon([p(x, y) for x, y in arrow], fill=(20, 90, 30, 255))
    inner = [(34.6, 23.6), (39.4, 23.6), (39.4, 35.6), (43.6, 35.6), (37, 43.6),
             (30.4, 35.6), (34.6, 35.6)]
    d.polygon([p(x, y) for x, y in inner], fill=(95, 210, 85, 255))
    shine = [(34.6, 23.6), (39.4, 23.6), (39.4, 29), (34.6, 29)]
    d.polygon([p(x, y) for x, y in shine], fill=(170, 240, 150, 255))


def globe_icon(size):
    return supersampled((size, size), lambda d, s: draw_globe(d, s, 0, 0, size))


# ---------------------------------------------------------------- the tray's striped arrowhead


def arrowhead_icon(body, stripe):
    """32 x 32 downward-pointing arrowhead with horizontal stripes; body None = stripes alone."""

    def draw(d, s):
        tri = [(2, 5), (30, 5), (16, 29)]

        def inside_half_width(y):
            # half width of the triangle at height y
            return 14.0 * (29 - y) / 24.0

        outline = (40, 40, 40, 255) if body else (90, 90, 90, 255)
        d.polygon([(x * s, y * s) for x, y in tri], fill=outline)
        # inset by about 1.3 px
        inner = [(4.3, 6.3), (27.7, 6.3), (16, 26.3)]
        if body:
            d.polygon([(x * s, y * s) for x, y in inner], fill=body + (255,))
        else:
            d.polygon([(x * s, y * s) for x, y in inner], fill=(0, 0, 0, 0))
        for y0 in (8.0, 13.0, 18.0):
            y1 = y0 + 2.6
            hw0 = inside_half_width(y0) - 2.6
            hw1 = inside_half_width(y1) - 2.6
            if hw1 <= 0:
                continue
            d.polygon([((16 - hw0) * s, y0 * s), ((16 + hw0) * s, y0 * s),
                       ((16 + hw1) * s, y1 * s), ((16 - hw1) * s, y1 * s)],
                      fill=stripe + (255,))

    return supersampled((32, 32), draw)


# ---------------------------------------------------------------- the background


BANNER_TOP = (141, 182, 227)
BANNER_BOTTOM = (219, 228, 247)
BODY = (240, 240, 240)
TROUGH_FRAME = (150, 160, 176)
TROUGH_INNER_TOP = (226, 230, 236)
TROUGH_INNER_BOTTOM = (250, 251, 253)
LABEL_INK = (40, 40, 40)


def banner_colour(y):
    return lerp(BANNER_TOP, BANNER_BOTTOM, y / 57.0)


def draw_label(img, text, left, top, box_right, box_bottom):
    """Draws a 12-pixel label glyph by glyph so that it fits its 50 x 12 box exactly."""
    font = ImageFont.truetype(FONT, 12, index=FONT_SHARP)
    d = ImageDraw.Draw(img)
    x = left
    for ch in text:
        bbox = font.getbbox(ch)
        d.text((x - bbox[0], top - 1), ch, font=font, fill=LABEL_INK)
        x += 12 if ord(ch) > 0x2000 else bbox[2] - bbox[0] + 1
    check_ink(img, left, top, box_right, box_bottom, text)


def check_ink(img, left, top, right, bottom, what):
    """Fails when ink of `what` strays outside its box (inclusive bounds)."""
    px = img.load()
    for y in range(top - 3, bottom + 4):
        for x in range(left - 3, right + 8):
            if px[x, y] != BODY and not (left <= x <= right and top <= y <= bottom):
                raise SystemExit(f"{what}: ink at ({x}, {y}) outside its box")


def draw_trough(img, top):
    d = ImageDraw.Draw(img)
    for y in range(top + 1, top + 22):
        c = lerp(TROUGH_INNER_TOP, TROUGH_INNER_BOTTOM, (y - top - 1) / 20.0)
        d.line([(12, y), (408, y)], fill=c)
    d.rectangle((11, top, 409, top + 22), outline=TROUGH_FRAME)
    # soft inner shadow under the top edge
    d.line([(12, top + 1), (408, top + 1)], fill=(212, 217, 225))


def background():
    img = Image.new("RGB", (421, 222), BODY)
    d = ImageDraw.Draw(img)
    for y in range(58):
        d.line([(0, y), (420, y)], fill=banner_colour(y))
    # a hairline under the banner separates it from the body
    d.line([(0, 57), (420, 57)], fill=(200, 212, 235))

    globe = supersampled((40, 40), lambda dd, s: draw_globe(dd, s, 0, 0, 40))
    img.paste(globe, (12, 9), globe)

    font = ImageFont.truetype(FONT, 16, index=FONT_PROPORTIONAL)
    text = "正在下载更新文件，请稍候…"
    bbox = font.getbbox(text)
    ty = 29 - (bbox[1] + bbox[3]) // 2
    d.text((65, ty + 1), text, font=font, fill=(255, 255, 255))  # soft emboss
    d.text((64, ty), text, font=font, fill=(22, 52, 104))

    draw_label(img, "正在下载:", 11, 69, 60, 80)
    draw_trough(img, 103)
    draw_label(img, "总体进度:", 11, 139, 60, 150)
    draw_trough(img, 155)
    return img


# ---------------------------------------------------------------- the bar fill


def bar_fill():
    w, h = 548, 22
    stops = [(0.0, (30, 90, 215)), (0.5, (30, 190, 225)), (1.0, (50, 190, 70))]
    img = Image.new("RGB", (w, h))
    px = img.load()
    for x in range(w):
        t = x / (w - 1)
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                base = lerp(c0, c1, (t - t0) / (t1 - t0))
                break
        for y in range(h):
            # lighter along the top and bottom rows, a soft gloss in the upper half
            edge = min(y, h - 1 - y)
            light = {0: 0.55, 1: 0.35, 2: 0.2}.get(edge, 0.0)
            if 2 < y < 10:
                light = max(light, 0.18 - 0.02 * (y - 3))
            px[x, y] = mix(base, (255, 255, 255), light)
    return img


# ---------------------------------------------------------------- the close-button frames


def close_frames():
    img = Image.new("RGB", (104, 19))
    d = ImageDraw.Draw(img)
    for y in range(19):
        d.line([(0, y), (103, y)], fill=banner_colour(y + 2))
    # normal, pointer over it, pressed, disabled: the cross alone changes colour
    crosses = [(110, 110, 110), (220, 35, 30), (140, 15, 15), (185, 185, 185)]
    for i, cross in enumerate(crosses):

        def draw(dd, s, cross=cross):
            for a, b in (((9, 5.5), (17, 13.5)), ((17, 5.5), (9, 13.5))):
                dd.line([(a[0] * s, a[1] * s), (b[0] * s, b[1] * s)], fill=cross + (255,),
                        width=round(2.2 * s))

        frame = supersampled((26, 19), draw)
        img.paste(frame, (26 * i, 0), frame)
    return img


def main():
    out = lambda name: os.path.join(HERE, name)
    background().save(out("background_133.png"), optimize=True)
    close_frames().save(out("close_button_140.png"), optimize=True)
    bar_fill().save(out("bar_141.png"), optimize=True)
    for size in (16, 32, 48):
        globe_icon(size).save(out(f"app_128_{size}.png"), optimize=True)
    frames = [
        ("tray_130.png", (150, 20, 20), (250, 215, 40)),
        ("tray_131.png", (40, 160, 60), (220, 40, 40)),
        ("tray_132.png", None, (255, 255, 255)),
    ]
    for name, body, stripe in frames:
        arrowhead_icon(body, stripe).save(out(name), optimize=True)


if __name__ == "__main__":
    main()
