#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Draws the installer window's four pictures and writes them beside this script.

The window fixes only the form of its pictures, not what they show:
  banner.jpg         513 x 53 progressive JPEG, 8 bits per sample, 3 components, 21492 bytes
  installer16.ico    one 16 x 16 image, 8 bits per pixel, 1406 bytes (window and application icon)
  database32.ico     one 32 x 32 image, 8 bits per pixel, 2238 bytes (the banner's icon)
  folder32.ico       one 32 x 32 image, 8 bits per pixel, 2238 bytes (the browse buttons' icon)

The icons are drawn here at four times their size and reduced, so their edges are smooth, then
written as classic icon files (header, one directory entry, a BITMAPINFOHEADER, a 256-colour
palette, the pixel indexes and the transparency mask). The banner is drawn here too and encoded
by ImageMagick's `convert` (a progressive JPEG); a comment segment then brings the file to its
exact size. Run it again only to change the pictures; the produced files are kept in the
repository so the build does not need ImageMagick.
"""

import math
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BANNER_SIZE = 21492
SUPERSAMPLE = 4


# ---------------------------------------------------------------------------------------------
# Drawing on a small RGBA canvas, in floating point, with "over" compositing.

class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [[(0.0, 0.0, 0.0, 0.0)] * width for _ in range(height)]

    def blend(self, x, y, colour, alpha=1.0):
        if not (0 <= x < self.width and 0 <= y < self.height):
            return
        r, g, b = colour
        a = alpha
        dr, dg, db, da = self.pixels[y][x]
        out_a = a + da * (1 - a)
        if out_a <= 0:
            return
        mix = lambda s, d: (s * a + d * da * (1 - a)) / out_a
        self.pixels[y][x] = (mix(r, dr), mix(g, dg), mix(b, db), out_a)

    def fill(self, inside, shade):
        """Paints every pixel whose centre satisfies inside(x, y) with shade(x, y)."""
        for y in range(self.height):
            for x in range(self.width):
                cx, cy = x + 0.5, y + 0.5
                if inside(cx, cy):
                    self.blend(x, y, *shade(cx, cy))

    def reduced(self, factor):
        """Averages factor x factor blocks (premultiplied), giving the final-size picture."""
        small = Canvas(self.width // factor, self.height // factor)
        for y in range(small.height):
            for x in range(small.width):
                sr = sg = sb = sa = 0.0
                for dy in range(factor):
                    for dx in range(factor):
                        r, g, b, a = self.pixels[y * factor + dy][x * factor + dx]
                        sr += r * a
                        sg += g * a
                        sb += b * a
                        sa += a
                n = factor * factor
                if sa > 0:
                    small.pixels[y][x] = (sr / sa, sg / sa, sb / sa, sa / n)
        return small


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def in_ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def in_rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def in_round_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        nx = min(max(x, x0 + radius), x1 - radius)
        ny = min(max(y, y0 + radius), y1 - radius)
        return (x - nx) ** 2 + (y - ny) ** 2 <= radius ** 2
    return inside


def solid(colour, alpha=1.0):
    return lambda x, y: (colour, alpha)


# ---------------------------------------------------------------------------------------------
# The three icons. Coordinates are given on a 32-unit grid and scaled to the canvas.

def draw_database(canvas, unit, left, top, width, height, discs, body, light, dark):
    """A database drum: `discs` stacked cylinder sections, lit from the left."""
    s = unit
    rx = width / 2 * s
    ry = height * 0.16 * s
    cx = (left + width / 2) * s
    section = (height * s - 2 * ry) / discs

    def cylinder_shade(x, y):
        t = (x - (cx - rx)) / (2 * rx)
        # Brightest a third of the way across, darker at both edges: a rounded look.
        k = 1 - abs(t - 0.35) * 1.4
        return lerp(dark, light, max(0.0, min(1.0, k))), 1.0

    top_y = top * s + ry
    bottom_y = top_y + discs * section
    canvas.fill(lambda x, y: (cx - rx <= x <= cx + rx and top_y <= y <= bottom_y)
                or in_ellipse(cx, bottom_y, rx, ry)(x, y), cylinder_shade)
    # The rims between sections: the lower arc of each section's top ellipse.
    for index in range(1, discs):
        rim_y = top_y + index * section
        canvas.fill(lambda x, y: in_ellipse(cx, rim_y, rx, ry)(x, y)
                    and not in_ellipse(cx, rim_y - 1.2 * s, rx, ry)(x, y),
                    solid(dark, 0.6))
    canvas.fill(in_ellipse(cx, top * s + ry, rx, ry), solid(light))
    canvas.fill(in_ellipse(cx, top * s + ry, rx * 0.72, ry * 0.62), solid(body, 0.35))


def installer_icon(size=16):
    """16 x 16 (or `size` square, for the package's menu icons): a blue database drum with a
    green arrow pointing into it."""
    canvas = Canvas(size * SUPERSAMPLE, size * SUPERSAMPLE)
    u = SUPERSAMPLE * size / 32.0  # drawn on the 32-unit grid
    draw_database(canvas, u, 3, 8, 22, 22, 2,
                  hex_colour("#2f6fc4"), hex_colour("#9cc8ff"), hex_colour("#123f80"))
    green, green_dark = hex_colour("#34b34a"), hex_colour("#1c6e2a")
    shaft = in_rect(21 * u, 1 * u, 27 * u, 11 * u)
    head = lambda x, y: (y >= 10 * u and y <= 18 * u
                         and abs(x - 24 * u) <= (18 * u - y) * 0.95)
    canvas.fill(lambda x, y: shaft(x, y) or head(x, y), solid(green_dark))
    shaft_in = in_rect(22.5 * u, 2 * u, 25.5 * u, 11.5 * u)
    head_in = lambda x, y: (y >= 11.5 * u and y <= 16.3 * u
                            and abs(x - 24 * u) <= (16.3 * u - y) * 0.95)
    canvas.fill(lambda x, y: shaft_in(x, y) or head_in(x, y), solid(green))
    return canvas.reduced(SUPERSAMPLE)


def database_icon():
    """32 x 32: a three-section database drum in blue."""
    size = 32
    canvas = Canvas(size * SUPERSAMPLE, size * SUPERSAMPLE)
    u = SUPERSAMPLE
    draw_database(canvas, u, 5, 2, 22, 28, 3,
                  hex_colour("#2f6fc4"), hex_colour("#a9d0ff"), hex_colour("#0f3a78"))
    return canvas.reduced(SUPERSAMPLE)


def folder_icon():
    """32 x 32: an open yellow folder with a magnifying glass over it."""
    size = 32
    canvas = Canvas(size * SUPERSAMPLE, size * SUPERSAMPLE)
    u = SUPERSAMPLE
    back, front = hex_colour("#d9a21b"), hex_colour("#f6c945")
    edge, paper = hex_colour("#8a6208"), hex_colour("#fbfbf7")
    canvas.fill(in_round_rect(2 * u, 6 * u, 14 * u, 12 * u, 1.5 * u), solid(edge))
    canvas.fill(in_round_rect(2 * u, 8 * u, 28 * u, 27 * u, 1.5 * u), solid(edge))
    canvas.fill(in_round_rect(3 * u, 9 * u, 27 * u, 26 * u, 1 * u), solid(back))
    canvas.fill(in_rect(6 * u, 10 * u, 25 * u, 20 * u), solid(paper))
    slant = lambda x, y: (14 * u <= y < 27 * u
                          and 2 * u + (27 * u - y) * 0.25 <= x <= 30 * u - (27 * u - y) * 0.25)
    canvas.fill(slant, solid(edge))
    slant_in = lambda x, y: (15 * u <= y < 26 * u
                             and 3 * u + (27 * u - y) * 0.25 <= x <= 29 * u - (27 * u - y) * 0.25)
    canvas.fill(slant_in, lambda x, y: (lerp(front, back, (y - 15 * u) / (11 * u)), 1.0))
    # The magnifying glass: a dark ring, a pale lens and a handle.
    lens_x, lens_y, radius = 20 * u, 16 * u, 6 * u
    handle = lambda x, y: (abs((x - lens_x) - (y - lens_y)) <= 1.9 * u
                           and radius * 0.7 <= ((x - lens_x) + (y - lens_y)) / math.sqrt(2) <= 14 * u)
    canvas.fill(handle, solid(hex_colour("#3b3b3b")))
    canvas.fill(in_ellipse(lens_x, lens_y, radius, radius), solid(hex_colour("#2d3f5c")))
    canvas.fill(in_ellipse(lens_x, lens_y, radius - 1.6 * u, radius - 1.6 * u),
                lambda x, y: (lerp(hex_colour("#e8f4ff"), hex_colour("#8fbde8"),
                                   min(1.0, math.hypot(x - lens_x + 2 * u, y - lens_y + 2 * u)
                                       / (radius * 1.4))), 1.0))
    return canvas.reduced(SUPERSAMPLE)


# ---------------------------------------------------------------------------------------------
# Icon files: an 8-bit palette (median cut) and a 1-bit transparency mask.

def median_cut(colours, count):
    boxes = [list(colours)]
    while len(boxes) < count:
        boxes.sort(key=lambda box: max(max(c[i] for c in box) - min(c[i] for c in box)
                                       for i in range(3)) if len(box) > 1 else -1)
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        channel = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: c[channel])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    return [tuple(round(sum(c[i] for c in box) / len(box)) for i in range(3)) for box in boxes]


def icon_file(picture):
    width, height = picture.width, picture.height
    opaque = [[picture.pixels[y][x][3] >= 0.5 for x in range(width)] for y in range(height)]
    colours = sorted({tuple(round(v) for v in picture.pixels[y][x][:3])
                      for y in range(height) for x in range(width) if opaque[y][x]})
    # Index 0 stays black for the transparent pixels; 255 colours are left for the picture.
    palette = colours if len(colours) <= 255 else median_cut(colours, 255)
    palette = [(0, 0, 0)] + palette
    palette += [(0, 0, 0)] * (256 - len(palette))

    def nearest(colour):
        return min(range(1, 256), key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))

    xor_stride = (width + 3) // 4 * 4
    and_stride = (width + 31) // 32 * 4
    xor_rows, and_rows = [], []
    for y in reversed(range(height)):  # bottom-up, as bitmaps are stored
        row = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x in range(width):
            if opaque[y][x]:
                row[x] = nearest(tuple(round(v) for v in picture.pixels[y][x][:3]))
            else:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor_rows.append(bytes(row))
        and_rows.append(bytes(mask))
    pixels = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 8, 0, len(pixels), 0, 0, 0, 0)
    colour_table = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    image = header + colour_table + pixels
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", width, height, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + image


# ---------------------------------------------------------------------------------------------
# The banner: a deep blue gradient with soft light arcs towards the right.

def banner_ppm(width=513, height=53):
    left, right = hex_colour("#0b2a5c"), hex_colour("#3d7fd1")
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            t = x / (width - 1)
            r, g, b = lerp(left, right, t ** 0.8)
            # A faint sheen on the upper half and two wide arcs of light on the right.
            sheen = 0.10 * max(0.0, 1 - y / (height * 0.55))
            glow = 0.0
            for cx, cy, radius in ((520, 120, 110), (470, -60, 95)):
                d = abs(math.hypot(x - cx, y - cy) - radius)
                glow += 0.16 * max(0.0, 1 - d / 9)
            light = min(0.5, sheen + glow)
            r, g, b = (r + (255 - r) * light, g + (255 - g) * light, b + (255 - b) * light)
            row += bytes(max(0, min(255, round(v))) for v in (r, g, b))
        rows.append(bytes(row))
    return b"P6\n%d %d\n255\n" % (width, height) + b"".join(rows)


def banner_jpeg():
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "banner.ppm")
        target = os.path.join(work, "banner.jpg")
        with open(source, "wb") as out:
            out.write(banner_ppm())
        subprocess.run(["convert", source, "-strip", "-type", "TrueColor", "-quality", "92",
                        "-sampling-factor", "1x1", "-interlace", "JPEG", "jpeg:" + target],
                       check=True)
        with open(target, "rb") as data:
            jpeg = data.read()
    if jpeg[:2] != b"\xff\xd8" or b"\xff\xc2" not in jpeg:
        sys.exit("convert did not write a progressive JPEG")
    # A comment segment right after the start-of-image marker fills the file to its size.
    padding = BANNER_SIZE - len(jpeg) - 4
    if not 0 <= padding <= 65533:
        sys.exit("banner JPEG is %d bytes; cannot pad it to %d" % (len(jpeg), BANNER_SIZE))
    text = b"Installation des Tables de Convention de TEST pour le KVEL. "
    comment = (text * (padding // len(text) + 1))[:padding]
    segment = b"\xff\xfe" + struct.pack(">H", padding + 2) + comment
    return jpeg[:2] + segment + jpeg[2:]


def main():
    outputs = {
        "installer16.ico": icon_file(installer_icon()),
        "database32.ico": icon_file(database_icon()),
        "folder32.ico": icon_file(folder_icon()),
        "banner.jpg": banner_jpeg(),
    }
    for name, data in outputs.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data)
        print("%-16s %6d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
