#!/usr/bin/env python3
"""Draws the program's artwork at 1x and 2x and writes the resource lists for it.

Everything is drawn from geometry (signed distances, so edges are anti-aliased at
any scale) in one flat palette; the outputs are committed so that the build needs
nothing but the resource compiler. Regenerate after a change here with

    python3 tools/draw_artwork.py resources

which rewrites resources/ux/images/{1x,2x}/..., resources/skin/{1x,2x}/cursor/...,
resources/ux.qrc and resources/skin.qrc.
"""
import math
import os
import struct
import sys
import zlib

# Palette, shared with the style sheet.
BLUE = (0x00, 0x79, 0xBC)
SKY = (0x4B, 0xAE, 0xFA)
GREEN = (0x1C, 0xA6, 0x00)
RED = (0xFA, 0x4B, 0x4B)
SLATE = (0x36, 0x43, 0x4D)
WHITE = (0xFF, 0xFF, 0xFF)
TRACK = (0xD5, 0xDD, 0xE4)
CLEAR_NORMAL = (0xBF, 0xC6, 0xCC)
CLEAR_HOVER = (0x8E, 0x9B, 0xA6)
PANEL = (0xFA, 0xFA, 0xFA)


# ---------------------------------------------------------------- canvas

class Canvas:
    """Premultiplied RGBA floats; shapes are painted over what is there."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def paint(self, distance, color, alpha=1.0, bounds=None):
        """Covers the pixels whose centre is inside the shape (distance < 0), with
        a one-pixel soft edge. `distance(x, y)` is in pixels of this canvas."""
        x0, y0, x1, y1 = bounds or (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0) - 1), max(0, int(y0) - 1)
        x1, y1 = min(self.width, int(math.ceil(x1)) + 1), min(self.height, int(math.ceil(y1)) + 1)
        r, g, b = (c / 255.0 for c in color)
        for y in range(y0, y1):
            for x in range(x0, x1):
                coverage = min(1.0, max(0.0, 0.5 - distance(x + 0.5, y + 0.5))) * alpha
                if coverage <= 0.0:
                    continue
                p = self.pixels[y * self.width + x]
                keep = 1.0 - coverage
                p[0] = r * coverage + p[0] * keep
                p[1] = g * coverage + p[1] * keep
                p[2] = b * coverage + p[2] * keep
                p[3] = coverage + p[3] * keep

    def paint_alpha(self, alpha_at, color):
        """Paints a colour with a per-pixel opacity (for soft shadows)."""
        r, g, b = (c / 255.0 for c in color)
        for y in range(self.height):
            for x in range(self.width):
                a = alpha_at(x + 0.5, y + 0.5)
                if a <= 0.0:
                    continue
                p = self.pixels[y * self.width + x]
                keep = 1.0 - a
                p[0], p[1], p[2], p[3] = r * a + p[0] * keep, g * a + p[1] * keep, b * a + p[2] * keep, a + p[3] * keep

    def rgba(self):
        """Straight (not premultiplied) 8-bit RGBA rows."""
        rows = []
        for y in range(self.height):
            row = bytearray()
            for p in self.pixels[y * self.width:(y + 1) * self.width]:
                a = p[3]
                if a <= 0.0:
                    row += b"\0\0\0\0"
                else:
                    row += bytes(min(255, int(round(c / a * 255))) for c in p[:3]) + bytes([int(round(a * 255))])
            rows.append(bytes(row))
        return rows


# ---------------------------------------------------------------- shapes

def circle(cx, cy, radius):
    return lambda x, y: math.hypot(x - cx, y - cy) - radius


def ring(cx, cy, radius, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - radius) - width / 2.0


def segment(ax, ay, bx, by, width):
    """A stroke with round caps."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1e-9

    def distance(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - width / 2.0
    return distance


def polygon(points):
    """Signed distance to a simple polygon."""
    def distance(x, y):
        best = float("inf")
        inside = False
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy or 1e-9)))
            best = min(best, math.hypot(x - ax - t * dx, y - ay - t * dy))
            if (ay > y) != (by > y) and x < ax + (y - ay) * dx / (by - ay):
                inside = not inside
        return -best if inside else best
    return distance


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


def arc(cx, cy, radius, width, start, sweep):
    """A ring segment from angle `start` over `sweep` radians (clockwise from north),
    with round ends."""
    def distance(x, y):
        angle = math.atan2(x - cx, -(y - cy)) % (2 * math.pi)
        offset = (angle - start) % (2 * math.pi)
        if offset <= sweep:
            return abs(math.hypot(x - cx, y - cy) - radius) - width / 2.0
        ends = []
        for a in (start, start + sweep):
            ex, ey = cx + radius * math.sin(a), cy - radius * math.cos(a)
            ends.append(math.hypot(x - ex, y - ey) - width / 2.0)
        return min(ends)
    return distance


def box(shape_points, pad=1.0):
    xs = [p[0] for p in shape_points]
    ys = [p[1] for p in shape_points]
    return (min(xs) - pad, min(ys) - pad, max(xs) + pad, max(ys) + pad)


# ---------------------------------------------------------------- writers

def write_png(path, width, height, rows):
    raw = b"".join(b"\0" + row for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(png)


def lzw_encode(indices, min_code_size):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out = bytearray()
    state = {"bits": 0, "count": 0, "size": min_code_size + 1}

    def emit(code):
        state["bits"] |= code << state["count"]
        state["count"] += state["size"]
        while state["count"] >= 8:
            out.append(state["bits"] & 0xFF)
            state["bits"] >>= 8
            state["count"] -= 8

    def reset():
        state["size"] = min_code_size + 1
        return {bytes([i]): i for i in range(clear)}, end + 1

    table, next_code = reset()
    emit(clear)
    word = bytes([indices[0]])
    for index in indices[1:]:
        extended = word + bytes([index])
        if extended in table:
            word = extended
            continue
        emit(table[word])
        if next_code < 4095:
            table[extended] = next_code
            next_code += 1
            if next_code > (1 << state["size"]) and state["size"] < 12:
                state["size"] += 1
        else:
            emit(clear)
            table, next_code = reset()
        word = bytes([index])
    emit(table[word])
    emit(end)
    if state["count"]:
        out.append(state["bits"] & 0xFF)
    return bytes(out)


def write_gif(path, width, height, frames, delay_cs):
    """Frames of straight RGBA rows. Partly transparent pixels are blended over the
    panel colour the animation is shown on; fully transparent ones stay transparent."""
    palette = [(0, 0, 0)]
    lookup = {}
    encoded_frames = []
    for rows in frames:
        indices = []
        for row in rows:
            for i in range(0, len(row), 4):
                r, g, b, a = row[i:i + 4]
                if a < 24:
                    indices.append(0)
                    continue
                t = a / 255.0
                color = tuple(int(round(c * t + m * (1 - t))) & 0xFC for c, m in zip((r, g, b), PANEL))
                if color not in lookup:
                    if len(palette) == 256:
                        color = min(lookup, key=lambda c: sum((u - v) ** 2 for u, v in zip(c, color)))
                    else:
                        lookup[color] = len(palette)
                        palette.append(color)
                indices.append(lookup[color])
        encoded_frames.append(indices)
    palette += [(0, 0, 0)] * (256 - len(palette))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", width, height, 0xF7, 0, 0)
    data += b"".join(bytes(c) for c in palette)
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for indices in encoded_frames:
        data += b"\x21\xF9\x04" + struct.pack("<BHBB", 0x09, delay_cs, 0, 0)
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        data += b"\x08"
        stream = lzw_encode(indices, 8)
        for i in range(0, len(stream), 255):
            block = stream[i:i + 255]
            data += bytes([len(block)]) + block
        data += b"\x00"
    data += b"\x3B"
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


# ---------------------------------------------------------------- artwork

def badge(size, s, color, glyph):
    """A round status badge: a filled disc with a white glyph."""
    c = Canvas(size * s, size * s)
    mid = size * s / 2.0
    c.paint(circle(mid, mid, mid - 1 * s), color)
    u = (size * s) / 16.0          # glyphs are designed on a 16-unit grid
    if glyph == "info":
        c.paint(circle(mid, 4.9 * u, 1.15 * u), WHITE)
        c.paint(segment(mid, 7.4 * u, mid, 11.6 * u, 2.0 * u), WHITE)
    elif glyph == "warn":
        c.paint(segment(mid, 4.2 * u, mid, 9.0 * u, 2.0 * u), WHITE)
        c.paint(circle(mid, 11.7 * u, 1.15 * u), WHITE)
    elif glyph == "tick":
        c.paint(union(segment(4.6 * u, 8.3 * u, 7.0 * u, 10.7 * u, 1.9 * u),
                      segment(7.0 * u, 10.7 * u, 11.6 * u, 5.6 * u, 1.9 * u)), WHITE)
    elif glyph == "cross":
        c.paint(union(segment(5.4 * u, 5.4 * u, 10.6 * u, 10.6 * u, 1.9 * u),
                      segment(10.6 * u, 5.4 * u, 5.4 * u, 10.6 * u, 1.9 * u)), WHITE)
    return c


def information_icon(size, s):
    """The large information sign of message panels: a ring with a bold "i"."""
    c = Canvas(size * s, size * s)
    mid = size * s / 2.0
    u = size * s / 48.0
    c.paint(circle(mid, mid, 22.5 * u), (0xE5, 0xF2, 0xFA))
    c.paint(ring(mid, mid, 21.0 * u, 3.0 * u), BLUE)
    c.paint(circle(mid, 14.5 * u, 2.8 * u), BLUE)
    c.paint(segment(mid, 21.5 * u, mid, 34.0 * u, 5.0 * u), BLUE)
    return c


def clear_button(size, s, color):
    """The clear button inside line edits: a small disc with a white cross."""
    c = Canvas(size * s, size * s)
    mid = size * s / 2.0
    c.paint(circle(mid, mid, 7.0 * s), color)
    d = 2.6 * s
    c.paint(union(segment(mid - d, mid - d, mid + d, mid + d, 1.6 * s),
                  segment(mid + d, mid - d, mid - d, mid + d, 1.6 * s)), WHITE)
    return c


def spinner_frames(size, s, count):
    """A three-quarter-open arc turning over a light track."""
    frames = []
    mid = size * s / 2.0
    radius, width = (size * s) * 0.36, (size * s) * 0.13
    for i in range(count):
        c = Canvas(size * s, size * s)
        c.paint(ring(mid, mid, radius, width), TRACK)
        c.paint(arc(mid, mid, radius, width, 2 * math.pi * i / count, math.pi * 0.55), BLUE)
        frames.append(c.rgba())
    return frames


def soft_shadow(width, height, inner, strength, offset_y=0.0):
    """A nine-patch shadow: opaque-ish under the inner rectangle, fading out over the
    borders. `inner` is (left, top, right, bottom) border widths in pixels."""
    left, top, right, bottom = inner
    c = Canvas(width, height)
    x0, y0, x1, y1 = left, top + offset_y, width - right, height - bottom + offset_y
    reach = max(left, top, right, bottom)

    def alpha_at(x, y):
        dx = max(x0 - x, 0.0, x - x1)
        dy = max(y0 - y, 0.0, y - y1)
        outside = math.hypot(dx, dy)
        edge = {True: left if x < x0 else right, False: top if y < y0 else bottom}[dx >= dy] or reach
        t = min(1.0, outside / edge)
        return strength * (1.0 - t) ** 2
    c.paint_alpha(alpha_at, (0, 0, 0))
    return c


def top_shadow(width, height, s):
    """A thin strip that darkens towards its top edge."""
    c = Canvas(width * s, height * s)
    h = height * s
    c.paint_alpha(lambda x, y: 0.12 * (1.0 - y / h) ** 2, (0, 0, 0))
    return c


def arrow_cursor(s, angle, fill, outline):
    """A pan-tilt cursor: an arrow pointing at `angle` (clockwise from north), its
    body centred on the hot spot."""
    size = 47 * s
    c = Canvas(size, size)
    cx = cy = 23.5 * s
    shape = [(0, -13), (8, -3), (3, -3), (3, 9), (-3, 9), (-3, -3), (-8, -3)]
    sin, cos = math.sin(angle), math.cos(angle)
    points = [(cx + (x * cos - y * sin) * s, cy + (x * sin + y * cos) * s) for x, y in shape]
    bounds = box(points, 2.5 * s)
    c.paint(grow(polygon(points), 1.5 * s), outline, 0.9, bounds)
    c.paint(polygon(points), fill, 1.0, bounds)
    return c


def target_cursor(s, fill, outline):
    """The absolute-position cursor: a ring with a centre dot."""
    size = 47 * s
    c = Canvas(size, size)
    mid = 23.5 * s
    c.paint(ring(mid, mid, 9 * s, 5 * s), outline, 0.9)
    c.paint(circle(mid, mid, 3.5 * s), outline, 0.9)
    c.paint(ring(mid, mid, 9 * s, 2 * s), fill)
    c.paint(circle(mid, mid, 2 * s), fill)
    return c


def cross_cursor(s, fill, outline):
    size = 47 * s
    c = Canvas(size, size)
    mid = 23.5 * s
    arms = [segment(mid, mid - 12 * s, mid, mid - 3 * s, 2 * s), segment(mid, mid + 3 * s, mid, mid + 12 * s, 2 * s),
            segment(mid - 12 * s, mid, mid - 3 * s, mid, 2 * s), segment(mid + 3 * s, mid, mid + 12 * s, mid, 2 * s)]
    c.paint(grow(union(*arms), 1.5 * s), outline, 0.9)
    c.paint(union(*arms), fill)
    c.paint(circle(mid, mid, 1.2 * s), fill)
    return c


# ---------------------------------------------------------------- output

def save(root, relative, canvas):
    write_png(os.path.join(root, relative), canvas.width, canvas.height, canvas.rgba())
    return relative


def draw_all(root):
    ux, skin = [], []
    for s in (1, 2):
        img = "ux/images/%dx/" % s
        ux.append(save(root, img + "indicator/icon_indicator_status_info.png", badge(24, s, BLUE, "info")))
        ux.append(save(root, img + "indicator/icon_indicator_status_tick.png", badge(16, s, GREEN, "tick")))
        ux.append(save(root, img + "indicator/icon_indicator_status_warn.png", badge(16, s, RED, "warn")))
        ux.append(save(root, img + "indicator/icon_indicator_status_error.png", badge(16, s, RED, "cross")))
        ux.append(save(root, img + "msgwidget/icon_information.png", information_icon(48, s)))
        for state, color in (("normal", CLEAR_NORMAL), ("hover", CLEAR_HOVER), ("pressed", BLUE)):
            ux.append(save(root, img + "lineedit/search_cancel_%s.png" % state, clear_button(24, s, color)))
        ux.append(save(root, img + "shadow/button_shadow.png", soft_shadow(16 * s, 16 * s, (4 * s,) * 4, 0.16, 1.0 * s)))
        ux.append(save(root, img + "shadow/panel_shadow.png", soft_shadow(20 * s, 20 * s, (5 * s,) * 4, 0.20, 1.0 * s)))
        ux.append(save(root, img + "shadow/window_shadow.png",
                       soft_shadow(32 * s, 32 * s, (11 * s, 7 * s, 11 * s, 15 * s), 0.28, 4.0 * s)))
        ux.append(save(root, img + "shadow/shadow_top.png", top_shadow(8, 4, s)))
        write_gif(os.path.join(root, img + "icon_loading.gif"), 24 * s, 24 * s, spinner_frames(24, s, 12), 8)
        ux.append(img + "icon_loading.gif")

        cursor = "skin/%dx/cursor/" % s
        looks = (("Normal", WHITE, SLATE), ("Pressed", SKY, BLUE))
        for look, fill, outline in looks:
            for n in range(1, 33):
                angle = 2 * math.pi * (n - 1) / 32
                skin.append(save(root, cursor + "PTZ/%s/mouse_%02d.png" % (look, n), arrow_cursor(s, angle, fill, outline)))
            skin.append(save(root, cursor + "PTZ/%s/mouse_absolute_position.png" % look, target_cursor(s, fill, outline)))
        skin.append(save(root, cursor + "Common/Blank.png", Canvas(47 * s, 47 * s)))
        skin.append(save(root, cursor + "Common/mouse_cursor_crosswhite.png", cross_cursor(s, WHITE, SLATE)))
        skin.append(save(root, cursor + "Common/mouse_cursor_crosswhite_pressed.png", cross_cursor(s, SKY, BLUE)))
    return ux, skin


def write_qrc(path, files, comment):
    lines = ["<!-- %s -->" % comment, "<RCC>", '  <qresource prefix="/">']
    lines += ["    <file>%s</file>" % f for f in sorted(files)]
    lines += ["  </qresource>", "</RCC>", ""]
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("\n".join(lines))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "resources"
    ux, skin = draw_all(root)
    write_qrc(os.path.join(root, "ux.qrc"), ux, "Widget images; written by tools/draw_artwork.py")
    skins = ["skin/wlx/wlx_geometry.json", "skin/wlx/wlx_color.json", "skin/wlx/wlx_image.json",
             "skin/vqd_geometry.json", "skin/vqd_color.json", "skin/vqd_image.json"]
    write_qrc(os.path.join(root, "skin.qrc"), skins + skin, "Skin files and cursors; written by tools/draw_artwork.py")


if __name__ == "__main__":
    main()
