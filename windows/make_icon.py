#!/usr/bin/env python3
"""Draws the program's icon (the shapes of dist/qv840n.svg) into a Windows
.ico of 16, 32, 48 and 64 pixels, 32-bit with alpha, 4x4 supersampled.
usage: make_icon.py OUT.ico"""
import struct
import sys

# (kind, x, y, w, h, radius, fill, stroke, stroke width) in the 64-unit box.
SHAPES = [
    ("rect", 4, 10, 56, 44, 5, 0x4a4f57, 0x23262b, 2),
    ("rect", 10, 17, 44, 20, 2, 0x1d3b1d, 0x101a10, 1.5),
    ("rect", 13, 21, 30, 4, 0, 0x8fef6f, None, 0),
    ("rect", 13, 29, 22, 4, 0, 0x8fef6f, None, 0),
    ("circle", 15, 46, 4, 0, 0, 0xffcc00, 0x805f00, 1),
    ("rect", 24, 43, 8, 6, 1, 0xc0c0c0, None, 0),
    ("rect", 35, 43, 8, 6, 1, 0xc0c0c0, None, 0),
    ("rect", 46, 43, 8, 6, 1, 0xc0c0c0, None, 0),
]


def inside_rect(px, py, x, y, w, h, r):
    if px < x or py < y or px > x + w or py > y + h:
        return False
    cx = min(max(px, x + r), x + w - r)
    cy = min(max(py, y + r), y + h - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def colour_at(px, py):
    """The colour at a point, or None; later shapes paint over earlier ones."""
    out = None
    for kind, x, y, w, h, r, fill, stroke, sw in SHAPES:
        half = sw / 2
        if kind == "rect":
            outer = inside_rect(px, py, x - half, y - half, w + sw, h + sw, r + half)
            inner = inside_rect(px, py, x + half, y + half, w - sw, h - sw, max(r - half, 0))
        else:  # circle at (x, y), radius w
            d2 = (px - x) ** 2 + (py - y) ** 2
            outer = d2 <= (w + half) ** 2
            inner = d2 <= (w - half) ** 2
        if inner or (outer and stroke is None):
            out = fill
        elif outer:
            out = stroke
    return out


def image(size):
    """BGRA rows, bottom row first, as a .ico's bitmap wants them."""
    n = 4
    rows = []
    for row in range(size - 1, -1, -1):
        line = bytearray()
        for col in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((col + (sx + 0.5) / n) * 64 / size,
                                  (row + (sy + 0.5) / n) * 64 / size)
                    if c is not None:
                        acc[0] += c & 0xff
                        acc[1] += (c >> 8) & 0xff
                        acc[2] += c >> 16
                        acc[3] += 1
            k = acc[3]
            line += bytes([acc[0] // k, acc[1] // k, acc[2] // k, 255 * k // (n * n)] if k
                          else [0, 0, 0, 0])
        rows.append(bytes(line))
    mask = b"\0" * (((size + 31) // 32) * 4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask


def main():
    sizes = [16, 32, 48, 64]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
