#!/usr/bin/python3
"""Writes the program's icon as a Windows .ico file for the executable's icon resource.

    make_ico.py OUT.ico

The pixels are the hicolor icon's (packaging/linux/make_icons.py): the moss-green disc
with a lighter ring. Sizes up to 64 are stored as 32-bit bitmaps, which every part of
Windows reads; 256 as PNG, as Windows expects for its largest size.
"""
import os
import struct
import sys

sys.dont_write_bytecode = True

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "linux"))
import make_icons  # noqa: E402

BITMAP_SIZES = (16, 20, 24, 32, 40, 48, 64)
PNG_SIZE = 256


def rgba_rows(size):
    """The icon's rows top to bottom, 4 bytes per pixel in RGBA order."""
    raw = make_icons.pixels(size)
    stride = 1 + size * 4
    return [raw[y * stride + 1:(y + 1) * stride] for y in range(size)]


def bitmap_entry(size):
    """A 32-bit bitmap icon image: header, BGRA rows bottom-up, then the 1-bit mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = rgba_rows(size)
    colour = b"".join(bytes(b for i in range(0, len(row), 4)
                            for b in (row[i + 2], row[i + 1], row[i], row[i + 3]))
                      for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x in range(size):
            if row[x * 4 + 3] == 0:  # fully transparent: the mask says "screen shows"
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + colour + bytes(mask)


def ico(entries):
    """entries: (size, image bytes) in order. The directory, then the images."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    images = b""
    for size, image in entries:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset + len(images))
        images += image
    return out + images


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_ico.py OUT.ico")
    entries = [(s, bitmap_entry(s)) for s in BITMAP_SIZES] + [(PNG_SIZE, make_icons.png(PNG_SIZE))]
    path = sys.argv[1]
    with open(path + ".tmp", "wb") as f:
        f.write(ico(entries))
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
