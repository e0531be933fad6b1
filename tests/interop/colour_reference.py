"""An independent reference for the two conversions, and small helpers for
reading and reshaping bitmap files, shared by the interoperability tests.

The luma and colour-difference sums are evaluated exactly with fractions
(the coefficients are the exact values of their double-precision
constants) and rounded once to single precision by hand, so no double
rounding can creep in. The later hue and saturation steps run in double
precision with a single-precision rounding after each step, through
struct's 4-byte float.
"""

import math
import struct
from fractions import Fraction

# Red, green and blue weights of each sum.
Y_WEIGHTS = (Fraction(0.299), Fraction(0.587), Fraction(0.114))
CB_WEIGHTS = (Fraction(-0.169), Fraction(-0.331), Fraction(0.5))
CR_WEIGHTS = (Fraction(0.5), Fraction(-0.419), Fraction(-0.081))

TWO_PI = 6.283185307179586
SATURATION_GAIN = 1.87


def round_to_float32(value):
    """The single-precision number nearest to the exact value, ties to even."""
    if value == 0:
        return 0.0
    magnitude = abs(value)
    exponent = magnitude.numerator.bit_length() - magnitude.denominator.bit_length()
    if Fraction(2) ** exponent > magnitude:
        exponent -= 1
    # 2^exponent <= magnitude < 2^(exponent + 1): keep 24 significant bits.
    scaled = magnitude / Fraction(2) ** (exponent - 23)
    kept = math.floor(scaled)
    rest = scaled - kept
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and kept % 2 == 1):
        kept += 1
    result = math.ldexp(kept, exponent - 23)
    return -result if value < 0 else result


def to_float32(value):
    """A double rounded to single precision."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def exact_sum(weights, red, green, blue):
    return round_to_float32(weights[0] * red + weights[1] * green + weights[2] * blue)


def quantize(value):
    """Clamp to 0..255, then round halves up, on the exact value."""
    exact = Fraction(value)
    if exact > 255:
        return 255
    if exact < 0:
        return 0
    return int(exact + Fraction(1, 2))


def yuv_bytes(red, green, blue):
    """Result bytes 0, 1, 2 (U, Y, V) of one pixel."""
    y = exact_sum(Y_WEIGHTS, red, green, blue)
    cb = exact_sum(CB_WEIGHTS, red, green, blue)
    cr = exact_sum(CR_WEIGHTS, red, green, blue)
    return (quantize(Fraction(cb) + 128), quantize(y), quantize(Fraction(cr) + 128))


def hsv_bytes(red, green, blue):
    """Result bytes 0, 1, 2 (S, V, H) of one pixel."""
    y = exact_sum(Y_WEIGHTS, red, green, blue)
    cb = exact_sum(CB_WEIGHTS, red, green, blue)
    cr = exact_sum(CR_WEIGHTS, red, green, blue)
    angle = to_float32(math.atan2(cr, cb))
    hue = to_float32((angle + math.pi) * 255 / TWO_PI)
    length = to_float32(math.sqrt(cb * cb + cr * cr))
    saturation = to_float32(length * SATURATION_GAIN)
    return (quantize(saturation), quantize(y), quantize(hue))


class CachedConversion:
    """A conversion remembered per colour: pictures repeat colours a lot."""

    def __init__(self, convert):
        self._convert = convert
        self._known = {}

    def __call__(self, rgb):
        if rgb not in self._known:
            self._known[rgb] = self._convert(*rgb)
        return self._known[rgb]


# ---------------------------------------------------------------------------
# Bitmap files

def read_header(data):
    """The fields of the 54-byte header the tests look at."""
    (off_bits,) = struct.unpack_from("<I", data, 10)
    info_size, width, height, planes, bit_count, compression, size_image = struct.unpack_from(
        "<IiiHHII", data, 14)
    return {"file_size": len(data), "off_bits": off_bits, "info_size": info_size,
            "width": width, "height": height, "planes": planes,
            "bit_count": bit_count, "compression": compression,
            "size_image": size_image}


def stride(width, bit_count):
    """Stored row length: rounded up to a whole number of 4-byte words."""
    return (width * bit_count + 31) // 32 * 4


def to_top_down(data):
    """The same picture stored top row first: rows reversed, height negated."""
    h = read_header(data)
    assert h["height"] > 0, "already top-down"
    row = stride(h["width"], h["bit_count"])
    start = h["off_bits"]
    rows = [data[start + k * row:start + (k + 1) * row] for k in range(h["height"])]
    flipped = bytearray(data[:start]) + b"".join(reversed(rows)) + data[start + len(rows) * row:]
    struct.pack_into("<i", flipped, 22, -h["height"])
    return bytes(flipped)


def read_result_pixels(data):
    """Bytes 0, 1, 2 of every pixel of a 32-bit result, top row first, and
    the set of fourth bytes seen."""
    h = read_header(data)
    width, rows = h["width"], h["height"]
    pixels = []
    fourth = set()
    for r in reversed(range(rows)):  # the file stores the bottom row first
        base = h["off_bits"] + r * width * 4
        for x in range(width):
            b0, b1, b2, b3 = data[base + 4 * x:base + 4 * x + 4]
            pixels.append((b0, b1, b2))
            fourth.add(b3)
    return pixels, fourth
