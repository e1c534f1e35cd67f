#!/usr/bin/env python3
"""Draws the hand cursor (HAND-M.CUR) and the application icon (quillfen.png, quillfen.svg).

Plain Python, no imaging library: shapes are rasterised with 4x4 supersampling and written as a
32-bit .cur (BMP inside an icon directory of type 2) and as a PNG; the icon's shapes are also
written as SVG, on the same 64-unit grid, for the scalable icon of the desktop theme.
Run: python3 resources/tools/draw_resources.py resources/
"""
import math
import struct
import sys
import zlib


def blend(dst, src):
    sr, sg, sb, sa = src
    dr, dg, db, da = dst
    a = sa + da * (1 - sa)
    if a == 0:
        return (0, 0, 0, 0)
    return ((sr * sa + dr * da * (1 - sa)) / a, (sg * sa + dg * da * (1 - sa)) / a,
            (sb * sa + db * da * (1 - sa)) / a, a)


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * w for _ in range(h)]

    def fill(self, inside, color, ss=4):
        """Paints color where inside(x, y) holds, with coverage from ss*ss samples."""
        for y in range(self.h):
            for x in range(self.w):
                n = 0
                for j in range(ss):
                    for i in range(ss):
                        if inside(x + (i + 0.5) / ss, y + (j + 0.5) / ss):
                            n += 1
                if n:
                    r, g, b = color
                    self.px[y][x] = blend(self.px[y][x], (r, g, b, n / (ss * ss)))

    def rgba8(self, x, y):
        r, g, b, a = self.px[y][x]
        return (round(r), round(g), round(b), round(a * 255))


def rounded_rect(x0, y0, x1, y1, rad):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + rad), x1 - rad)
        cy = min(max(y, y0 + rad), y1 - rad)
        return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad
    return inside


def polygon(points):
    def inside(x, y):
        c = False
        n = len(points)
        for i in range(n):
            xi, yi = points[i]
            xj, yj = points[i - 1]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                c = not c
        return c
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def grow(shape, d):
    """The shape widened by d pixels (an outline when painted under it)."""
    offsets = [(d * math.cos(k * math.pi / 8), d * math.sin(k * math.pi / 8)) for k in range(16)]
    return lambda x, y: shape(x, y) or any(shape(x + ox, y + oy) for ox, oy in offsets)


def hand_shape():
    # A pointing hand, index finger up, drawn on a 32 x 32 grid; the finger tip is the hot spot.
    finger = rounded_rect(10.0, 1.5, 14.0, 18.0, 2.0)
    palm = rounded_rect(7.5, 13.0, 24.0, 28.5, 3.5)
    knuckles = union(rounded_rect(14.0, 11.0, 17.8, 19.0, 1.9),
                     rounded_rect(17.6, 12.0, 21.2, 19.0, 1.8),
                     rounded_rect(21.0, 13.5, 24.2, 20.0, 1.6))
    thumb = polygon([(3.0, 17.0), (5.5, 15.5), (10.0, 20.0), (9.0, 24.0)])
    thumb_tip = circle(4.3, 16.8, 1.9)
    return union(finger, palm, knuckles, thumb, thumb_tip)


def draw_cursor():
    c = Canvas(32, 32)
    hand = hand_shape()
    c.fill(grow(hand, 1.0), (0, 0, 0))
    c.fill(hand, (255, 255, 255))
    # Creases between the fingers.
    for x0 in (14.0, 17.7, 21.1):
        c.fill(rounded_rect(x0 - 0.35, 14.5, x0 + 0.35, 19.0, 0.3), (60, 60, 60))
    return c


def write_cur(canvas, hot_x, hot_y, path):
    w, h = canvas.w, canvas.h
    xor = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up rows
        for x in range(w):
            r, g, b, a = canvas.rgba8(x, y)
            xor += bytes((b, g, r, a))
    mask_stride = ((w + 31) // 32) * 4
    andmask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(w):
            if canvas.rgba8(x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        andmask += row
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    image = header + xor + andmask
    icondir = struct.pack('<HHH', 0, 2, 1)
    entry = struct.pack('<BBBBHHII', w, h, 0, 0, hot_x, hot_y, len(image), 6 + 16)
    with open(path, 'wb') as f:
        f.write(icondir + entry + image)


def draw_icon(size=64):
    s = size / 64.0
    c = Canvas(size, size)
    # A green grid sheet with a picture lifted out of it.
    c.fill(rounded_rect(4 * s, 6 * s, 46 * s, 58 * s, 4 * s), (33, 115, 70))
    for k in range(1, 5):
        y = (6 + k * 10.4) * s
        c.fill(lambda x, yy, y=y: 8 * s <= x <= 42 * s and abs(yy - y) <= 0.6 * s, (180, 220, 195))
    for k in range(1, 3):
        x0 = (4 + k * 14) * s
        c.fill(lambda x, y, x0=x0: abs(x - x0) <= 0.6 * s and 10 * s <= y <= 54 * s, (180, 220, 195))
    card = rounded_rect(22 * s, 18 * s, 60 * s, 50 * s, 3 * s)
    c.fill(grow(card, 1.5 * s), (20, 60, 40))
    c.fill(card, (250, 250, 245))
    c.fill(rounded_rect(25 * s, 21 * s, 57 * s, 47 * s, 1.5 * s), (120, 185, 235))
    c.fill(circle(49 * s, 28 * s, 4 * s), (255, 205, 60))
    c.fill(polygon([(25 * s, 47 * s), (36 * s, 31 * s), (45 * s, 43 * s), (49 * s, 38 * s),
                    (57 * s, 47 * s)]), (40, 130, 60))
    return c


def write_icon_svg(path):
    """The shapes of draw_icon on its 64-unit grid."""
    def hex_color(rgb):
        return '#%02x%02x%02x' % rgb
    grid = hex_color((180, 220, 195))
    lines = ''.join(
        '<rect x="8" y="%g" width="34" height="1.2" fill="%s"/>' % (round(6 + k * 10.4 - 0.6, 2), grid)
        for k in range(1, 5))
    lines += ''.join('<rect x="%g" y="10" width="1.2" height="44" fill="%s"/>' % (4 + k * 14 - 0.6, grid)
                     for k in range(1, 3))
    svg = (
        '<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">\n'
        '<title>Quillfen</title>\n'
        '<rect x="4" y="6" width="42" height="52" rx="4" fill="%s"/>\n'
        '%s\n'
        '<rect x="20.5" y="16.5" width="41" height="35" rx="4.5" fill="%s"/>\n'
        '<rect x="22" y="18" width="38" height="32" rx="3" fill="%s"/>\n'
        '<rect x="25" y="21" width="32" height="26" rx="1.5" fill="%s"/>\n'
        '<circle cx="49" cy="28" r="4" fill="%s"/>\n'
        '<polygon points="25,47 36,31 45,43 49,38 57,47" fill="%s"/>\n'
        '</svg>\n') % (hex_color((33, 115, 70)), lines, hex_color((20, 60, 40)),
                        hex_color((250, 250, 245)), hex_color((120, 185, 235)),
                        hex_color((255, 205, 60)), hex_color((40, 130, 60)))
    with open(path, 'w') as f:
        f.write(svg)


def write_png(canvas, path):
    raw = bytearray()
    for y in range(canvas.h):
        raw.append(0)
        for x in range(canvas.w):
            raw += bytes(canvas.rgba8(x, y))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    ihdr = struct.pack('>IIBBBBB', canvas.w, canvas.h, 8, 6, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) +
                chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else '.'
    write_cur(draw_cursor(), 12, 2, out + '/HAND-M.CUR')
    write_png(draw_icon(256), out + '/quillfen.png')
    write_icon_svg(out + '/quillfen.svg')
