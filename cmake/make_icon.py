#!/usr/bin/env python3
"""Writes the installer's icon: one 32x32 image, 32 bits per pixel with an AND mask, drawn as a
blue globe with a meridian and an equator on a transparent ground.

    make_icon.py OUTPUT.ico
"""
import math
import struct
import sys

SIZE = 32


def pixel(x, y):
    """(blue, green, red, alpha) of the pixel x, y counted from the top-left corner."""
    cx = cy = (SIZE - 1) / 2
    r = SIZE / 2 - 1.5
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if d > r + 0.5:
        return (0, 0, 0, 0)
    if d > r - 1.0 or abs(dx) < 0.6 or abs(dy) < 0.6:
        return (0x30, 0x18, 0x08, 0xFF)
    if abs(math.hypot(dx / 0.5, dy) - r) < 1.2:
        return (0x30, 0x18, 0x08, 0xFF)
    shade = int(0xA0 + 0x50 * (1 - d / r))
    return (min(shade + 0x20, 0xFF), shade // 2, 0x10, 0xFF)


def icon_bytes():
    rows = []
    mask_rows = []
    for y in reversed(range(SIZE)):  # a DIB is stored bottom-up
        rows.append(b"".join(bytes(pixel(x, y)) for x in range(SIZE)))
        bits = 0
        for x in range(SIZE):
            if pixel(x, y)[3] == 0:
                bits |= 1 << (SIZE - 1 - x)
        mask_rows.append(struct.pack(">I", bits))  # 32 pixels: one row is exactly 4 bytes
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 32, 0, 0, 0, 0, 0, 0)
    image = info + b"".join(rows) + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes())


if __name__ == "__main__":
    main()
