#!/usr/bin/env python3
"""Draws the window's artwork: the logo, the two device status icons, the list arrows and the
busy animation.

Run from anywhere; writes logo.png, find.png, nofind.png, arrow-down*.png and wait.gif beside
this script.
Needs only the Python standard library, so the output is the same on every machine.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SUPERSAMPLE = 4
PALE = (239, 235, 222)
BLUE = (0, 44, 200)
LIGHT_BLUE = (70, 140, 255)


class Canvas:
    """RGBA pixels with shapes drawn by supersampled coverage."""

    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = [list(background) for _ in range(width * height)]

    def blend(self, x, y, colour, coverage):
        if coverage <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        r, g, b = colour[:3]
        alpha = (colour[3] / 255.0 if len(colour) > 3 else 1.0) * coverage
        pixel = self.pixels[y * self.width + x]
        dest_alpha = pixel[3] / 255.0
        out_alpha = alpha + dest_alpha * (1 - alpha)
        if out_alpha <= 0:
            return
        for i, c in enumerate((r, g, b)):
            pixel[i] = (c * alpha + pixel[i] * dest_alpha * (1 - alpha)) / out_alpha
        pixel[3] = out_alpha * 255

    def fill(self, inside, bounds, colour_at):
        """inside(px, py) tests a point; colour_at(px, py) gives the colour at a pixel."""
        left, top, right, bottom = bounds
        step = 1.0 / SUPERSAMPLE
        for y in range(max(0, int(top)), min(self.height, int(math.ceil(bottom)) + 1)):
            for x in range(max(0, int(left)), min(self.width, int(math.ceil(right)) + 1)):
                hits = 0
                for sy in range(SUPERSAMPLE):
                    for sx in range(SUPERSAMPLE):
                        if inside(x + (sx + 0.5) * step, y + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    self.blend(x, y, colour_at(x + 0.5, y + 0.5), hits / SUPERSAMPLE**2)

    def polygon(self, contours, colour_at):
        """Even-odd fill of one or more closed contours."""
        points = [p for contour in contours for p in contour]
        bounds = (min(p[0] for p in points), min(p[1] for p in points),
                  max(p[0] for p in points), max(p[1] for p in points))

        def inside(px, py):
            result = False
            for contour in contours:
                j = len(contour) - 1
                for i in range(len(contour)):
                    xi, yi = contour[i]
                    xj, yj = contour[j]
                    if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                        result = not result
                    j = i
            return result

        self.fill(inside, bounds, colour_at)

    def ellipse(self, cx, cy, rx, ry, colour_at):
        self.fill(lambda px, py: ((px - cx) / rx) ** 2 + ((py - cy) / ry) ** 2 <= 1.0,
                  (cx - rx, cy - ry, cx + rx, cy + ry), colour_at)

    def ring(self, cx, cy, outer, inner, colour_at):
        def inside(px, py):
            d = math.hypot(px - cx, py - cy)
            return inner <= d <= outer
        self.fill(inside, (cx - outer, cy - outer, cx + outer, cy + outer), colour_at)


def solid(colour):
    return lambda x, y: colour


def vertical_gradient(top_colour, bottom_colour, top, bottom):
    def colour_at(x, y):
        t = min(1.0, max(0.0, (y - top) / float(bottom - top)))
        return tuple(a + (b - a) * t for a, b in zip(top_colour, bottom_colour))
    return colour_at


def thick_line(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length = math.hypot(dx, dy)
    nx, ny = -dy / length * width / 2, dx / length * width / 2
    return [(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)]


def arc(cx, cy, r, start_degrees, end_degrees, steps=12):
    return [(cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a)))
            for a in (start_degrees + (end_degrees - start_degrees) * i / steps
                      for i in range(steps + 1))]


# Letters on a unit cell (y grows downwards), as lists of shapes; a shape is a list of
# contours filled even-odd.
LETTERS = {
    "V": [[[(0, 0), (0.22, 0), (0.4, 0.7), (0.58, 0), (0.8, 0), (0.5, 1), (0.3, 1)]]],
    "A": [[[(0.3, 0), (0.5, 0), (0.8, 1), (0.59, 1), (0.53, 0.8), (0.27, 0.8), (0.21, 1),
            (0, 1)],
           [(0.32, 0.62), (0.48, 0.62), (0.4, 0.32)]]],
    "X": [[[(0, 0), (0.23, 0), (0.8, 1), (0.57, 1)]],
          [[(0.57, 0), (0.8, 0), (0.23, 1), (0, 1)]]],
    "R": [[[(0, 0), (0.21, 0), (0.21, 1), (0, 1)]],
          [[(0.1, 0)] + arc(0.5, 0.285, 0.285, -90, 90) + [(0.1, 0.57)],
           [(0.21, 0.17)] + arc(0.5, 0.285, 0.115, -90, 90) + [(0.21, 0.4)]],
          [[(0.33, 0.5), (0.56, 0.5), (0.82, 1), (0.58, 1)]]],
}

# A 5 x 7 face for the logo's small line.
SMALL_FONT = {
    "2": ["01110", "10001", "00001", "00110", "01000", "10000", "11111"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "-": ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "W": ["10001", "10001", "10001", "10101", "10101", "11011", "10001"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    " ": ["00000"] * 7,
}


def draw_letter(canvas, letter, left, top, height, slant, colour_at):
    def place(point):
        x, y = point
        return (left + (x + (1 - y) * slant) * height, top + y * height)
    for shape in LETTERS[letter]:
        canvas.polygon([[place(p) for p in contour] for contour in shape], colour_at)


def draw_small_text(canvas, text, left, top, scale, colour):
    x = left
    for ch in text:
        rows = SMALL_FONT[ch]
        for row, bits in enumerate(rows):
            for column, bit in enumerate(bits):
                if bit == "1":
                    x0, y0 = x + column * scale, top + row * scale
                    canvas.polygon([[(x0, y0), (x0 + scale, y0), (x0 + scale, y0 + scale),
                                     (x0, y0 + scale)]], solid(colour))
        x += 6 * scale


def draw_mouse(canvas, cx, top, width, height):
    body = vertical_gradient(LIGHT_BLUE, BLUE, top, top + height)
    canvas.ellipse(cx, top + height / 2, width / 2, height / 2, solid((0, 20, 110)))
    canvas.ellipse(cx, top + height / 2, width / 2 - 1.5, height / 2 - 1.5, body)
    canvas.polygon([thick_line(cx, top + 2, cx, top + height * 0.42, 1.6)],
                   solid((230, 238, 255)))
    canvas.polygon([thick_line(cx - width / 2 + 2, top + height * 0.42,
                               cx + width / 2 - 2, top + height * 0.42, 1.6)],
                   solid((230, 238, 255)))
    canvas.ellipse(cx, top + height * 0.24, 2.2, 4.5, solid((255, 255, 255)))
    canvas.ellipse(cx - width * 0.16, top + height * 0.68, width * 0.1, height * 0.14,
                   solid((255, 255, 255, 90)))


def make_logo():
    canvas = Canvas(200, 66)
    draw_mouse(canvas, 22, 8, 30, 50)
    letters_colour = vertical_gradient((40, 110, 255), (0, 30, 150), 6, 44)
    left = 46
    for letter in "VRAX":
        draw_letter(canvas, letter, left + 1.5, 7.5, 38, 0.2, solid((0, 0, 0, 70)))
        draw_letter(canvas, letter, left, 6, 38, 0.2, letters_colour)
        left += 37
    canvas.polygon([thick_line(48, 50, 196, 50, 2)], solid(BLUE))
    draw_small_text(canvas, "2K-BIN WRITER", 64, 54, 1.6, (60, 60, 60))
    return canvas


def make_status_icon(found):
    canvas = Canvas(30, 30)
    if found:
        rim, top, bottom = (0, 90, 20), (120, 230, 110), (0, 150, 40)
    else:
        rim, top, bottom = (110, 0, 0), (255, 140, 120), (200, 20, 10)
    canvas.ellipse(15, 15, 14, 14, solid(rim))
    canvas.ellipse(15, 15, 12.8, 12.8, vertical_gradient(top, bottom, 2, 28))
    canvas.ellipse(15, 10, 9, 5, solid((255, 255, 255, 70)))
    white = solid((255, 255, 255))
    if found:
        canvas.polygon([thick_line(8.5, 15.5, 13, 20.5, 3.4)], white)
        canvas.polygon([thick_line(12.2, 20.8, 21.5, 9.5, 3.4)], white)
    else:
        canvas.polygon([thick_line(9.5, 9.5, 20.5, 20.5, 3.4)], white)
        canvas.polygon([thick_line(20.5, 9.5, 9.5, 20.5, 3.4)], white)
    return canvas


def make_arrow(colour):
    canvas = Canvas(9, 5)
    canvas.polygon([[(0, 0), (9, 0), (4.5, 5)]], solid(colour))
    return canvas


def busy_frames(count=12):
    """A ring of dots whose bright head goes round; black is left where nothing is drawn."""
    frames = []
    cx, cy, radius, dot = 100, 96, 62, 11
    for frame in range(count):
        coverage = Canvas(200, 192)
        for i in range(count):
            age = (frame - i) % count
            fade = age / float(count - 1)
            colour = tuple(a + (b - a) * fade for a, b in zip(BLUE, (196, 210, 240)))
            size = dot * (1.0 - 0.45 * fade)
            angle = 2 * math.pi * i / count - math.pi / 2
            coverage.ellipse(cx + radius * math.cos(angle), cy + radius * math.sin(angle),
                             size, size, solid(colour))
        coverage.ring(cx, cy, 30, 26, solid((150, 170, 220)))
        frames.append(coverage)
    return frames


def write_png(path, canvas):
    raw = bytearray()
    for y in range(canvas.height):
        raw.append(0)
        for x in range(canvas.width):
            raw.extend(int(round(min(255, max(0, v))))
                       for v in canvas.pixels[y * canvas.width + x])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


def flatten_on_key(canvas):
    """Opaque pixels for a colour-keyed window: untouched pixels stay pure black, edges are
    blended toward the window colour the animation floats over."""
    result = []
    for r, g, b, a in canvas.pixels:
        if a <= 0:
            result.append((0, 0, 0))
            continue
        t = a / 255.0
        pixel = tuple(int(round(c * t + p * (1 - t))) for c, p in zip((r, g, b), PALE))
        # Pure black would be keyed out; nudge it.
        result.append(pixel if pixel != (0, 0, 0) else (1, 1, 1))
    return result


def lzw_encode(indices, min_code_size):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    output = bytearray()
    bit_buffer, bit_count = 0, 0

    def emit(code, size):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += size
        while bit_count >= 8:
            output.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    def reset():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, code_size = reset()
    emit(clear, code_size)
    current = b""
    for index in indices:
        candidate = current + bytes([index])
        if candidate in table:
            current = candidate
            continue
        emit(table[current], code_size)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear, code_size)
            table, next_code, code_size = reset()
        current = bytes([index])
    if current:
        emit(table[current], code_size)
    emit(end, code_size)
    if bit_count:
        output.append(bit_buffer & 0xFF)
    return bytes(output)


def write_gif(path, frames, width, height, delay_centiseconds):
    flat = [flatten_on_key(frame) for frame in frames]
    palette = [(0, 0, 0)]
    lookup = {(0, 0, 0): 0}
    for pixels in flat:
        for pixel in pixels:
            if pixel not in lookup:
                lookup[pixel] = len(palette)
                palette.append(pixel)
    if len(palette) > 256:
        raise SystemExit("busy animation needs %d colours; GIF allows 256" % len(palette))
    palette += [(0, 0, 0)] * (256 - len(palette))

    with open(path, "wb") as out:
        out.write(b"GIF89a")
        out.write(struct.pack("<HHBBB", width, height, 0xF7, 0, 0))
        out.write(bytes(c for colour in palette for c in colour))
        # Loop for ever.
        out.write(b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00")
        for pixels in flat:
            out.write(struct.pack("<BBBBHB", 0x21, 0xF9, 4, 0x04, delay_centiseconds, 0) + b"\x00")
            out.write(struct.pack("<BHHHHB", 0x2C, 0, 0, width, height, 0))
            data = lzw_encode([lookup[p] for p in pixels], 8)
            out.write(b"\x08")
            for i in range(0, len(data), 255):
                block = data[i:i + 255]
                out.write(bytes([len(block)]) + block)
            out.write(b"\x00")
        out.write(b"\x3B")


def main():
    write_png(os.path.join(HERE, "logo.png"), make_logo())
    write_png(os.path.join(HERE, "find.png"), make_status_icon(True))
    write_png(os.path.join(HERE, "nofind.png"), make_status_icon(False))
    write_png(os.path.join(HERE, "arrow-down.png"), make_arrow(BLUE))
    write_png(os.path.join(HERE, "arrow-down-disabled.png"), make_arrow((150, 150, 150)))
    write_gif(os.path.join(HERE, "wait.gif"), busy_frames(), 200, 192, 8)


if __name__ == "__main__":
    main()
