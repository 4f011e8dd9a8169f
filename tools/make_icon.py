#!/usr/bin/env python3
"""Draws the program's icon: a night-blue key cap with a crescent moon,
for the confirmations before standby and hibernation.

Writes app/fenwarel.ico with three images: 32x32 and 16x16 in 16 colours,
16x16 in 256 colours. Run it again after changing the drawing."""
import math
import struct
import sys

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def rounded_inside(x, y, radius):
    """Inside the unit square with rounded corners (all in 0..1)."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def shape(x, y, px):
    """What lies at (x, y) of the unit square: None for transparent, else a part name."""
    margin = 0.5 * px
    u = (x - margin) / (1 - 2 * margin)
    v = (y - margin) / (1 - 2 * margin)
    if not (0 <= u <= 1 and 0 <= v <= 1) or not rounded_inside(u, v, 0.22):
        return None
    edge = 1.2 * px
    if not rounded_inside((u - edge) / (1 - 2 * edge), (v - edge) / (1 - 2 * edge), 0.2):
        return "edge"
    in_moon = math.hypot(u - 0.46, v - 0.52) <= 0.30
    bite = math.hypot(u - 0.60, v - 0.40) <= 0.25
    if in_moon and not bite:
        return "moon"
    if math.hypot(u - 0.78, v - 0.26) <= 0.08:
        return "star"
    return "body"


def sample(size, x, y, n=4):
    """Parts seen by n*n sub-pixel samples of one pixel."""
    px = 1.0 / size
    parts = {}
    for i in range(n):
        for j in range(n):
            part = shape((x + (i + 0.5) / n) * px, (y + (j + 0.5) / n) * px, px)
            parts[part] = parts.get(part, 0) + 1
    return parts


def image16(size):
    colours = {"edge": 0, "body": 4, "moon": 11, "star": 15}
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            part = shape((x + 0.5) / size, (y + 0.5) / size, 1.0 / size)
            row.append(None if part is None else colours[part])
        pixels.append(row)
    return VGA, pixels


def image256(size):
    rgb = {"edge": (10, 20, 60), "moon": (255, 214, 64), "star": (255, 255, 255)}
    palette = list(VGA)
    index = {c: i for i, c in enumerate(palette)}

    def colour(c):
        c = tuple(int(v) for v in c)
        if c not in index:
            if len(palette) == 256:  # nearest existing entry
                return min(range(256), key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], c)))
            index[c] = len(palette)
            palette.append(c)
        return index[c]

    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            parts = sample(size, x, y)
            total = sum(parts.values())
            if parts.get(None, 0) * 2 > total:
                row.append(None)
                continue
            shade = 1.0 - 0.45 * y / size  # lighter at the top
            body = (30 * shade, 60 * shade, 160 * shade)
            mix = [0.0, 0.0, 0.0]
            weight = total - parts.get(None, 0)
            for part, count in parts.items():
                if part is None:
                    continue
                c = body if part == "body" else rgb[part]
                for k in range(3):
                    mix[k] += c[k] * count / weight
            row.append(colour(mix))
        pixels.append(row)
    while len(palette) < 256:
        palette.append((0, 0, 0))
    return palette, pixels


def dib(palette, pixels, bits):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    xor = b""
    mask = b""
    for row in reversed(pixels):  # bottom-up
        if bits == 4:
            nibbles = [0 if p is None else p for p in row]
            data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        else:
            data = bytes(0 if p is None else p for p in row)
        xor += data + b"\0" * (-len(data) % 4)
        bitsrow = 0
        for p in row:
            bitsrow = (bitsrow << 1) | (1 if p is None else 0)
        m = bitsrow.to_bytes((size + 7) // 8, "big")
        mask += m + b"\0" * (-len(m) % 4)
    return header + pal + xor + mask


def main(path):
    images = [(32, 16, 4, image16(32)), (16, 16, 4, image16(16)), (16, 0, 8, image256(16))]
    blobs = [dib(pal, pix, bits) for (_, _, bits, (pal, pix)) in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, colours, bits, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    out += b"".join(blobs)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "app/fenwarel.ico")
