#!/usr/bin/python3
"""Writes the program's icon as PNG files for the hicolor theme.

    make_icons.py OUT_DIR NAME SIZE...

makes OUT_DIR/<size>x<size>/apps/NAME.png for each size. The pixels are the ones the
tray icon draws at run time (app/platform/linux/icon.cpp): a moss-green disc with a
lighter ring and a one-pixel soft edge, so the menu, the dock and the tray agree.
"""
import math
import os
import struct
import sys
import zlib

DISC = (0x3E, 0x7B, 0x3A)
RING = (0xB8, 0xE0, 0x8A)


def pixels(size):
    c = (size - 1) / 2.0
    r = size / 2.0
    rows = []
    for y in range(size):
        row = bytearray([0])  # PNG filter type "none"
        for x in range(size):
            d = math.hypot(x - c, y - c)
            alpha = 1.0 if d <= r - 1 else 0.0 if d >= r else r - d
            colour = RING if r * 0.62 < d < r * 0.78 else DISC
            row += bytes(colour) + bytes([int(alpha * 255)])
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(size):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels(size), 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: make_icons.py OUT_DIR NAME SIZE...")
    out, name = sys.argv[1], sys.argv[2]
    for size in (int(s) for s in sys.argv[3:]):
        folder = os.path.join(out, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name + ".png")
        with open(path + ".tmp", "wb") as f:
            f.write(png(size))
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
