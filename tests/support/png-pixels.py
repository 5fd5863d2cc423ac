#!/usr/bin/env python3
"""Prints the size and a digest of the pixels of each PNG file named, one line each:
"WIDTHxHEIGHT SHA256" over the pixels as 8-bit RGBA, so two files that show the same picture give
the same line however they were compressed or whether they carry an alpha channel. Reads 8-bit,
non-interlaced greyscale, RGB and RGBA files (what rsvg-convert and the project's scripts write).
"""
import hashlib
import struct
import sys
import zlib


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def rgba_pixels(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if depth != 8 or interlace or channels is None:
        sys.exit(f"{path}: depth {depth}, colour type {colour}, interlace {interlace} not read")
    raw, stride = zlib.decompress(idat), width * channels
    previous, out, at = bytearray(stride), bytearray(), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            line[x] = (line[x] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
        for x in range(0, stride, channels):
            pixel = bytes(line[x:x + channels])
            colours, alpha = (pixel[:1] * 3, pixel[1:]) if channels <= 2 else (pixel[:3], pixel[3:])
            out += colours + (alpha or b"\xff")
        previous = line
    return width, height, bytes(out)


for name in sys.argv[1:]:
    width, height, pixels = rgba_pixels(name)
    print(f"{width}x{height} {hashlib.sha256(pixels).hexdigest()}")
