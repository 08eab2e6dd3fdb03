#!/usr/bin/env python3
"""Draws the two pictures Vellora ships as files: the monitor list's background (a GIF89a of
501 x 280) and the program icon (an ICO with 16 x 16 and 32 x 32 images at 24 bits per pixel).
Everything else the windows show is painted at run time. Standard library only; the output is
committed, so building never needs Python.

    tools/make_pictures.py resources/
"""
import math
import struct
import sys
from pathlib import Path


def lzw_encode(indices, min_code_size):
    """GIF's variable-length LZW, with a clear code whenever the table is full."""
    clear = 1 << min_code_size
    end = clear + 1
    out_bits = []
    code_size = min_code_size + 1
    table = {(i,): i for i in range(clear)}
    next_code = end + 1

    def emit(code):
        out_bits.append((code, code_size))

    emit(clear)
    prefix = (indices[0],)
    for index in indices[1:]:
        candidate = prefix + (index,)
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        prefix = (index,)
    emit(table[prefix])
    emit(end)

    data = bytearray()
    acc = 0
    nbits = 0
    for code, size in out_bits:
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        data.append(acc & 0xFF)
    return bytes(data)


def gif(width, height, palette, pixels):
    header = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF0 | 6, 0, 0)
    table = b"".join(bytes(c) for c in palette) + b"\0" * (3 * (128 - len(palette)))
    image = b"," + struct.pack("<HHHHB", 0, 0, width, height, 0)
    data = lzw_encode(pixels, 7)
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255]
                      for i in range(0, len(data), 255))
    return header + table + image + bytes([7]) + blocks + b"\0;"


def list_background():
    """Pale sky fading to white, with a thin contrail and soft cloud bands: quiet behind text."""
    width, height = 501, 280
    # 16 shades from white to pale blue.
    palette = [(255 - 2 * i, 255 - i, 255) for i in range(16)]
    pixels = []
    for y in range(height):
        for x in range(width):
            shade = (y / height) * 7
            shade += 2.5 * math.exp(-((y - 170 - 30 * math.sin(x / 80)) / 18) ** 2)
            trail = abs((y - 230) - (x - 250) * -0.25)
            if trail < 1.2 and 120 < x < 470:
                shade += 4
            pixels.append(max(0, min(15, int(shade))))
    return gif(width, height, palette, pixels)


def icon_image(size):
    """A white paper plane on a blue disc."""
    rows = []
    c = (size - 1) / 2
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - c, y - c)
            if d > size / 2:
                row.append((255, 255, 255))
                continue
            t = y / size
            blue = (int(30 + 40 * t), int(120 + 40 * t), int(230 - 20 * t))
            u, v = (x - c) / size, (y - c) / size
            # plane: a triangle pointing up-right
            inside = v < 0.30 - 0.9 * abs(u + v) and u - v > -0.25 and v - u < 0.35
            row.append((250, 250, 255) if inside and d < size * 0.42 else blue)
        rows.append(row)
    return rows


def ico(sizes):
    images = []
    for size in sizes:
        rows = icon_image(size)
        xor = b""
        for row in reversed(rows):  # bottom-up
            line = b"".join(bytes((b, g, r)) for r, g, b in row)
            xor += line + b"\0" * ((4 - len(line) % 4) % 4)
        mask_row = (size + 31) // 32 * 4
        and_mask = b"\0" * (mask_row * size)
        bih = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0,
                          len(xor) + len(and_mask), 0, 0, 0, 0)
        images.append(bih + xor + and_mask)
    header = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    entries = b""
    for size, data in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(data), offset)
        offset += len(data)
    return header + entries + b"".join(images)


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "resources")
    out.mkdir(parents=True, exist_ok=True)
    (out / "list_background.gif").write_bytes(list_background())
    (out / "vellora.ico").write_bytes(ico([16, 32]))


if __name__ == "__main__":
    main()
