#!/usr/bin/env python3
"""Draws the web pages' images as GIF files with the standard library alone.

Writes www/images/popup_info.gif and popup_error.gif (the command result icons the server names
in "MessageImageSrc") and the module tab images html/<Module>/images/tab*.gif (the tab strip of
module pages: inactive and active tab shapes, each with a green, amber or red status mark).
The generated files are committed; run this script only to change them:

    python3 scripts/make_web_images.py [repository root]

Shapes are drawn 4x oversampled and averaged down for smooth edges; partly covered edge pixels
are blended with the page ground colour, fully uncovered ones are transparent.
"""

import os
import struct
import sys

SCALE = 4
GROUND = (243, 245, 248)  # page background (--ground in kestrova.css)
TRANSPARENT = None


def hex_color(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


class Canvas:
    """An RGBA picture drawn at SCALE times its size; shape functions paint it."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.w, self.h = width * SCALE, height * SCALE
        self.pixels = [[None] * self.w for _ in range(self.h)]

    def paint(self, inside, color_at):
        """Paints every oversampled point (x, y) in picture units for which inside(x, y)."""
        for j in range(self.h):
            y = (j + 0.5) / SCALE
            row = self.pixels[j]
            for i in range(self.w):
                x = (i + 0.5) / SCALE
                if inside(x, y):
                    row[i] = color_at(x, y)

    def pixels_down(self):
        """Averages SCALE x SCALE blocks: a colour blended with GROUND, or None when empty."""
        out = []
        for y in range(self.height):
            row = []
            for x in range(self.width):
                total = [0, 0, 0]
                covered = 0
                for j in range(y * SCALE, (y + 1) * SCALE):
                    for i in range(x * SCALE, (x + 1) * SCALE):
                        c = self.pixels[j][i]
                        if c is not None:
                            covered += 1
                            for k in range(3):
                                total[k] += c[k]
                if covered == 0:
                    row.append(TRANSPARENT)
                    continue
                n = SCALE * SCALE
                blend = tuple(round((total[k] + GROUND[k] * (n - covered)) / n) for k in range(3))
                row.append(blend)
            out.append(row)
        return out


def in_circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def in_tab(width, height, radius, inset=0.0):
    """A tab: rectangle with rounded top corners, open at the bottom."""
    x0, y0, x1 = inset, inset, width - inset
    r = radius - inset

    def inside(x, y):
        if x < x0 or x >= x1 or y < y0 or y >= height:
            return False
        if y < y0 + r:
            if x < x0 + r:
                return (x - (x0 + r)) ** 2 + (y - (y0 + r)) ** 2 <= r * r
            if x > x1 - r:
                return (x - (x1 - r)) ** 2 + (y - (y0 + r)) ** 2 <= r * r
        return True

    return inside


def solid(color):
    return lambda x, y: color


def vertical_gradient(top, bottom, height):
    return lambda x, y: tuple(round(top[k] + (bottom[k] - top[k]) * min(max(y / height, 0), 1)) for k in range(3))


def icon(kind):
    canvas = Canvas(32, 32)
    ring = hex_color("#c0392b" if kind == "error" else "#2f6fb2")
    white = (255, 255, 255)
    canvas.paint(in_circle(16, 16, 15), solid(ring))
    if kind == "error":  # exclamation mark
        canvas.paint(lambda x, y: abs(x - 16) <= 2.2 - (y - 7) * 0.05 and 7 <= y <= 19.5, solid(white))
        canvas.paint(in_circle(16, 24, 2.3), solid(white))
    else:  # letter i
        canvas.paint(in_circle(16, 8.8, 2.4), solid(white))
        canvas.paint(in_rect(13.9, 13, 18.1, 25), solid(white))
        canvas.paint(in_rect(12, 13, 16, 15), solid(white))
        canvas.paint(in_rect(12, 23, 20, 25), solid(white))
    return canvas.pixels_down()


def tab(active, status):
    width, height, radius = 150, 28, 6
    canvas = Canvas(width, height)
    border = hex_color("#2f6fb2" if active else "#b9c3cf")
    if active:
        fill = vertical_gradient((255, 255, 255), (240, 244, 249), height)
    else:
        fill = vertical_gradient((236, 240, 245), (214, 221, 230), height)
    canvas.paint(in_tab(width, height, radius), solid(border))
    canvas.paint(in_tab(width, height + 1, radius, inset=1.0), fill)
    mark = {"ok": "#43a047", "warn": "#f0a830", "fail": "#e5533d"}[status]
    edge = {"ok": "#2e7d32", "warn": "#b7791f", "fail": "#a93226"}[status]
    canvas.paint(in_circle(15, 14.5, 5.5), solid(hex_color(edge)))
    canvas.paint(in_circle(15, 14.5, 4.3), solid(hex_color(mark)))
    return canvas.pixels_down()


def palette_of(pixels):
    """Colours of the picture, reduced in precision until at most 255 remain (index 255 is the
    transparent one)."""
    step = 1
    while True:
        def q(c):
            return tuple(min(255, (v // step) * step + step // 2) for v in c) if step > 1 else c

        colours = sorted({q(c) for row in pixels for c in row if c is not None})
        if len(colours) <= 255:
            return colours, q
        step *= 2


def lzw_literals(indices, min_size=8):
    """GIF image data that sends every pixel as a literal code. A clear code every 250 codes
    keeps the decoder's table, and so the code width, from growing: simple and always valid."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    width = min_size + 1
    codes = []
    for n, index in enumerate(indices):
        if n % 250 == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(end)
    out = bytearray()
    buffer = bits = 0
    for code in codes:
        buffer |= code << bits
        bits += width
        while bits >= 8:
            out.append(buffer & 0xFF)
            buffer >>= 8
            bits -= 8
    if bits:
        out.append(buffer & 0xFF)
    blocks = bytearray([min_size])
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks.append(len(chunk))
        blocks += chunk
    blocks.append(0)
    return bytes(blocks)


def write_gif(path, pixels):
    height, width = len(pixels), len(pixels[0])
    colours, q = palette_of(pixels)
    table = colours + [(0, 0, 0)] * (256 - len(colours))
    lookup = {c: i for i, c in enumerate(colours)}
    transparent = 255
    indices = [transparent if c is None else lookup[q(c)] for row in pixels for c in row]
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", width, height, 0xF7, 0, 0)  # global table of 256 colours
    for c in table:
        data += bytes(c)
    data += bytes([0x21, 0xF9, 4, 0x01, 0, 0, transparent, 0])  # transparency index
    data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    data += lzw_literals(indices)
    data += b"\x3B"
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    write_gif(os.path.join(root, "www/images/popup_info.gif"), icon("info"))
    write_gif(os.path.join(root, "www/images/popup_error.gif"), icon("error"))
    names = {"ok": "", "warn": "_warn", "fail": "_fail"}
    for module in ("Brivo",):
        for status, suffix in names.items():
            for active in (False, True):
                name = ("tabActive" if active else "tab") + suffix + ".gif"
                write_gif(os.path.join(root, "html", module, "images", name), tab(active, status))


if __name__ == "__main__":
    main()
