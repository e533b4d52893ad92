#!/usr/bin/python3
"""Draws the Sockwise icon and writes it as src/resources/icon/WebSocket.ico
(one 64x64 RGBA PNG inside an .ico container) and packaging/sockwise.png.

Design: a dark rounded square with a thin blue border and two opposed arrows
(send and receive) in the theme's cyan gradient. Standard library only.
"""

import os
import struct
import zlib

SIZE = 64
SAMPLES = 4  # supersampling per axis for smooth edges

BACKGROUND_TOP = (0x11, 0x18, 0x27)
BACKGROUND_BOTTOM = (0x0B, 0x0E, 0x14)
BORDER = (0x1E, 0x3A, 0x5F)
CYAN_START = (0x08, 0x91, 0xB2)
CYAN_END = (0x00, 0xD4, 0xFF)


def in_rounded_square(x, y, inset, radius):
    lo, hi = inset, SIZE - inset
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_arrow(x, y, row_y, pointing_right):
    """A horizontal arrow: shaft 28 px long and 5 px thick, head 10 px deep."""
    left, right = 14.0, 50.0
    head = 11.0
    half_shaft = 2.6
    half_head = 8.0
    if not pointing_right:
        x = left + right - x  # mirror
    if y < row_y - half_head or y > row_y + half_head:
        return False
    tip = right
    base = right - head
    if left <= x <= base and abs(y - row_y) <= half_shaft:
        return True
    if base <= x <= tip:
        # triangle narrowing towards the tip
        allowed = half_head * (tip - x) / head
        return abs(y - row_y) <= allowed
    return False


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def shade(x, y):
    """Colour and coverage of one sample point."""
    if not in_rounded_square(x, y, 2.0, 12.0):
        return None
    if not in_rounded_square(x, y, 3.5, 10.5):
        return BORDER
    if in_arrow(x, y, 24.0, True) or in_arrow(x, y, 40.0, False):
        t = min(max((x + y - 28.0) / 72.0, 0.0), 1.0)
        return mix(CYAN_START, CYAN_END, t)
    return mix(BACKGROUND_TOP, BACKGROUND_BOTTOM, y / SIZE)


def render():
    rows = []
    step = 1.0 / SAMPLES
    for py in range(SIZE):
        row = bytearray()
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shade(px + (sx + 0.5) * step, py + (sy + 0.5) * step)
                    if c is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += c[i]
            if covered:
                rgb = [int(round(acc[i] / covered)) for i in range(3)]
                alpha = int(round(255 * covered / (SAMPLES * SAMPLES)))
            else:
                rgb, alpha = [0, 0, 0], 0
            row += bytes(rgb + [alpha])
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(rows):
    """PNG bytes of RGBA rows (4 bytes per pixel); the size comes from the rows."""
    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 per row
    header = struct.pack(">IIBBBBB", len(rows[0]) // 4, len(rows), 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def encode_ico(png):
    icondir = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, one image
    offset = 6 + 16
    # width, height, colours, reserved, planes, bits per pixel, size, offset
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(png), offset)
    return icondir + entry + png


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    png = encode_png(render())
    ico_path = os.path.join(root, "src", "resources", "icon", "WebSocket.ico")
    png_path = os.path.join(root, "packaging", "sockwise.png")
    os.makedirs(os.path.dirname(ico_path), exist_ok=True)
    os.makedirs(os.path.dirname(png_path), exist_ok=True)
    with open(ico_path, "wb") as f:
        f.write(encode_ico(png))
    with open(png_path, "wb") as f:
        f.write(png)
    print("wrote %s (%d bytes) and %s" % (ico_path, len(png) + 22, png_path))


if __name__ == "__main__":
    main()
