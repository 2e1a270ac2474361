#!/usr/bin/python3
"""Converts the window's PNGs into what a Windows resource script holds: BMP and ICO.

Run with any python 3 (standard library only): python3 res/windows_resources.py
Its output is committed beside the PNGs, so a Windows build needs neither this script nor python.

  background_133.png, bar_141.png, close_button_140.png -> NAME.bmp (24 bits, bottom-up)
  app_128_16/32/48.png                                   -> app_128.ico (three 32-bit images)
  tray_130/131/132.png                                   -> tray_13N.ico (one 32-bit image each)

Windows' own loaders (LoadImage, LoadIcon) read these without any codec: the PNGs would need one.
"""

import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def read_png(path):
    """Returns (width, height, channels, rows) of an 8-bit RGB or RGBA PNG; rows hold bytes."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos : pos + 4])
        kind = data[pos + 4 : pos + 8]
        body = data[pos + 8 : pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        sys.exit(f"{path}: only 8-bit RGB or RGBA without interlacing is expected")
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1 : start + 1 + stride])
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[x] = (line[x] + predictor) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def pixels(png):
    """(r, g, b, a) rows, top row first."""
    width, _, channels, rows = png
    out = []
    for line in rows:
        row = []
        for x in range(width):
            px = line[x * channels : (x + 1) * channels]
            row.append(tuple(px) if channels == 4 else tuple(px) + (255,))
        out.append(row)
    return out


def bmp_24(png):
    width, height = png[0], png[1]
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels(png)):
        line = bytearray()
        for r, g, b, _ in row:
            line += bytes((b, g, r))
        body += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(body), 0, 0, 14 + len(info))
    return header + info + body


def icon_image(png):
    """One icon image: a 32-bit DIB (colour with alpha) and its 1-bit transparency mask."""
    width, height = png[0], png[1]
    rows = pixels(png)
    colour = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    # The height counts colour and mask together.
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0,
                       len(colour) + len(mask), 0, 0, 0, 0)
    return width, height, info + colour + mask


def ico(pngs):
    images = [icon_image(p) for p in pngs]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for width, height, data in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def write(name, data):
    path = os.path.join(HERE, name)
    with open(path, "wb") as f:
        f.write(data)
    print(f"wrote {name} ({len(data)} bytes)")


def main():
    load = lambda name: read_png(os.path.join(HERE, name))
    for name in ("background_133", "bar_141", "close_button_140"):
        write(name + ".bmp", bmp_24(load(name + ".png")))
    write("app_128.ico", ico([load(f"app_128_{size}.png") for size in (16, 32, 48)]))
    for frame in (130, 131, 132):
        write(f"tray_{frame}.ico", ico([load(f"tray_{frame}.png")]))


if __name__ == "__main__":
    main()
