#!/usr/bin/env python3
"""Writes res/emberfall.ico: an ember in a violet ring, drawn analytically at
each size so the small images stay crisp. Only needed to change the icon; the
build uses the committed file."""
import math
import struct
import sys

SIZES = (16, 24, 32, 48, 64, 128)


def pixel(x, y, n):
    # Coordinates in [-1, 1], y up.
    u = (x + 0.5) / n * 2 - 1
    v = 1 - (y + 0.5) / n * 2
    r = math.hypot(u, v)
    aa = 2.0 / n
    ring_alpha = max(0.0, min(1.0, (0.96 - r) / aa + 0.5))
    if ring_alpha <= 0:
        return (0, 0, 0, 0)
    # Violet disc, darker towards the rim.
    base = (0.30 - 0.12 * r, 0.12 - 0.05 * r, 0.42 - 0.10 * r)
    # Flame: a teardrop pointing up, hot core at the bottom.
    fy = v + 0.25
    width = 0.42 * max(0.0, 1 - (fy + 0.35) / 1.05) ** 0.8 if fy > -0.35 else 0.42 * math.sqrt(max(0.0, 1 - ((fy + 0.35) / 0.25) ** 2))
    inside = width - abs(u)
    flame = max(0.0, min(1.0, inside / aa + 0.5)) if fy < 0.72 else 0.0
    heat = max(0.0, min(1.0, 1 - (fy + 0.35) / 1.0))
    flame_rgb = (1.0, 0.35 + 0.55 * heat, 0.08 + 0.45 * heat * heat)
    rgb = tuple(b * (1 - flame) + f * flame for b, f in zip(base, flame_rgb))
    # Thin light rim.
    rim = max(0.0, 1 - abs(r - 0.90) / (aa * 1.5))
    rgb = tuple(c * (1 - rim * 0.6) + 0.85 * rim * 0.6 for c in rgb)
    return tuple(int(round(c * 255)) for c in rgb) + (int(round(ring_alpha * 255)),)


def dib_image(n):
    rows = []
    for y in range(n - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_stride = ((n + 31) // 32) * 4
    mask = bytes(mask_stride * n)  # alpha decides; the AND mask is all zero
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask


def main(out):
    images = [dib_image(n) for n in SIZES]
    data = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for n, img in zip(SIZES, images):
        dim = 0 if n >= 256 else n
        data += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "emberfall.ico")
