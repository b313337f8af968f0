#!/usr/bin/env python3
"""Draws the 24 x 24 button bitmaps of the phone book dialogs as BMP files.

Each picture is a stack of shapes (polygons, discs, thick strokes, rectangles)
tested at pixel centres, without anti-aliasing, so every pixel is either the
transparent key colour (the top-left pixel) or a drawn colour. A shape drawn with
an outline gets a black edge on its own border pixels: black is what the embossed
(disabled) look is made from.

usage: make_button_bitmaps.py OUTPUT_DIR
"""
import math
import os
import struct
import sys

SIZE = 24
KEY = (255, 0, 255)  # transparent; must stay in the top-left pixel
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
PAPER = (255, 255, 240)
FOLD = (200, 200, 190)
YELLOW = (255, 220, 0)
ORANGE = (240, 140, 20)
RED = (220, 30, 30)
DARK_RED = (150, 0, 0)
GREEN = (20, 170, 40)
BLUE = (30, 80, 200)
GREY = (150, 150, 150)
LIGHT_GREY = (210, 210, 210)
PINK = (240, 150, 170)


class Picture:
    def __init__(self):
        self.px = [[KEY] * SIZE for _ in range(SIZE)]

    def shape(self, inside, fill, outline=True, outline_color=BLACK):
        mask = {(x, y) for y in range(SIZE) for x in range(SIZE) if inside(x + 0.5, y + 0.5)}
        for (x, y) in mask:
            edge = any((x + dx, y + dy) not in mask for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            self.px[y][x] = outline_color if (outline and edge) else fill
        return self

    def write_bmp(self, path):
        row_bytes = SIZE * 3
        pad = (4 - row_bytes % 4) % 4
        image = bytearray()
        for y in range(SIZE - 1, -1, -1):  # BMP rows run bottom-up
            for x in range(SIZE):
                r, g, b = self.px[y][x]
                image += bytes((b, g, r))
            image += b"\0" * pad
        header_size = 14 + 40
        data = bytearray(b"BM")
        data += struct.pack("<IHHI", header_size + len(image), 0, 0, header_size)
        data += struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(image), 3780, 3780, 0, 0)
        data += image
        with open(path, "wb") as f:
            f.write(data)


def polygon(points):
    def inside(px, py):
        hit = False
        n = len(points)
        for i in range(n):
            x1, y1 = points[i]
            x2, y2 = points[(i + 1) % n]
            if (y1 > py) != (y2 > py):
                if px < x1 + (py - y1) * (x2 - x1) / (y2 - y1):
                    hit = not hit
        return hit
    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in < (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def stroke(x1, y1, x2, y2, width):
    def inside(px, py):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - (x1 + t * dx), py - (y1 + t * dy)) <= width / 2
    return inside


def rect(x1, y1, x2, y2):
    return lambda x, y: x1 <= x < x2 and y1 <= y < y2


def union(*parts):
    return lambda x, y: any(p(x, y) for p in parts)


def sheet(p, left=4, top=2, right=19, bottom=22):
    """A sheet of paper with its top-right corner folded."""
    p.shape(polygon([(left, top), (right - 5, top), (right, top + 5), (right, bottom), (left, bottom)]), PAPER)
    p.shape(polygon([(right - 5, top), (right, top + 5), (right - 5, top + 5)]), FOLD)
    for y in range(top + 8, bottom - 2, 3):
        p.shape(rect(left + 3, y, right - 3, y + 1), GREY, outline=False)


def new_entry():
    p = Picture()
    sheet(p, left=6, right=21)
    # A star in the top-left corner: something new.
    star = []
    for i in range(10):
        angle = -math.pi / 2 + i * math.pi / 5
        r = 6.5 if i % 2 == 0 else 2.8
        star.append((7 + r * math.cos(angle), 7.5 + r * math.sin(angle)))
    p.shape(polygon(star), YELLOW)
    return p


def edit_entry():
    p = Picture()
    sheet(p, left=3, right=17)
    # A pencil lying from top right to bottom left.
    p.shape(stroke(20, 4, 10, 14, 5.5), YELLOW)
    p.shape(stroke(21, 3, 19.3, 4.7, 5.5), PINK)
    p.shape(polygon([(8.2, 12.2), (11.8, 15.8), (6.5, 18.5)]), LIGHT_GREY)
    p.shape(polygon([(6.0, 16.5), (8.5, 19.0), (5.5, 19.5)]), BLACK, outline=False)
    return p


def delete_entry():
    p = Picture()
    # A waste bin with its lid.
    p.shape(polygon([(6, 8), (18, 8), (17, 22), (7, 22)]), LIGHT_GREY)
    for x in (9.5, 12, 14.5):
        p.shape(rect(x, 10, x + 1, 20), GREY, outline=False)
    p.shape(rect(4, 5, 20, 8), GREY)
    p.shape(rect(9, 2, 15, 5), GREY)
    # A red cross over it.
    p.shape(union(stroke(11, 10, 21, 20, 3.5), stroke(21, 10, 11, 20, 3.5)), RED)
    return p


def help_topic():
    p = Picture()
    p.shape(disc(12, 12, 10.5), BLUE)
    # A white question mark: a hook and a dot.
    hook = lambda x, y: (ring(12, 9, 5.2, 2.1)(x, y) and not (x < 12 and y > 8.5)) or stroke(12.5, 13, 12.5, 15.5, 3.2)(x, y)
    p.shape(hook, WHITE, outline=False)
    p.shape(disc(12.5, 19, 1.8), WHITE, outline=False)
    return p


def accept():
    p = Picture()
    p.shape(polygon([(2, 13), (6, 9), (10, 13), (19, 3), (23, 7), (10, 21)]), GREEN)
    return p


def cancel():
    p = Picture()
    p.shape(union(stroke(5, 5, 19, 19, 5), stroke(19, 5, 5, 19, 5)), RED, outline_color=DARK_RED)
    # Black edges on the lower right so the disabled look keeps the shape.
    p.shape(lambda x, y: False, BLACK)
    for y in range(SIZE):
        for x in range(SIZE):
            if p.px[y][x] == DARK_RED and (x + 1 < SIZE and p.px[y][x + 1] == KEY or y + 1 < SIZE and p.px[y + 1][x] == KEY):
                p.px[y][x] = BLACK
    return p


PICTURES = {
    "new.bmp": new_entry,
    "edit.bmp": edit_entry,
    "delete.bmp": delete_entry,
    "help.bmp": help_topic,
    "accept.bmp": accept,
    "cancel.bmp": cancel,
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, draw in PICTURES.items():
        picture = draw()
        assert picture.px[0][0] == KEY, name + ": the top-left pixel must be the key colour"
        picture.write_bmp(os.path.join(out, name))


if __name__ == "__main__":
    main()
