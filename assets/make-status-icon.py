#!/usr/bin/env python3
"""Draws the Quorvel status glyph (a lens ring with a centre dot and a tail) as the three square
RGBA template PNGs of the status item: 22, 44 and 66 pixels. Black with alpha coverage; the
status area tints it. Each file carries an sRGB chunk and a minimal eXIf chunk.

Run from this folder: python3 make-status-icon.py"""
import math
import struct
import zlib


def coverage(x, y):
    """1.0 inside the glyph, 0.0 outside; x and y in the unit square, y down."""
    cx, cy = 0.46, 0.46
    r = math.hypot(x - cx, y - cy)
    if 0.27 <= r <= 0.40:
        return 1.0  # ring
    if r <= 0.12:
        return 1.0  # centre dot
    # tail: a thick stroke leaving the ring towards the bottom-right corner
    ax, ay, bx, by = 0.70, 0.70, 0.90, 0.90
    t = max(0.0, min(1.0, ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)))
    px, py = ax + t * (bx - ax), ay + t * (by - ay)
    if math.hypot(x - px, y - py) <= 0.075:
        return 1.0
    return 0.0


def render(size, samples=6):
    rows = []
    for j in range(size):
        row = bytearray([0])  # filter type none
        for i in range(size):
            hit = 0
            for sj in range(samples):
                for si in range(samples):
                    x = (i + (si + 0.5) / samples) / size
                    y = (j + (sj + 0.5) / samples) / size
                    hit += coverage(x, y)
            alpha = round(255 * hit / (samples * samples))
            row += bytes([0, 0, 0, alpha])
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(size):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    exif = b"MM\x00\x2a\x00\x00\x00\x08" + b"\x00\x00" + b"\x00\x00\x00\x00"  # empty IFD
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"sRGB", b"\x00") + chunk(b"eXIf", exif)
            + chunk(b"IDAT", zlib.compress(render(size), 9)) + chunk(b"IEND", b""))


for size in (22, 44, 66):
    with open(f"status-icon-{size}.png", "wb") as f:
        f.write(png(size))
