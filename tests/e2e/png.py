"""A small PNG reader for checking captured pixels.

It reads what grim writes: 8-bit truecolour (RGB) or truecolour with alpha
(RGBA), not interlaced. Anything else is rejected with ValueError rather
than guessed at.
"""
import itertools
import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


class Image:
    """Decoded pixels: rows of RGB triples (alpha, when present, dropped)."""

    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self._rows = rows  # one bytes object of width * 3 per row

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"pixel ({x}, {y}) outside {self.width}x{self.height}")
        row = self._rows[y]
        return tuple(row[3 * x:3 * x + 3])

    def row(self, y):
        return [self.pixel(x, y) for x in range(self.width)]

    def column(self, x):
        return [self.pixel(x, y) for y in range(self.height)]


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def _unfilter(kind, line, prev, bpp):
    if kind == 0:
        return line
    if kind == 1:  # Sub: a running sum per channel
        out = bytearray(len(line))
        for c in range(bpp):
            sums = itertools.accumulate(line[c::bpp])
            out[c::bpp] = bytes(map((255).__and__, sums))
        return bytes(out)
    if kind == 2:  # Up
        return bytes((a + b) & 255 for a, b in zip(line, prev))
    out = bytearray(line)
    if kind == 3:  # Average
        for i in range(len(out)):
            left = out[i - bpp] if i >= bpp else 0
            out[i] = (out[i] + ((left + prev[i]) >> 1)) & 255
        return bytes(out)
    if kind == 4:  # Paeth
        for i in range(len(out)):
            if i >= bpp:
                out[i] = (out[i] + _paeth(out[i - bpp], prev[i], prev[i - bpp])) & 255
            else:
                out[i] = (out[i] + prev[i]) & 255
        return bytes(out)
    raise ValueError(f"unknown PNG filter type {kind}")


def decode(data):
    """Decodes PNG bytes into an Image."""
    if not data.startswith(SIGNATURE):
        raise ValueError("not a PNG file")
    pos = len(SIGNATURE)
    header = None
    idat = []
    while pos + 8 <= len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length:
            raise ValueError("truncated PNG chunk")
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError("PNG without IHDR")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError(f"unsupported PNG (depth {depth}, colour type {colour}, "
                         f"interlace {interlace})")
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = width * bpp
    if len(raw) < height * (stride + 1):
        raise ValueError("PNG image data too short")
    rows = []
    prev = bytes(stride)
    for y in range(height):
        start = y * (stride + 1)
        line = _unfilter(raw[start], raw[start + 1:start + 1 + stride], prev, bpp)
        prev = line
        if bpp == 4:
            rgb = bytearray(width * 3)
            rgb[0::3] = line[0::4]
            rgb[1::3] = line[1::4]
            rgb[2::3] = line[2::4]
            rows.append(bytes(rgb))
        else:
            rows.append(line)
    return Image(width, height, rows)


def read(path):
    with open(path, "rb") as f:
        return decode(f.read())
