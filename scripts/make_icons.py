#!/usr/bin/env python3
"""Draws the browser client's 20x20 icons into web/client/ as PNG files.

Run it again after changing a shape; the PNGs are committed so the build needs no image tools.
Each icon is a list of shapes (filled discs, rings, thick line segments, polygons) drawn with
4x4 supersampling for smooth edges.
"""
import math
import os
import struct
import zlib

SIZE = 20
SAMPLES = 4
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web", "client")


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) <= width / 2


def segment(x1, y1, x2, y2, width):
    def inside(x, y):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy)) <= width / 2
    return inside


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
    return polygon([(x1, y1), (x2, y1), (x2, y2), (x1, y2)])


def gear():
    teeth = []
    for k in range(8):
        a = k * math.pi / 4
        teeth.append(segment(10 + 5 * math.cos(a), 10 + 5 * math.sin(a),
                             10 + 8.5 * math.cos(a), 10 + 8.5 * math.sin(a), 3.2))
    return teeth + [ring(10, 10, 4.6, 3.4)]


GREEN, RED, GREY, ORANGE, BLUE, DARK, WHITE = (
    (46, 160, 67), (207, 34, 46), (140, 149, 159), (219, 130, 0), (9, 105, 218), (55, 65, 81),
    (255, 255, 255))

ICONS = {
    "running.png": [(GREEN, [disc(10, 10, 8)]), (WHITE, [polygon([(8, 6), (14.5, 10), (8, 14)])])],
    "idle.png": [(GREY, [disc(10, 10, 8)]), (WHITE, [disc(10, 10, 3)])],
    "stopping.png": [(ORANGE, [disc(10, 10, 8)]), (WHITE, [rect(7, 7, 13, 13)])],
    "preview.png": [(BLUE, [disc(10, 10, 8)]), (WHITE, [ring(10, 10, 3.5, 1.8), disc(10, 10, 1.4)])],
    "start.png": [(GREEN, [polygon([(5, 3), (17, 10), (5, 17)])])],
    "stop.png": [(RED, [rect(4, 4, 16, 16)])],
    "settings.png": [(DARK, gear())],
    "help.png": [(BLUE, [ring(10, 10, 8, 2)]),
                 (BLUE, [segment(7.5, 7.5, 8.5, 5.8, 2), segment(8.5, 5.8, 11.5, 5.8, 2),
                         segment(11.5, 5.8, 12.5, 7.8, 2), segment(12.5, 7.8, 10, 10.5, 2),
                         segment(10, 10.5, 10, 12, 2), disc(10, 14.8, 1.3)])],
    "create.png": [(GREEN, [segment(10, 3, 10, 17, 3), segment(3, 10, 17, 10, 3)])],
    "remove.png": [(RED, [segment(3, 10, 17, 10, 3)])],
    "edit.png": [(DARK, [segment(5, 15, 14.5, 5.5, 3.4)]), (ORANGE, [polygon([(3, 17), (3.6, 13.4), (6.6, 16.4)])])],
    "apply.png": [(GREEN, [segment(3.5, 10.5, 8, 15, 3), segment(8, 15, 16.5, 5, 3)])],
    "cancel.png": [(RED, [segment(4.5, 4.5, 15.5, 15.5, 3), segment(15.5, 4.5, 4.5, 15.5, 3)])],
}


def render(layers):
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter type 0
        for px in range(SIZE):
            rgb, cover = [0.0, 0.0, 0.0], 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x, y = px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES
                    colour = None
                    for layer_colour, shapes in layers:
                        if any(shape(x, y) for shape in shapes):
                            colour = layer_colour
                    if colour:
                        cover += 1
                        for i in range(3):
                            rgb[i] += colour[i]
            alpha = cover / (SAMPLES * SAMPLES)
            pixel = [int(c / cover) if cover else 0 for c in rgb]
            row += bytes(pixel + [int(round(alpha * 255))])
        rows.append(bytes(row))
    return b"".join(rows)


def png(raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


for name, layers in ICONS.items():
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(png(render(layers)))
    print("wrote", name)
