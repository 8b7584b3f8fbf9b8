#!/usr/bin/env python3
"""Draws the converter's application icon in the artwork's flat palette.

A blue tile with a white video frame and play mark, and a green badge with an arrow
(the recording turned into a playable file). Written at the sizes desktop shells ask
for; the outputs are committed. Regenerate after a change here with

    python3 tools/draw_app_icon.py app/desktop/icons

which rewrites app/desktop/icons/<size>x<size>/wardline-video-converter.png.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from draw_artwork import BLUE, GREEN, SKY, WHITE, Canvas, circle, polygon, segment, union, write_png  # noqa: E402

NAME = "wardline-video-converter"
SIZES = (16, 32, 48, 64, 128, 256)


def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius

    def distance(x, y):
        dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
        return outside + min(max(dx, dy), 0.0) - radius
    return distance


def frame(x0, y0, x1, y1, radius, width):
    outer = rounded_rect(x0, y0, x1, y1, radius)
    return lambda x, y: abs(outer(x, y) + width / 2.0) - width / 2.0


def icon(size):
    """Designed on a 64-unit grid."""
    c = Canvas(size, size)
    u = size / 64.0
    c.paint(rounded_rect(2 * u, 2 * u, 62 * u, 62 * u, 13 * u), BLUE)
    # A lighter band across the top gives the tile some depth at large sizes.
    c.paint(lambda x, y: max(rounded_rect(2 * u, 2 * u, 62 * u, 62 * u, 13 * u)(x, y), y - 20 * u), SKY, 0.35)
    c.paint(frame(10 * u, 14 * u, 46 * u, 42 * u, 4 * u, 3.2 * u), WHITE)
    c.paint(polygon([(23 * u, 21 * u), (35 * u, 28 * u), (23 * u, 35 * u)]), WHITE)
    c.paint(circle(46 * u, 46 * u, 13 * u), BLUE)
    c.paint(circle(46 * u, 46 * u, 11 * u), GREEN)
    arrow = union(segment(39.5 * u, 46 * u, 52 * u, 46 * u, 3 * u),
                  segment(47 * u, 41 * u, 52 * u, 46 * u, 3 * u),
                  segment(47 * u, 51 * u, 52 * u, 46 * u, 3 * u))
    c.paint(arrow, WHITE)
    return c


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join("app", "desktop", "icons")
    for size in SIZES:
        canvas = icon(size)
        write_png(os.path.join(root, "%dx%d" % (size, size), NAME + ".png"), size, size, canvas.rgba())


if __name__ == "__main__":
    main()
