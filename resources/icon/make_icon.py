#!/usr/bin/env python3
# Draws the program icon (a stimulator face with four electrode pads and a tilt bubble) and
# writes it as a Windows .ico with 16x16 and 32x32 32-bit images. Run: make_icon.py OUT.ico
import struct
import sys


def draw(size):
    """Returns rows (top first) of (r, g, b, a) pixels."""
    s = size / 32.0
    px = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]
    pads = [((9, 9), (220, 60, 50)), ((23, 9), (240, 170, 30)),
            ((9, 23), (60, 170, 70)), ((23, 23), (70, 110, 220))]
    for y in range(size):
        for x in range(size):
            cx, cy = (x + 0.5) / s, (y + 0.5) / s
            # Rounded square body with a dark rim.
            dx = max(abs(cx - 16) - 11, 0)
            dy = max(abs(cy - 16) - 11, 0)
            d = (dx * dx + dy * dy) ** 0.5
            if d > 4:
                continue
            colour = (40, 48, 64, 255) if d > 2.6 else (200, 208, 220, 255)
            for (pxc, pyc), rgb in pads:
                if (cx - pxc) ** 2 + (cy - pyc) ** 2 <= 16:
                    colour = rgb + (255,)
            # Tilt bubble in the middle.
            if (cx - 16) ** 2 + (cy - 16) ** 2 <= 6.5:
                colour = (250, 250, 250, 255)
            if abs((cy - 16) - 0.35 * (cx - 16)) < 0.6 * (1 / s) + 0.4 and abs(cx - 16) < 7 \
                    and (cx - 16) ** 2 + (cy - 16) ** 2 > 6.5:
                colour = (30, 30, 30, 255)
            px[y][x] = colour
    return px


def dib(size):
    rows = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    andm = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        andm += bits
    return header + xor + bytes(andm)


def main():
    sizes = [16, 32]
    images = [dib(n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
