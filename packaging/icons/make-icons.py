#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Draws the package's menu icons at 48, 64, 128 and 256 pixels, writing
<size>x<size>/installateur-conventions.png beside this script.

They are the window's application icon (src/app/resources/make-pictures.py, installer_icon)
drawn at each size rather than enlarged, so they stay sharp; installateur-conventions.svg beside
them is the same drawing on its 32-unit grid, for the scalable size. The PNG files carry no date,
so drawing them again gives the same bytes. Run it only to change the icon; the files are kept
in the repository.
"""

import importlib.util
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (48, 64, 128, 256)


def load_pictures():
    path = os.path.join(HERE, "..", "..", "src", "app", "resources", "make-pictures.py")
    found = importlib.util.spec_from_file_location("make_pictures", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def png(canvas):
    """An 8-bit RGBA PNG of the canvas: signature, IHDR, one IDAT, IEND."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    rows = bytearray()
    for row in canvas.pixels:
        rows.append(0)  # no filter
        for r, g, b, a in row:  # colours in 0..255, coverage in 0..1
            rows += bytes(max(0, min(255, round(v))) for v in (r, g, b, a * 255))
    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def main():
    pictures = load_pictures()
    for size in SIZES:
        folder = os.path.join(HERE, "%dx%d" % (size, size))
        os.makedirs(folder, exist_ok=True)
        data = png(pictures.installer_icon(size))
        with open(os.path.join(folder, "installateur-conventions.png"), "wb") as out:
            out.write(data)
        print("%dx%d %7d bytes" % (size, size, len(data)))


if __name__ == "__main__":
    main()
