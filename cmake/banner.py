#!/usr/bin/env python3
"""Draws the product banner as an uncompressed 16-colour BMP.

usage: banner.py OUT.bmp WIDTH HEIGHT TEXT

The dialogs show these banners through SS_BITMAP statics, which take the
bitmap's own size, so the output is exactly WIDTH x HEIGHT. Only the standard
library is used and the output depends on the arguments alone, so builds are
reproducible.
"""

import struct
import sys

# Palette entries as (red, green, blue).
BLACK = 0
WHITE = 1
LIGHT_GREY = 2
DARK_GREY = 3
SHADOW = 4
FIRST_SHADE = 5
SHADES = [(12, 28, 72), (16, 35, 84), (20, 42, 96), (24, 49, 108),
          (28, 56, 120), (32, 63, 132), (36, 70, 144), (40, 77, 156),
          (44, 84, 168), (48, 91, 180), (52, 98, 192)]
PALETTE = [(0, 0, 0), (255, 255, 255), (200, 204, 212), (96, 100, 110),
           (6, 14, 40)] + SHADES
assert len(PALETTE) == 16

# 5-column glyphs: seven rows down to the baseline, optionally two more below
# it (after '|') for descenders.
FONT = {
    'A': '01110 10001 10001 11111 10001 10001 10001',
    'B': '11110 10001 10001 11110 10001 10001 11110',
    'C': '01110 10001 10000 10000 10000 10001 01110',
    'D': '11100 10010 10001 10001 10001 10010 11100',
    'E': '11111 10000 10000 11110 10000 10000 11111',
    'F': '11111 10000 10000 11110 10000 10000 10000',
    'G': '01110 10001 10000 10111 10001 10001 01111',
    'H': '10001 10001 10001 11111 10001 10001 10001',
    'I': '01110 00100 00100 00100 00100 00100 01110',
    'J': '00111 00010 00010 00010 00010 10010 01100',
    'K': '10001 10010 10100 11000 10100 10010 10001',
    'L': '10000 10000 10000 10000 10000 10000 11111',
    'M': '10001 11011 10101 10101 10001 10001 10001',
    'N': '10001 10001 11001 10101 10011 10001 10001',
    'O': '01110 10001 10001 10001 10001 10001 01110',
    'P': '11110 10001 10001 11110 10000 10000 10000',
    'Q': '01110 10001 10001 10001 10101 10010 01101',
    'R': '11110 10001 10001 11110 10100 10010 10001',
    'S': '01111 10000 10000 01110 00001 00001 11110',
    'T': '11111 00100 00100 00100 00100 00100 00100',
    'U': '10001 10001 10001 10001 10001 10001 01110',
    'V': '10001 10001 10001 10001 10001 01010 00100',
    'W': '10001 10001 10001 10101 10101 10101 01010',
    'X': '10001 10001 01010 00100 01010 10001 10001',
    'Y': '10001 10001 10001 01010 00100 00100 00100',
    'Z': '11111 00001 00010 00100 01000 10000 11111',
    'a': '00000 00000 01110 00001 01111 10001 01111',
    'b': '10000 10000 10110 11001 10001 10001 11110',
    'c': '00000 00000 01110 10000 10000 10001 01110',
    'd': '00001 00001 01101 10011 10001 10001 01111',
    'e': '00000 00000 01110 10001 11111 10000 01110',
    'f': '00110 01001 01000 11100 01000 01000 01000',
    'g': '00000 00000 01111 10001 10001 10001 01111 | 00001 01110',
    'h': '10000 10000 10110 11001 10001 10001 10001',
    'i': '00100 00000 01100 00100 00100 00100 01110',
    'j': '00010 00000 00110 00010 00010 00010 00010 | 10010 01100',
    'k': '10000 10000 10010 10100 11000 10100 10010',
    'l': '01100 00100 00100 00100 00100 00100 01110',
    'm': '00000 00000 11010 10101 10101 10001 10001',
    'n': '00000 00000 10110 11001 10001 10001 10001',
    'o': '00000 00000 01110 10001 10001 10001 01110',
    'p': '00000 00000 11110 10001 10001 10001 11110 | 10000 10000',
    'q': '00000 00000 01111 10001 10001 10001 01111 | 00001 00001',
    'r': '00000 00000 10110 11001 10000 10000 10000',
    's': '00000 00000 01111 10000 01110 00001 11110',
    't': '01000 01000 11100 01000 01000 01001 00110',
    'u': '00000 00000 10001 10001 10001 10011 01101',
    'v': '00000 00000 10001 10001 10001 01010 00100',
    'w': '00000 00000 10001 10001 10101 10101 01010',
    'x': '00000 00000 10001 01010 00100 01010 10001',
    'y': '00000 00000 10001 10001 10001 10001 01111 | 00001 01110',
    'z': '00000 00000 11111 00010 00100 01000 11111',
    '0': '01110 10001 10011 10101 11001 10001 01110',
    '1': '00100 01100 00100 00100 00100 00100 01110',
    '2': '01110 10001 00001 00010 00100 01000 11111',
    '3': '11111 00010 00100 00010 00001 10001 01110',
    '4': '00010 00110 01010 10010 11111 00010 00010',
    '5': '11111 10000 11110 00001 00001 10001 01110',
    '6': '00110 01000 10000 11110 10001 10001 01110',
    '7': '11111 00001 00010 00100 01000 01000 01000',
    '8': '01110 10001 10001 01110 10001 10001 01110',
    '9': '01110 10001 10001 01111 00001 00010 01100',
    ' ': '00000 00000 00000 00000 00000 00000 00000',
    '.': '00000 00000 00000 00000 00000 01100 01100',
    ',': '00000 00000 00000 00000 01100 00100 01000',
    ':': '00000 01100 01100 00000 01100 01100 00000',
    '-': '00000 00000 00000 11111 00000 00000 00000',
    '!': '00100 00100 00100 00100 00100 00000 00100',
    '?': '01110 10001 00001 00010 00100 00000 00100',
    '/': '00000 00001 00010 00100 01000 10000 00000',
    '(': '00010 00100 01000 01000 01000 00100 00010',
    ')': '01000 00100 00010 00010 00010 00100 01000',
    "'": '01100 00100 01000 00000 00000 00000 00000',
}
MISSING_GLYPH = '11111 10001 10001 10001 10001 10001 11111'
GLYPH_WIDTH = 5
GLYPH_GAP = 1
CAP_ROWS = 7
CELL_ROWS = 9

# A printer with a sheet coming out, as tall as a capital letter.
ICON = ['..KKKKKKK..',
        '..KWWWWWK..',
        'KKKKKKKKKKK',
        'KGGGGGGGDGK',
        'KGGGGGGGGGK',
        'KKKWWWWWKKK',
        '..KWWWWWK..']
ICON_COLOURS = {'K': BLACK, 'W': WHITE, 'G': LIGHT_GREY, 'D': DARK_GREY}
ICON_GAP = 3

# 4x4 ordered dither, so the gradient has no visible steps.
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def glyph_rows(char):
    spec = FONT.get(char, MISSING_GLYPH)
    rows = spec.replace('|', ' ').split()
    return rows + ['0' * GLYPH_WIDTH] * (CELL_ROWS - len(rows))


def text_mask(text):
    """Returns the text's ink as rows of 0/1 at one pixel per font dot."""
    columns = len(text) * (GLYPH_WIDTH + GLYPH_GAP) - GLYPH_GAP
    mask = [[0] * columns for _ in range(CELL_ROWS)]
    for index, char in enumerate(text):
        left = index * (GLYPH_WIDTH + GLYPH_GAP)
        for y, row in enumerate(glyph_rows(char)):
            for x, bit in enumerate(row):
                if bit == '1':
                    mask[y][left + x] = 1
    return mask


def inked_rows(mask):
    rows = [y for y, row in enumerate(mask) if any(row)]
    return (rows[0], rows[-1]) if rows else (0, CAP_ROWS - 1)


def background(width, height):
    pixels = []
    span_x = max(width - 1, 1)
    span_y = max(height - 1, 1)
    levels = len(SHADES) - 1
    for y in range(height):
        row = []
        for x in range(width):
            # Mostly left to right, a little top to bottom; in 16ths of a shade.
            weight = 7 * x * span_y + 3 * y * span_x
            level16 = levels * 16 * weight // (10 * span_x * span_y)
            shade = (level16 + BAYER[y % 4][x % 4]) // 16
            row.append(FIRST_SHADE + min(shade, levels))
        pixels.append(row)
    return pixels


def layout(width, height, text):
    """Picks the largest integer scale at which icon and text fit.

    Returns (scale, with_icon); drops the icon before giving up."""
    mask = text_mask(text)
    top, bottom = inked_rows(mask)
    ink_rows = max(bottom, CAP_ROWS - 1) - min(top, 0) + 1
    margin = max(2, height // 8)
    for with_icon in (True, False):
        columns = len(mask[0]) + (len(ICON[0]) + ICON_GAP if with_icon else 0)
        scale = max(1, height)
        while scale >= 1:
            shadow = max(1, scale // 2)
            if (columns * scale + shadow <= width - 2 * margin and
                    ink_rows * scale + shadow <= height - 2 * margin):
                return scale, with_icon
            scale -= 1
    raise ValueError('"%s" does not fit in %d x %d' % (text, width, height))


def draw(width, height, text):
    pixels = background(width, height)
    scale, with_icon = layout(width, height, text)
    shadow = max(1, scale // 2)
    mask = text_mask(text)
    top, bottom = inked_rows(mask)
    # Rows 0 .. CAP_ROWS-1 hold the icon; the ink box covers both.
    first_row = min(top, 0)
    last_row = max(bottom, CAP_ROWS - 1)
    icon_columns = len(ICON[0]) + ICON_GAP if with_icon else 0
    content_w = (icon_columns + len(mask[0])) * scale + shadow
    content_h = (last_row - first_row + 1) * scale + shadow
    origin_x = (width - content_w) // 2
    origin_y = (height - content_h) // 2 - first_row * scale

    def put(col, row, colour, offset):
        for dy in range(scale):
            for dx in range(scale):
                px = origin_x + col * scale + dx + offset
                py = origin_y + row * scale + dy + offset
                if 0 <= px < width and 0 <= py < height:
                    pixels[py][px] = colour

    if with_icon:
        for row, line in enumerate(ICON):
            for col, code in enumerate(line):
                if code != '.':
                    put(col, row, SHADOW, shadow)
        for row, line in enumerate(ICON):
            for col, code in enumerate(line):
                if code != '.':
                    put(col, row, ICON_COLOURS[code], 0)
    for offset, colour in ((shadow, SHADOW), (0, WHITE)):
        for row, line in enumerate(mask):
            for col, bit in enumerate(line):
                if bit:
                    put(icon_columns + col, row, colour, offset)
    return pixels


def bmp_bytes(pixels):
    height = len(pixels)
    width = len(pixels[0])
    stride = (width * 4 + 31) // 32 * 4
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    image = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(stride)
        for x, index in enumerate(row):
            line[x // 2] |= index << 4 if x % 2 == 0 else index
        image += line
    offset = 14 + 40 + len(palette)
    file_header = struct.pack('<2sIHHI', b'BM', offset + len(image), 0, 0,
                              offset)
    info_header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0,
                              len(image), 2835, 2835, len(PALETTE), 0)
    return file_header + info_header + palette + bytes(image)


def main(argv):
    if len(argv) != 5:
        sys.stderr.write('usage: banner.py OUT.bmp WIDTH HEIGHT TEXT\n')
        return 2
    try:
        width = int(argv[2])
        height = int(argv[3])
        if width < 1 or height < 1:
            raise ValueError('width and height must be positive')
        data = bmp_bytes(draw(width, height, argv[4]))
    except ValueError as error:
        sys.stderr.write('banner.py: %s\n' % error)
        return 1
    with open(argv[1], 'wb') as out:
        out.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
