"""Small Flash movies written byte by byte, for the tests of Flash content.

rectangle_movie() gives an uncompressed SWF: a stage of the given size and
background colour with one solid rectangle on it, in a single frame. No
compiler and no foreign movie is involved; the layout follows the SWF file
format (header, tags, a DefineShape of straight edges, PlaceObject2).
"""

import struct

TWIPS = 20  # SWF coordinates are in twentieths of a pixel


class _Bits:
    """Writes values most significant bit first, as SWF records want."""

    def __init__(self):
        self.bits = []

    def put(self, value, count, signed=False):
        if signed and value < 0:
            value += 1 << count
        for i in range(count - 1, -1, -1):
            self.bits.append((value >> i) & 1)

    def data(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, bits[i:i + 8])), 2)
                     for i in range(0, len(bits), 8))


def _signed_bits(*values):
    """Bits enough to hold every value as a signed number."""
    return max(max(abs(v).bit_length() for v in values) + 1, 2)


def _rect(x0, x1, y0, y1):
    bits = _Bits()
    n = _signed_bits(x0, x1, y0, y1)
    bits.put(n, 5)
    for v in (x0, x1, y0, y1):
        bits.put(v, n, signed=True)
    return bits.data()


def _tag(code, body=b""):
    if len(body) < 0x3f:
        return struct.pack("<H", code << 6 | len(body)) + body
    return struct.pack("<HI", code << 6 | 0x3f, len(body)) + body


def _rgb(colour):
    return bytes(colour)


def rectangle_movie(width, height, background, colour, rect, version=8):
    """A one-frame movie: a width x height stage in `background` with a
    rectangle (x, y, w, h, in pixels) filled with `colour` (RGB tuples)."""
    x, y, w, h = (v * TWIPS for v in rect)
    shape = _Bits()
    shape.put(1, 4)  # fill style bits
    shape.put(0, 4)  # line style bits
    # Style change: move to the top-left corner, fill style 1 on one side
    # of the edges (the same style on both sides would cancel out).
    shape.put(0, 1)
    shape.put(0b00011, 5)  # new styles, line, fill 1, fill 0, move to
    n = _signed_bits(x, y)
    shape.put(n, 5)
    shape.put(x, n, signed=True)
    shape.put(y, n, signed=True)
    shape.put(1, 1)  # fill style 0
    for vertical, delta in ((False, w), (True, h), (False, -w), (True, -h)):
        n = _signed_bits(delta)
        shape.put(1, 1)  # edge
        shape.put(1, 1)  # straight
        shape.put(n - 2, 4)
        shape.put(0, 1)  # not a general line
        shape.put(1 if vertical else 0, 1)
        shape.put(delta, n, signed=True)
    shape.put(0, 6)  # end of shape
    define_shape = (struct.pack("<H", 1) + _rect(x, x + w, y, y + h) +
                    b"\x01\x00" + _rgb(colour) +  # one solid fill style
                    b"\x00" +                      # no line styles
                    shape.data())
    place = struct.pack("<BHH", 0x02, 1, 1)  # character 1 at depth 1
    body = (_rect(0, width * TWIPS, 0, height * TWIPS) +
            struct.pack("<HH", 24 << 8, 1) +  # 24 frames/s, one frame
            _tag(9, _rgb(background)) + _tag(2, define_shape) +
            _tag(26, place) + _tag(1) + _tag(0))
    return b"FWS" + bytes([version]) + struct.pack("<I", 8 + len(body)) + body
