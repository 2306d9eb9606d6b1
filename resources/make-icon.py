#!/usr/bin/env python3
"""Draws the program icon: a window whose title bar is held by a latch.

Writes Framelatch.ico beside this script: one 32 x 32 image, 32 bits per
pixel with alpha. Run it again after changing the picture and commit both.
"""
import struct
from pathlib import Path

SIZE = 32
CLEAR = (0, 0, 0, 0)
FRAME = (0x2B, 0x3A, 0x55, 0xFF)      # dark slate outline
TITLE = (0x3F, 0x7C, 0xD9, 0xFF)      # blue title bar
CLIENT = (0xF4, 0xF6, 0xFA, 0xFF)     # light client area
LATCH = (0xF2, 0xA9, 0x1E, 0xFF)      # amber latch
SHADE = (0xC9, 0x86, 0x0C, 0xFF)


def draw():
    px = [[CLEAR] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = colour

    rect(2, 4, 30, 28, FRAME)         # window
    rect(3, 5, 29, 11, TITLE)         # title bar
    rect(3, 12, 29, 27, CLIENT)       # client area
    rect(23, 6, 27, 10, CLIENT)       # close box on the title bar
    # The latch: a hasp over the title bar's edge and its lock body.
    rect(12, 8, 20, 10, LATCH)
    rect(12, 8, 14, 16, LATCH)
    rect(18, 8, 20, 16, LATCH)
    rect(10, 15, 22, 24, LATCH)
    rect(10, 23, 22, 24, SHADE)
    rect(15, 18, 17, 21, FRAME)       # keyhole
    return px


def ico(px):
    # Bottom-up BGRA rows, then a 1-bpp AND mask (all zero: alpha decides).
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    mask = b"\0" * (SIZE * 4)          # 32 bits per row, already DWORD-aligned
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = Path(__file__).with_name("Framelatch.ico")
    out.write_bytes(ico(draw()))
    print(f"wrote {out}")
