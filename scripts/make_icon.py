#!/usr/bin/env python3
"""Draws the programs' icon (a shortcut arrow on a blue tile) at 16, 32 and
48 pixels and writes it as one .ico file: a 32-bit DIB image for the 16-pixel
size, which every loader reads, and compressed PNG images for 32 and 48 pixels
(Windows Vista and later read PNG images in icons; as DIBs they would be most
of the programs' bytes)."""
import struct
import sys
import zlib

SIZES = (16, 32, 48)
PNG_FROM = 32  # this size and larger are stored as PNG


def pixel(x, y, size):
    """BGRA of one pixel: a rounded blue tile with a white shortcut arrow."""
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    radius = 0.18
    cx = min(max(u, radius), 1 - radius)
    cy = min(max(v, radius), 1 - radius)
    if (u - cx) ** 2 + (v - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    # The arrow: a shaft from lower left to upper right and a head.
    on_shaft = abs((u - 0.25) - (0.75 - v)) < 0.11 and 0.22 < u < 0.66 and 0.34 < v < 0.78
    on_head = u > 0.45 and v < 0.55 and u < 0.78 and v > 0.22 and (u - 0.45) + (0.55 - v) > 0.33
    if on_shaft or on_head:
        return (255, 255, 255, 255)
    shade = int(150 + 70 * (1 - v))
    return (shade, int(shade * 0.55), 30, 255)


def dib(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(struct.pack("<4B", *pixel(x, y, size)) for x in range(size)))
    mask_stride = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_stride * size)  # alpha decides; the AND mask is clear
    return header + b"".join(rows) + mask


def png(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b""
    for y in range(size):  # top-down, each row after filter type 0
        rows += b"\0" + b"".join(bytes((r, g, b, a)) for b, g, r, a in (pixel(x, y, size) for x in range(size)))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def main(path):
    images = [png(size) if size >= PNG_FROM else dib(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    with open(path, "wb") as handle:
        handle.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/app.ico")
