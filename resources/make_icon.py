#!/usr/bin/env python3
"""Draws the setup program's icon and writes SablewickAgentSetup.ico.

The .ico is committed, so a build never needs this script; run it again only
to change the picture:  python3 resources/make_icon.py

The images go into the file in the order 16, 256, 32, 48, which is the order
the resource compiler numbers them (icon ids 1 to 4). 16, 32 and 48 are 32-bit
bitmaps with an AND mask; 256 is a PNG, as the shell expects for that size.
Standard library only.
"""
import math
import os
import struct
import zlib

SIZES = (16, 256, 32, 48)
SUPERSAMPLE = 4

BACKGROUND_TOP = (28, 74, 128)
BACKGROUND_BOTTOM = (14, 40, 78)
RING = (236, 242, 248)
FLAME = (255, 164, 38)


def _coverage_and_colour(u, v):
    """Colour (r, g, b) and opacity of one point of the unit square."""
    # Rounded square background.
    r = 0.18
    dx = max(abs(u - 0.5) - (0.5 - r), 0.0)
    dy = max(abs(v - 0.5) - (0.5 - r), 0.0)
    if dx * dx + dy * dy > r * r:
        return (0, 0, 0), 0.0
    t = v
    colour = tuple(int(a + (b - a) * t) for a, b in zip(BACKGROUND_TOP, BACKGROUND_BOTTOM))
    # A ring: the agent's reach.
    d = math.hypot(u - 0.5, v - 0.56)
    if 0.24 <= d <= 0.33:
        colour = RING
    # A flame above the ring's centre: the wick.
    fx, fy = (u - 0.5) / 0.11, (v - 0.60) / 0.11
    if fy >= 0.0 and fx * fx + fy * fy <= 1.0 or (-2.4 <= fy < 0.0 and abs(fx) <= 1.0 + fy / 2.4):
        colour = FLAME
    return colour, 1.0


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    n = SUPERSAMPLE
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    u = (x + (sx + 0.5) / n) / size
                    v = (y + (sy + 0.5) / n) / size
                    (cr, cg, cb), a = _coverage_and_colour(u, v)
                    acc[0] += cr * a
                    acc[1] += cg * a
                    acc[2] += cb * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] > 0:
                px = tuple(int(round(c / acc[3])) for c in acc[:3])
            else:
                px = (0, 0, 0)
            row.append(px + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def bitmap_image(rows):
    """BITMAPINFOHEADER, bottom-up BGRA pixels and the 1-bit AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def png_image(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_image(rows) if size == 256 else bitmap_image(rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "SablewickAgentSetup.ico")
    with open(path, "wb") as f:
        f.write(out)
    print(f"{path}: {len(out)} bytes")


if __name__ == "__main__":
    main()
