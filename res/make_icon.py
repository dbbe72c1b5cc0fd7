#!/usr/bin/env python3
"""Draws tarvel.ico (16, 32 and 48 px, 32-bit colour): a drive with a power lamp."""
import struct
import sys


def pixel(x, y, size):
    edge = max(1, size // 16)
    top, bottom = size // 4, size - size // 4
    if not (edge <= x < size - edge and top <= y < bottom):
        return (0, 0, 0, 0)
    if x < 2 * edge or x >= size - 2 * edge or y < top + edge or y >= bottom - edge:
        return (40, 48, 64, 255)  # outline, BGRA
    lamp = size // 6
    cx, cy = size - 3 * edge - lamp // 2, (top + bottom) // 2
    if abs(x - cx) <= lamp // 2 and abs(y - cy) <= lamp // 2:
        return (60, 200, 60, 255)
    return (200, 176, 150, 255)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size)) for x in range(size)))
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "tarvel.ico")
