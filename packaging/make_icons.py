#!/usr/bin/env python3
"""Draws the program icon of vrax-bin-writer.svg as PNGs for the desktop's icon theme and as the
Windows .ico embedded in the programs.

Writes icons/vrax-bin-writer-<size>.png and windows/vrax-bin-writer.ico beside this script.
Needs only the Python standard library (it borrows the window artwork's drawing code).
"""

import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "app", "artwork"))
import make_artwork as art  # noqa: E402

SIZES = (16, 24, 32, 48, 64, 128, 256)
BODY = (0x2D, 0x3A, 0x4A)
EDGE = (0x10, 0x16, 0x1E)
ACCENT = (0x6F, 0xC3, 0xFF)


def rounded_rect(left, top, width, height, radius):
    right, bottom = left + width, top + height

    def inside(px, py):
        cx = min(max(px, left + radius), right - radius)
        cy = min(max(py, top + radius), bottom - radius)
        return math.hypot(px - cx, py - cy) <= radius
    return inside, (left, top, right, bottom)


def make_icon(size):
    """The 64-unit drawing of the SVG, scaled to size pixels."""
    s = size / 64.0
    canvas = art.Canvas(size, size)
    inside, bounds = rounded_rect(15 * s, 5 * s, 34 * s, 54 * s, 17 * s)
    canvas.fill(inside, bounds, art.solid(EDGE))
    inside, bounds = rounded_rect(17 * s, 7 * s, 30 * s, 50 * s, 15 * s)
    canvas.fill(inside, bounds, art.vertical_gradient((0x3B, 0x4C, 0x61), BODY, 7 * s, 57 * s))
    line = max(2 * s, 1.0)
    canvas.polygon([art.thick_line(32 * s, 8 * s, 32 * s, 26 * s, line)], art.solid(EDGE))
    canvas.polygon([art.thick_line(17 * s, 26 * s, 47 * s, 26 * s, line)], art.solid(EDGE))
    inside, bounds = rounded_rect(29 * s, 12 * s, 6 * s, 10 * s, 3 * s)
    canvas.fill(inside, bounds, art.solid(ACCENT))
    if size >= 24:
        # "2K" in the 5 x 7 face, two glyphs of 6 cells less the last gap: 11 cells wide.
        cell = 22 * s / 11
        art.draw_small_text(canvas, "2K", 32 * s - 5.5 * cell, 38 * s, cell, ACCENT)
    return canvas


def png_bytes(canvas):
    path = os.path.join(HERE, "icons", ".tmp.png")
    art.write_png(path, canvas)
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    return data


def write_ico(path, images):
    """An icon file whose entries are PNG images (read by Windows Vista and later)."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for size, data in images:
        side = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(path, "wb") as out:
        out.write(header + entries + blobs)


def main():
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    images = []
    for size in SIZES:
        data = png_bytes(make_icon(size))
        with open(os.path.join(HERE, "icons", "vrax-bin-writer-%d.png" % size), "wb") as f:
            f.write(data)
        if size in (16, 24, 32, 48, 256):
            images.append((size, data))
    write_ico(os.path.join(HERE, "windows", "vrax-bin-writer.ico"), images)


if __name__ == "__main__":
    main()
