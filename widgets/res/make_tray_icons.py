#!/usr/bin/env python3
"""Draws the tray icons as .ico files, each with a 16 x 16 and a 32 x 32 image.

vzfax.ico is the controller's icon: a fax page with a folded corner, three lines
of text and a blue arrow sending it off. busy1.ico .. busy3.ico are the frames of
the busy animation: the page fills line by line while the arrow moves right.

Shapes are described on a 16-unit grid and tested at pixel centres without
anti-aliasing, so each pixel is either fully transparent or fully drawn; a shape
with an outline gets a dark edge on its own border pixels.

usage: make_tray_icons.py OUTPUT_DIR
"""
import os
import struct
import sys

GRID = 16.0
OUTLINE = (40, 40, 60)
PAPER = (255, 255, 255)
FOLD = (200, 205, 215)
TEXT = (110, 120, 140)
ARROW = (30, 90, 210)


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def rect(x1, y1, x2, y2):
    return lambda x, y: x1 <= x < x2 and y1 <= y < y2


class Picture:
    def __init__(self, size):
        self.size = size
        self.px = [[None] * size for _ in range(size)]  # None: transparent

    def shape(self, inside, fill, outline=True):
        scale = GRID / self.size
        mask = {(x, y) for y in range(self.size) for x in range(self.size)
                if inside((x + 0.5) * scale, (y + 0.5) * scale)}
        for (x, y) in mask:
            edge = any((x + dx, y + dy) not in mask for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            self.px[y][x] = OUTLINE if (outline and edge) else fill

    def dib(self):
        """The image as an icon stores it: header, BGRA rows and AND mask, both bottom-up."""
        n = self.size
        header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
        colour = bytearray()
        for y in range(n - 1, -1, -1):
            for x in range(n):
                p = self.px[y][x]
                colour += bytes((0, 0, 0, 0)) if p is None else bytes((p[2], p[1], p[0], 255))
        mask_row = ((n + 31) // 32) * 4
        mask = bytearray()
        for y in range(n - 1, -1, -1):
            row = bytearray(mask_row)
            for x in range(n):
                if self.px[y][x] is None:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        return header + colour + mask


def draw(size, lines, arrow_shift):
    p = Picture(size)
    p.shape(polygon([(1.5, 0.5), (10.5, 0.5), (13.5, 3.5), (13.5, 15.5), (1.5, 15.5)]), PAPER)
    p.shape(polygon([(10.5, 0.5), (10.5, 3.5), (13.5, 3.5)]), FOLD)
    for i in range(lines):
        top = 5 + 2.5 * i
        p.shape(rect(3.5, top, 11.5, top + 1.25), TEXT, outline=False)
    dx = arrow_shift
    # At 16 x 16 an outline would leave no room for the arrow's colour.
    p.shape(polygon([(4.5 + dx, 10.5), (9 + dx, 10.5), (9 + dx, 7.5), (14.5 + dx, 12), (9 + dx, 16),
                     (9 + dx, 13.5), (4.5 + dx, 13.5)]), ARROW, outline=size >= 32)
    return p


def write_ico(path, pictures):
    images = [pic.dib() for pic in pictures]
    data = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for pic, image in zip(pictures, images):
        data += struct.pack("<BBBBHHII", pic.size, pic.size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    with open(path, "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, "vzfax.ico"), [draw(16, 3, 1), draw(32, 3, 1)])
    for frame in range(3):
        write_ico(os.path.join(out, "busy%d.ico" % (frame + 1)),
                  [draw(size, frame + 1, -2 + 1.5 * frame) for size in (16, 32)])


if __name__ == "__main__":
    main()
