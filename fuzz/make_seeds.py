#!/usr/bin/env python3
"""Writes the small seed files of the fuzz targets into corpus/<target>/."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def pnm():
    put("pnm", "p5_8bit", b"P5\n# seed\n5 3\n255\n" + bytes(range(15)))
    put("pnm", "p5_12bit", b"P5 3 2 4095\n" + bytes(range(12)))
    put("pnm", "p15_16bit", b"P15\n2 2\n65535\n" + bytes(range(8)))
    put("pnm", "p6_8bit", b"P6\n2 2\n255\n" + bytes(range(12)))
    put("pnm", "p16_16bit", b"P16\n1 2\n65535\n" + bytes(range(12)))
    put("pnm", "p2_ascii", b"P2\n3 2\n300\n0 1 2\n299 300 7\n")


def bmp(bits, width, height, palette=None):
    channels = bits // 8
    row = (bits * abs(width) + 31) // 32 * 4
    entries = 256 if bits == 8 else 0
    pal = palette if palette is not None else b"".join(bytes((i, i, i, 0)) for i in range(entries))
    pixels = bytes((i * 7) & 255 for i in range(row * abs(height)))
    off = 54 + len(pal)
    head = b"BM" + struct.pack("<IIIIiiHHIIiiII", off + len(pixels), 0, off, 40, width, height, 1, bits, 0,
                               len(pixels), 0, 0, entries, 0)
    return head + pal + pixels


def bmps():
    put("bmp", "gray8", bmp(8, 5, 3))
    put("bmp", "rgb24_topdown", bmp(24, 3, -2))
    inverted = b"".join(bytes((255 - i, 255 - i, 255 - i, 0)) for i in range(256))
    put("bmp", "gray8_inverted", bmp(8, 4, 2, inverted))


def ifd(entries, next_offset=0):
    out = struct.pack("<H", len(entries))
    for tag, typ, count, value in sorted(entries):
        # A single SHORT sits in the first half of the value field; anything
        # longer than four bytes is an offset (a LONG).
        if typ == 3 and count == 1:
            out += struct.pack("<HHIHH", tag, typ, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, typ, count, value)
    return out + struct.pack("<I", next_offset)


def tiffs():
    # Strips: 4 x 3, 16 bits, one channel, one strip.
    w, h = 4, 3
    data = bytes(range(w * h * 2))
    entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 1, 16), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, h), (279, 4, 1, len(data))]
    put("tiff", "strip16", b"II*\x00" + struct.pack("<I", 8 + len(data)) + data + ifd(entries))
    # Tiles: 20 x 18 RGB 8-bit in 16 x 16 tiles (2 x 2 tiles).
    w, h, tw, tl = 20, 18, 16, 16
    tile_bytes = tw * tl * 3
    tiles = bytes((i * 3) & 255 for i in range(4 * tile_bytes))
    offsets_at = 8 + len(tiles)
    counts_at = offsets_at + 16
    bits_at = counts_at + 16
    ifd_at = bits_at + 6
    arrays = (struct.pack("<4I", *(8 + i * tile_bytes for i in range(4))) + struct.pack("<4I", *([tile_bytes] * 4))
              + struct.pack("<3H", 8, 8, 8))
    entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 3, bits_at), (259, 3, 1, 1), (262, 3, 1, 2),
               (277, 3, 1, 3), (284, 3, 1, 1), (322, 4, 1, tw), (323, 4, 1, tl), (324, 4, 4, offsets_at),
               (325, 4, 4, counts_at)]
    put("tiff", "tiled_rgb8", b"II*\x00" + struct.pack("<I", ifd_at) + tiles + arrays + ifd(entries))
    put("tiff", "shared_strips_bomb", shared_strips(4096, 256, 64))


def shared_strips(width, rows_per_strip, strips):
    """An 8-bit gray Deflate file whose strips all name the same bytes: a
    decompression bomb, which the reader must refuse without decoding."""
    packed = zlib.compress(bytes(width * rows_per_strip), 9)
    offsets_at = 8 + len(packed)
    counts_at = offsets_at + 4 * strips
    ifd_at = counts_at + 4 * strips
    arrays = struct.pack("<%dI" % strips, *([8] * strips)) + struct.pack("<%dI" % strips, *([len(packed)] * strips))
    entries = [(256, 4, 1, width), (257, 4, 1, rows_per_strip * strips), (258, 3, 1, 8), (259, 3, 1, 8),
               (262, 3, 1, 1), (273, 4, strips, offsets_at), (277, 3, 1, 1), (278, 4, 1, rows_per_strip),
               (279, 4, strips, counts_at)]
    return b"II*\x00" + struct.pack("<I", ifd_at) + packed + arrays + ifd(entries)


def raws():
    # First five bytes: width and height (16-bit little-endian), bits (see fuzz_raw.cpp).
    put("raw", "gray8", struct.pack("<HHB", 4, 2, 8) + bytes(range(8)))
    put("raw", "gray12", struct.pack("<HHB", 3, 2, 12) + bytes(range(12)))
    put("raw", "wide16", struct.pack("<HHB", 2040, 1, 16) + bytes(4080))


def matrix_bs():
    # First byte: the extension (see fuzz_matrix_b.cpp); then the RAW width and height.
    put("matrix_b", "pgm8", b"\x00" + struct.pack("<HH", 0, 0) + b"P5\n5 3\n255\n" + bytes(range(15)))
    put("matrix_b", "pgm12", b"\x00" + struct.pack("<HH", 0, 0) + b"P5 3 2 4095\n" + bytes(12))
    put("matrix_b", "raw8", b"\x01" + struct.pack("<HH", 4, 2) + bytes(range(8)))
    put("matrix_b", "bmp8", b"\x02" + struct.pack("<HH", 0, 0) + bmp(8, 5, 3))
    w, h = 4, 3
    data = bytes(range(w * h * 2))
    entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 1, 16), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, h), (279, 4, 1, len(data))]
    put("matrix_b", "tif16", b"\x03" + struct.pack("<HH", 0, 0) + b"II*\x00" + struct.pack("<I", 8 + len(data)) + data
        + ifd(entries))
    put("matrix_b", "png8", b"\x04" + struct.pack("<HH", 0, 0) + png(5, 3, 8, 0, [bytes(range(i, i + 5)) for i in range(3)]))


def matrices():
    put("matrix", "a_4x2", b"P7" + struct.pack("<III", 4, 2, 1) + struct.pack("<8f", *[0.5 * i for i in range(8)]))
    put("matrix", "a_2x1x3", b"P7" + struct.pack("<III", 2, 1, 3) + struct.pack("<6f", *range(6)))


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, depth, color, rows, interlace=0, extra=b""):
    head = struct.pack(">IIBBBBB", width, height, depth, color, 0, 0, interlace)
    raw = b"".join(b"\x00" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", head) + extra + png_chunk(b"IDAT", zlib.compress(raw))
            + png_chunk(b"IEND", b""))


def pngs():
    put("png", "gray8", png(5, 3, 8, 0, [bytes(range(i, i + 5)) for i in range(3)]))
    put("png", "gray16_sbit12", png(3, 2, 16, 0, [bytes(range(6)), bytes(range(6, 12))],
                                    extra=png_chunk(b"sBIT", bytes((12,)))))
    put("png", "gray4", png(4, 2, 4, 0, [bytes((0x12, 0x34)), bytes((0xfe, 0xdc))]))
    put("png", "rgb8", png(2, 2, 8, 2, [bytes(range(6)), bytes(range(6, 12))]))
    put("png", "palette", png(3, 1, 8, 3, [bytes((0, 1, 0))], extra=png_chunk(b"PLTE", bytes(range(6)))))
    # Adam7 interlacing: a 1 x 1 image has its one pixel in the first pass.
    put("png", "interlaced", png(1, 1, 8, 0, [bytes((9,))], interlace=1))
    put("png", "gray_alpha", png(2, 1, 8, 4, [bytes((1, 255, 2, 0))]))


def luts():
    put("lut", "gamma256", b"# gamma\n\n" + b"".join(b"%d\n" % round(255 * (i / 255) ** 0.45) for i in range(256)))
    put("lut", "rgb256", b"".join(b"%d %d,%d # c\n" % (i, 255 - i, i // 2) for i in range(256)))
    put("lut", "to16", b"".join(b"%d\r\n" % (i * 257) for i in range(256)))
    put("lut", "mixed", b"1\n2 3 4\n-5\nx\n")


def camera_raws():
    # The tests' own DNG writer (python/tests/test_camera.py, needs numpy):
    # small files LibRaw opens (it refuses sides under 22 pixels), one per
    # pattern and depth, and one with a black level per site.
    import importlib.util
    import numpy as np

    found = importlib.util.spec_from_file_location(
        "test_camera", os.path.join(HERE, "..", "python", "tests", "test_camera.py"))
    test_camera = importlib.util.module_from_spec(found)
    found.loader.exec_module(test_camera)
    rng = np.random.default_rng(25)
    neutral = [(1, 2), (1, 1), (4, 5)]
    cells = {"rggb": (0, 1, 1, 2), "bggr": (2, 1, 1, 0), "gbrg": (1, 2, 0, 1), "grbg": (1, 0, 2, 1)}
    for (name, cfa), bits in zip(cells.items(), (12, 14, 16, 12)):
        white = (1 << bits) - 1
        mosaic = rng.integers(256, white, size=(24, 32))
        put("camera_raw", "%s%d.dng" % (name, bits), test_camera.dng_bytes(mosaic, cfa, [256] * 4, white, neutral))
    mosaic = rng.integers(512, 16383, size=(24, 24))
    put("camera_raw", "rggb14_sites.dng",
        test_camera.dng_bytes(mosaic, cells["rggb"], [512, 516, 520, 512], 16383, neutral))


pnm()
bmps()
tiffs()
raws()
matrices()
pngs()
luts()
matrix_bs()
camera_raws()
