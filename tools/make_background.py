#!/usr/bin/env python3
"""Draws the window's background picture: light-grey artwork on a white ground, as an opaque
8-bit RGB PNG of 1242 x 770 pixels (the window's size at twice its resolution).

Usage: tools/make_background.py resources/background.png
"""
import math
import struct
import sys
import zlib

WIDTH, HEIGHT = 1242, 770
WHITE = 255


def ink(x, y):
    """How much grey covers the pixel, 0 (none) to 1, from a few soft strokes."""
    cover = 0.0

    # A slow wave band behind the buttons, like a recorded phrase.
    centre = HEIGHT * 0.86
    envelope = 0.5 + 0.5 * math.sin(x / WIDTH * math.pi)
    for k, phase in enumerate((0.0, 1.3, 2.6)):
        wave = centre + (28 - 7 * k) * envelope * math.sin(x / (38.0 + 11 * k) + phase)
        cover = max(cover, max(0.0, 1.0 - abs(y - wave) / 1.6) * (0.55 - 0.12 * k))

    # Concentric rings in the upper corners, like the pedal's footswitch seen from above.
    for cx, cy in ((110.0, 95.0), (WIDTH - 110.0, 95.0)):
        d = math.hypot(x - cx, y - cy)
        for radius in (34.0, 52.0, 70.0):
            cover = max(cover, max(0.0, 1.0 - abs(d - radius) / 1.4) * 0.45)

    # A thin frame inset from the edges.
    inset = 14
    edge = min(abs(x - inset), abs(x - (WIDTH - 1 - inset)), abs(y - inset), abs(y - (HEIGHT - 1 - inset)))
    if inset <= x <= WIDTH - 1 - inset and inset <= y <= HEIGHT - 1 - inset:
        cover = max(cover, max(0.0, 1.0 - edge / 1.2) * 0.35)

    return cover


def rows():
    light_grey = 200
    for y in range(HEIGHT):
        row = bytearray([0])  # filter: none
        for x in range(WIDTH):
            value = round(WHITE - (WHITE - light_grey) * ink(x, y))
            row += bytes((value, value, value))
        yield bytes(row)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(path):
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)  # 8-bit RGB
    pixels = zlib.compress(b"".join(rows()), 9)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) + chunk(b"IEND", b""))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/background.png")
