#!/usr/bin/env python3
"""Draws the ZYR application icon and writes it as a Windows .ico file.

The artwork is a speed dial: a 270-degree scale with a red end zone and an
amber needle, on a dark blue rounded square. Nine images: 16, 32 and 48
pixels, each at 4, 8 and 32 bits per pixel. Pure Python 3, no modules
beyond the standard library, so the icon can be rebuilt anywhere:

    python3 app/icon/make_icon.py [output.ico]

The generated app/icon/zyr.ico is committed, so the build needs no Python.
"""
import math
import os
import struct
import sys

SIZES = (16, 32, 48)
DEPTHS = (4, 8, 32)
SUPERSAMPLE = 6

TOP_BLUE = (0x2A, 0x5F, 0x93)
BOTTOM_BLUE = (0x0E, 0x2A, 0x47)
EDGE_BLUE = (0x08, 0x1A, 0x2E)
SCALE_WHITE = (0xEE, 0xF2, 0xF6)
ZONE_RED = (0xF0, 0x3C, 0x24)
NEEDLE_AMBER = (0xFF, 0xB4, 0x00)
HUB_WHITE = (0xFF, 0xFF, 0xFF)
HUB_DARK = (0x20, 0x20, 0x20)

CENTRE = (0.5, 0.55)
SCALE_START = 225.0   # degrees, counter-clockwise from the positive x axis
SCALE_END = -45.0
ZONE_START = 10.0     # the last part of the scale is the red end zone
NEEDLE_ANGLE = 60.0


def rounded_square(x, y, inset, radius):
    """True inside a square inset from the unit square, corners rounded."""
    lo, hi = inset, 1.0 - inset
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def polar(x, y):
    """Distance and angle (degrees, y up) of a point from the dial centre."""
    dx, dy = x - CENTRE[0], CENTRE[1] - y
    return math.hypot(dx, dy), math.degrees(math.atan2(dy, dx))


def on_scale(angle, start, end):
    """True when the angle lies on the clockwise sweep from start to end."""
    sweep = (start - end) % 360.0
    return (start - angle) % 360.0 <= sweep


def near_segment(x, y, ax, ay, bx, by, width):
    """True within width/2 of the segment from a to b."""
    vx, vy = bx - ax, by - ay
    t = ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)
    t = min(max(t, 0.0), 1.0)
    px, py = ax + t * vx, ay + t * vy
    return math.hypot(x - px, y - py) <= width / 2


def sample(x, y, size, flat):
    """Colour (r, g, b) and opacity (0 or 1) of one point of the unit square.
    A flat background suits the 16-colour images, which have no blue between
    navy and blue for a gradient."""
    if not rounded_square(x, y, 0.02, 0.2):
        return (0, 0, 0), 0
    small = size <= 16
    if flat:
        colour = (0x00, 0x00, 0x80)
    else:
        colour = tuple(int(t + (b - t) * y) for t, b in zip(TOP_BLUE, BOTTOM_BLUE))
    if not rounded_square(x, y, 0.02 + (0.07 if small else 0.04), 0.17):
        colour = EDGE_BLUE

    radius, angle = polar(x, y)
    outer = 0.36
    ring = 0.10 if small else 0.075
    if outer - ring <= radius <= outer and on_scale(angle, SCALE_START, SCALE_END):
        colour = ZONE_RED if on_scale(angle, ZONE_START, SCALE_END) else SCALE_WHITE
    # Tick marks inside the scale, every 45 degrees, where there is room.
    if not small and outer - ring - 0.07 <= radius < outer - ring - 0.015:
        for tick in range(7):
            tick_angle = SCALE_START - tick * 45.0
            if abs(((angle - tick_angle + 180.0) % 360.0) - 180.0) * math.pi / 180.0 * radius <= 0.018:
                colour = SCALE_WHITE
    # The needle, from the hub towards the scale.
    a = math.radians(NEEDLE_ANGLE)
    tip = (CENTRE[0] + 0.30 * math.cos(a), CENTRE[1] - 0.30 * math.sin(a))
    if near_segment(x, y, CENTRE[0], CENTRE[1], tip[0], tip[1], 0.11 if small else 0.07):
        colour = NEEDLE_AMBER
    if radius <= (0.09 if small else 0.075):
        colour = HUB_WHITE
    if not small and radius <= 0.03:
        colour = HUB_DARK
    return colour, 1


def render(size, smooth, flat=False):
    """Rows of (r, g, b, a) pixels, top row first: averaged over subsamples
    when smooth, else one sample at each pixel's centre (crisp edges for the
    palette images, where blended edge colours would map to stray hues)."""
    rows = []
    n = SUPERSAMPLE if smooth else 1
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    (cr, cg, cb), ca = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, size, flat)
                    r, g, b, a = r + cr * ca, g + cg * ca, b + cb * ca, a + ca
            if a:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


VGA_PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def cube_palette(rows):
    """256 colours: a 6x6x6 cube and the image's most frequent other colours."""
    levels = (0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF)
    palette = [(r, g, b) for r in levels for g in levels for b in levels]
    counts = {}
    for row in rows:
        for r, g, b, a in row:
            if a >= 128:
                counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    for colour, _ in sorted(counts.items(), key=lambda item: (-item[1], item[0])):
        if len(palette) == 256:
            break
        if colour not in palette:
            palette.append(colour)
    while len(palette) < 256:
        palette.append((0, 0, 0))
    return palette


def nearest(palette, colour, cache):
    if colour not in cache:
        cache[colour] = min(range(len(palette)),
                            key=lambda i: sum((p - c) ** 2 for p, c in zip(palette[i], colour)))
    return cache[colour]


def row_padded(data):
    return data + b"\0" * (-len(data) % 4)


def and_mask(rows, size):
    """1 bit per pixel, set where the pixel is transparent, bottom row first."""
    out = b""
    for row in reversed(rows):
        bits = bytearray((size + 7) // 8)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += row_padded(bytes(bits))
    return out


def dib(rows, size, depth):
    """The icon image: BITMAPINFOHEADER, palette, colour bits, AND mask."""
    palette = []
    if depth == 32:
        pixels = b"".join(row_padded(b"".join(struct.pack("BBBB", b, g, r, a) for r, g, b, a in row))
                          for row in reversed(rows))
    else:
        palette = VGA_PALETTE if depth == 4 else cube_palette(rows)
        cache = {}
        pixels = b""
        for row in reversed(rows):
            indices = [nearest(palette, (r, g, b), cache) if a >= 128 else 0 for r, g, b, a in row]
            if depth == 8:
                pixels += row_padded(bytes(indices))
            else:
                packed = bytes((indices[i] << 4) | (indices[i + 1] if i + 1 < size else 0)
                               for i in range(0, size, 2))
                pixels += row_padded(packed)
    mask = and_mask(rows, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, len(pixels) + len(mask),
                         0, 0, len(palette), 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + pixels + mask


def icon_file():
    images = []
    for size in SIZES:
        for depth in DEPTHS:
            rows = render(size, smooth=depth == 32, flat=depth == 4)
            images.append((size, depth, dib(rows, size, depth)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, depth, data in images:
        colour_count = 16 if depth == 4 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0, 1, depth, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, _, data in images)


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zyr.ico")
    path = sys.argv[1] if len(sys.argv) > 1 else default
    with open(path, "wb") as out:
        out.write(icon_file())
    print(path)


if __name__ == "__main__":
    main()
