#!/usr/bin/python3
"""Draws the small pictures the dark style sheet needs and writes them to
src/resources/theme/: spin-box and combo-box arrows (normal, hover, disabled),
the check mark of a checked check box and the dot of a checked radio button.
Style sheets cannot draw these themselves (Qt ignores the CSS border-triangle
trick), so they are images.

Each picture is written at 1x and at 2x ("@2x", picked by Qt on high-density
screens). Shapes are described in 1x pixel units and rendered with 8x8
supersampling; the triangles have 45-degree sides, so their straight edges
fall on pixel borders and stay crisp at both scales.

    scripts/make_theme_images.py

Standard library only; the output is byte-for-byte the same on every run.
Commit the PNGs it writes.
"""

import os

from make_icon import encode_png

SAMPLES = 8

ARROW = (0x94, 0xA3, 0xB8)  # secondary text: the theme's arrow colour
ARROW_HOVER = (0xF1, 0xF5, 0xF9)  # main text
ARROW_DISABLED = (0x47, 0x55, 0x69)  # disabled text
ACCENT = (0x00, 0xD4, 0xFF)


def triangle(a, b, c):
    """Inside test of the triangle a, b, c (any winding)."""

    def side(p, q, x, y):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    def inside(x, y):
        d1, d2, d3 = side(a, b, x, y), side(b, c, x, y), side(c, a, x, y)
        has_neg = d1 < 0 or d2 < 0 or d3 < 0
        has_pos = d1 > 0 or d2 > 0 or d3 > 0
        return not (has_neg and has_pos)

    return inside


def stroke(points, width):
    """Inside test of a polyline drawn with round ends and joins."""
    half = width / 2.0

    def near_segment(p, q, x, y):
        dx, dy = q[0] - p[0], q[1] - p[1]
        t = ((x - p[0]) * dx + (y - p[1]) * dy) / (dx * dx + dy * dy)
        t = min(max(t, 0.0), 1.0)
        px, py = p[0] + t * dx, p[1] + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half

    def inside(x, y):
        return any(near_segment(points[i], points[i + 1], x, y) for i in range(len(points) - 1))

    return inside


def disc(cx, cy, radius):
    def inside(x, y):
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    return inside


def render(width, height, scale, inside, colour):
    """RGBA rows of a width x height (1x units) picture at the given scale."""
    rows = []
    step = 1.0 / SAMPLES
    for py in range(height * scale):
        row = bytearray()
        for px in range(width * scale):
            covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) * step) / scale
                    y = (py + (sy + 0.5) * step) / scale
                    covered += inside(x, y)
            alpha = int(round(255 * covered / (SAMPLES * SAMPLES)))
            row += bytes(list(colour) + [alpha]) if alpha else bytes(4)
        rows.append(bytes(row))
    return rows


# name: (width, height, shape); sizes are those the style sheet gives.
SHAPES = {
    # 8x8 box, triangle 8 wide and 4 high in the middle.
    "spin-up": (8, 8, triangle((0, 6), (8, 6), (4, 2))),
    "spin-down": (8, 8, triangle((0, 2), (8, 2), (4, 6))),
    # 10x6 box; the top row stays free so the triangle's weight sits centred.
    "combo-down": (10, 6, triangle((0, 1), (10, 1), (5, 6))),
}
ARROW_VARIANTS = {"": ARROW, "-hover": ARROW_HOVER, "-disabled": ARROW_DISABLED}

# Inside the 16x16 content of an 18px indicator with a 1px border.
MARKS = {
    "check": (12, 12, stroke([(2.0, 6.5), (5.0, 9.5), (10.5, 3.0)], 2.0), ACCENT),
    "radio-dot": (8, 8, disc(4.0, 4.0, 4.0), ACCENT),
}


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "src", "resources", "theme")
    os.makedirs(out, exist_ok=True)

    pictures = []
    for name, (width, height, shape) in SHAPES.items():
        for suffix, colour in ARROW_VARIANTS.items():
            pictures.append((name + suffix, width, height, shape, colour))
    for name, (width, height, shape, colour) in MARKS.items():
        pictures.append((name, width, height, shape, colour))

    for name, width, height, shape, colour in pictures:
        for scale, suffix in ((1, ""), (2, "@2x")):
            path = os.path.join(out, name + suffix + ".png")
            with open(path, "wb") as f:
                f.write(encode_png(render(width, height, scale, shape, colour)))
            print(path)


if __name__ == "__main__":
    main()
