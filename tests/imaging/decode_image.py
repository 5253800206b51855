#!/usr/bin/env python3
"""Independent reader for the formats the program writes with its own code
(Targa, Photoshop, PICT). Prints "width height" and the pixels as hex R G B
(Photoshop: R G B A) rows top to bottom, on one line."""
import struct
import sys


def targa(data):
    id_len, cmap_type, kind = data[0], data[1], data[2]
    assert cmap_type == 0 and kind == 2, "only uncompressed true colour"
    width, height, depth, desc = struct.unpack_from("<HHBB", data, 12)
    assert depth == 24
    pos = 18 + id_len
    rows = []
    for r in range(height):
        row = data[pos + r * width * 3: pos + (r + 1) * width * 3]
        rows.append(b"".join(bytes((row[i + 2], row[i + 1], row[i])) for i in range(0, len(row), 3)))
    if not desc & 0x20:
        rows.reverse()
    return width, height, b"".join(rows)


def photoshop(data):
    sig, version = struct.unpack_from(">4sH", data, 0)
    assert sig == b"8BPS" and version == 1
    channels, height, width, depth, mode = struct.unpack_from(">HIIHH", data, 12)
    assert depth == 8 and mode == 3 and channels == 4
    pos = 26
    for _ in range(3):  # colour mode data, image resources, layers
        (length,) = struct.unpack_from(">I", data, pos)
        pos += 4 + length
    (compression,) = struct.unpack_from(">H", data, pos)
    assert compression == 0
    pos += 2
    plane = width * height
    planes = [data[pos + c * plane: pos + (c + 1) * plane] for c in range(4)]
    out = bytearray()
    for i in range(plane):
        out += bytes((planes[0][i], planes[1][i], planes[2][i], planes[3][i]))
    return width, height, bytes(out)


def unpack_bits(data, pos, size):
    """One PackBits row of `size` bytes from data[pos:]; the row and the
    position after it."""
    out = bytearray()
    while len(out) < size:
        n = data[pos]
        pos += 1
        if n < 128:
            out += data[pos: pos + n + 1]
            pos += n + 1
        elif n != 128:
            out += bytes((data[pos],)) * (257 - n)
            pos += 1
    assert len(out) == size, "a run overflows the row"
    return bytes(out), pos


def pict(data):
    """Extended version 2 pictures of one DirectBitsRect: the header's own
    rectangle is the size in pixels, and the frame must be it at 72 dpi."""
    data = data[512:]
    top, left, bottom, right = struct.unpack_from(">hhhh", data, 2)
    pos = 10
    result = None
    own = None
    while pos < len(data):
        (op,) = struct.unpack_from(">H", data, pos)
        pos += 2
        if op == 0x0011:
            pos += 2
        elif op == 0x0C00:
            version, _, hres, vres = struct.unpack_from(">hHII", data, pos)
            assert version == -2
            own = (hres / 65536.0, vres / 65536.0) + struct.unpack_from(">hhhh", data, pos + 12)
            pos += 24
        elif op == 0x0001:
            (size,) = struct.unpack_from(">H", data, pos)
            pos += size
        elif op == 0x001E or op == 0x0000:
            pass
        elif op == 0x009A:
            pos += 4  # base address
            row_bytes, = struct.unpack_from(">H", data, pos)
            row_bytes &= 0x3FFF
            b_top, b_left, b_bottom, b_right = struct.unpack_from(">hhhh", data, pos + 2)
            pack_type, = struct.unpack_from(">H", data, pos + 12)
            pixel_size, cmp_count = struct.unpack_from(">HH", data, pos + 28)
            assert pixel_size == 32 and cmp_count == 3
            pos += 2 + 8 + 2 + 2 + 4 + 4 + 4 + 2 + 2 + 2 + 2 + 4 + 4 + 4
            pos += 8 + 8 + 2  # source, destination, mode
            width, height = b_right - b_left, b_bottom - b_top
            out = bytearray()
            for r in range(height):
                if row_bytes < 8 or pack_type == 1:
                    row = data[pos: pos + width * 4]
                    pos += row_bytes
                    for i in range(0, width * 4, 4):
                        out += row[i + 1: i + 4]
                    continue
                assert pack_type == 4
                if row_bytes > 250:
                    (count,) = struct.unpack_from(">H", data, pos)
                    pos += 2
                else:
                    count = data[pos]
                    pos += 1
                planes, end = unpack_bits(data, pos, width * 3)
                assert end == pos + count, "the row's byte count is wrong"
                pos = end
                for x in range(width):
                    out += bytes((planes[x], planes[width + x], planes[2 * width + x]))
            pos += pos % 2
            result = (width, height, bytes(out))
        elif op == 0x00FF:
            break
        else:
            raise ValueError("unexpected opcode %04x" % op)
    assert result and own
    hres, vres, o_top, o_left, o_bottom, o_right = own
    assert (o_right - o_left, o_bottom - o_top) == result[:2]
    assert right - left == max(1, round(result[0] * 72 / hres)), "frame width"
    assert bottom - top == max(1, round(result[1] * 72 / vres)), "frame height"
    return result


def main():
    kind, path = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        data = f.read()
    width, height, pixels = {"tga": targa, "psd": photoshop, "pict": pict}[kind](data)
    print(width, height, pixels.hex())


if __name__ == "__main__":
    main()
