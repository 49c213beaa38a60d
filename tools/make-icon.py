#!/usr/bin/env python3
"""Writes ui/app.ico: a box being emptied, 32x32 and 16x16, 16 colours.

Drawn from shapes rather than stored as pixels so that both sizes come from
one picture. Run from the repository root: tools/make-icon.py
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, OLIVE, GRAY, RED, YELLOW, WHITE = 0, 3, 8, 9, 11, 15
TRANSPARENT = None


def picture(size):
    """Rows of palette indices (None = transparent), top row first."""
    px = [[TRANSPARENT] * size for _ in range(size)]
    s = size / 32.0

    def fill(x0, y0, x1, y1, colour):
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    def outline(x0, y0, x1, y1, colour):
        a, b, c, d = round(x0 * s), round(y0 * s), round(x1 * s) - 1, round(y1 * s) - 1
        for x in range(a, c + 1):
            px[b][x] = colour
            px[d][x] = colour
        for y in range(b, d + 1):
            px[y][a] = colour
            px[y][c] = colour

    # The open box: body, front face shading, flaps.
    fill(3, 12, 25, 29, YELLOW)
    fill(3, 12, 25, 15, OLIVE)
    outline(3, 12, 25, 29, BLACK)
    fill(1, 8, 13, 12, YELLOW)
    outline(1, 8, 13, 12, BLACK)
    fill(15, 8, 27, 12, YELLOW)
    outline(15, 8, 27, 12, BLACK)
    # A sheet of paper leaving it.
    fill(9, 1, 19, 10, WHITE)
    outline(9, 1, 19, 10, GRAY)
    # The red cross: what the program does.
    t = max(1, round(3 * s))
    a, b = round(17 * s), round(31 * s)
    for i in range(a, b):
        for w in range(t):
            for x, y in ((i + w, i - a + round(17 * s)), (b - 1 - (i - a) + w, i - a + round(17 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = RED
    return px


def image(size):
    px = picture(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):
        line = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            line.append((hi << 4) | lo)
        while len(line) % 4:
            line.append(0)
        xor += line
        bits = bytearray((size + 7) // 8)
        for x, colour in enumerate(row):
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        while len(bits) % 4:
            bits.append(0)
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'ui/app.ico'
    images = [image(32), image(16)]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, body in zip((32, 16), images):
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(body), offset)
        offset += len(body)
    data += b''.join(images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
