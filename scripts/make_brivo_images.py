#!/usr/bin/env python3
"""Draws the Brivo module pages' status images as GIF files with the standard library alone.

Writes html/Brivo/images/: the solution status marks (status_ok, status_warn, status_fail,
status_unknown, status_notmonitored), the controller pictures (controllers1_* and controllers2_*
for one or two controllers, each with an ok, warn, fail or unknown light) and the drive loop marks
(loop_ok, loop_fail), the files that mods/Brivo/StatusStrings.db names. It uses the drawing and
GIF writing of make_web_images.py. The generated files are committed; run this script only to
change them:

    python3 scripts/make_brivo_images.py [repository root]
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_web_images import Canvas, hex_color, in_circle, in_rect, solid, vertical_gradient, write_gif  # noqa: E402

COLOURS = {"ok": ("#43a047", "#2e7d32"), "warn": ("#f0a830", "#b7791f"), "fail": ("#e5533d", "#a93226"),
           "unknown": ("#8796a8", "#5f6b7a"), "notmonitored": ("#ffffff", "#8796a8")}
WHITE = (255, 255, 255)


def in_segment(x0, y0, x1, y1, half_width):
    """Points within half_width of the segment from (x0, y0) to (x1, y1)."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width

    return inside


def in_rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def status_mark(status):
    """A 20 x 20 round mark with its symbol."""
    canvas = Canvas(20, 20)
    fill, edge = (hex_color(c) for c in COLOURS[status])
    canvas.paint(in_circle(10, 10, 9.5), solid(edge))
    canvas.paint(in_circle(10, 10, 8.2), solid(fill))
    ink = hex_color("#8796a8") if status == "notmonitored" else WHITE
    if status == "ok":
        canvas.paint(in_segment(5.6, 10.4, 8.6, 13.4, 1.4), solid(ink))
        canvas.paint(in_segment(8.6, 13.4, 14.4, 7.0, 1.4), solid(ink))
    elif status == "warn":
        canvas.paint(in_segment(10, 5, 10, 11.2, 1.3), solid(ink))
        canvas.paint(in_circle(10, 14.6, 1.4), solid(ink))
    elif status == "fail":
        canvas.paint(in_segment(6.5, 6.5, 13.5, 13.5, 1.4), solid(ink))
        canvas.paint(in_segment(13.5, 6.5, 6.5, 13.5, 1.4), solid(ink))
    elif status == "unknown":
        canvas.paint(lambda x, y: 5.6 <= ((x - 10) ** 2 + (y - 8) ** 2) ** 0.5 <= 3.4 + 2.4 and not (x < 10 and y > 8)
                     and ((x - 10) ** 2 + (y - 8) ** 2) ** 0.5 >= 2.4, solid(ink))
        canvas.paint(in_segment(10, 10.6, 10, 12, 1.2), solid(ink))
        canvas.paint(in_circle(10, 15, 1.3), solid(ink))
    else:  # monitored by another server: a grey dash
        canvas.paint(in_segment(6, 10, 14, 10, 1.3), solid(ink))
    return canvas.pixels_down()


def blade(canvas, top, status, present=True):
    """One controller blade 128 x 22 at (6, top): vents, a label plate and a status light."""
    body = vertical_gradient((226, 231, 237), (196, 204, 214), 56) if present else solid(hex_color("#3b4a5a"))
    canvas.paint(in_rounded(6, top, 134, top + 22, 2.5), solid(hex_color("#7d8a99")))
    canvas.paint(in_rounded(7, top + 1, 133, top + 21, 2), body)
    if not present:
        return
    for i in range(9):
        x = 14 + i * 5
        canvas.paint(in_rect(x, top + 6, x + 2.2, top + 16), solid(hex_color("#8a97a6")))
    canvas.paint(in_rounded(66, top + 6, 104, top + 16, 1.5), solid(hex_color("#f7f9fb")))
    fill, edge = (hex_color(c) for c in COLOURS[status])
    canvas.paint(in_circle(119, top + 11, 5.2), solid(edge))
    canvas.paint(in_circle(119, top + 11, 4.0), solid(fill))


def controllers(count, status):
    """The controller enclosure: a 140 x 56 chassis with one or two blades."""
    canvas = Canvas(140, 56)
    canvas.paint(in_rounded(0, 0, 140, 56, 4), solid(hex_color("#2b3a4a")))
    canvas.paint(in_rounded(1.5, 1.5, 138.5, 54.5, 3), solid(hex_color("#445566")))
    blade(canvas, 5, status)
    blade(canvas, 29, status, present=count == 2)
    return canvas.pixels_down()


def loop_mark(status):
    """A 20 x 20 ring: a drive loop, green when up and red when failed."""
    canvas = Canvas(20, 20)
    fill, edge = (hex_color(c) for c in COLOURS[status])
    canvas.paint(lambda x, y: 5.2 <= ((x - 10) ** 2 + (y - 10) ** 2) ** 0.5 <= 8.6, solid(fill))
    canvas.paint(in_circle(10, 2.4, 2.2), solid(edge))
    if status == "fail":
        canvas.paint(in_segment(4.5, 15.5, 15.5, 4.5, 1.3), solid(edge))
    return canvas.pixels_down()


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    images = os.path.join(root, "html", "Brivo", "images")
    for status in ("ok", "warn", "fail", "unknown", "notmonitored"):
        write_gif(os.path.join(images, "status_%s.gif" % status), status_mark(status))
    for count in (1, 2):
        for status in ("ok", "warn", "fail", "unknown"):
            write_gif(os.path.join(images, "controllers%d_%s.gif" % (count, status)), controllers(count, status))
    write_gif(os.path.join(images, "loop_ok.gif"), loop_mark("ok"))
    write_gif(os.path.join(images, "loop_fail.gif"), loop_mark("fail"))


if __name__ == "__main__":
    main()
