"""Camera files through the program: machine-vision frames in each pixel
format, packed here by a numpy reference of the layouts, give the same
pictures as the same mosaic in 16-bit words; bad frames are refused by name.
"""
import os
import re
import subprocess
import struct
import time

import numpy as np
import pytest

PROGRAM = os.environ.get("OPIX_DEBAYER")
needs_program = pytest.mark.skipif(not PROGRAM, reason="OPIX_DEBAYER does not name the program")


def run_program(*args):
    return subprocess.run([PROGRAM, *args, "-cpu"], capture_output=True, text=True, timeout=300)


def bit_stream(samples, bits):
    """Samples as one bit stream, lowest bit first (PFNC Mono10p, Mono12p)."""
    flat = samples.ravel().astype(np.uint64)
    bit_array = ((flat[:, None] >> np.arange(bits, dtype=np.uint64)) & 1).astype(np.uint8).ravel()
    return np.packbits(bit_array, bitorder="little").tobytes()


def pack(samples, name, msb=False):
    """The bytes of a frame in pixel format `name`."""
    if name.endswith("10p"):
        return bit_stream(samples, 10)
    if name.endswith("12p"):
        return bit_stream(samples, 12)
    if name.endswith("12Packed"):
        # GigE Vision: p0[11:4] | p1[3:0] p0[3:0] | p1[11:4].
        flat = samples.ravel().astype(np.uint16)
        if flat.size % 2:
            flat = np.append(flat, 0)
        a, b = flat[0::2], flat[1::2]
        out = np.stack([a >> 4, (a & 15) | ((b & 15) << 4), b >> 4], axis=1).astype(np.uint8).ravel()
        return out[: (samples.size * 12 + 7) // 8].tobytes()
    if name.endswith("8"):
        return samples.astype(np.uint8).tobytes()
    bits = int(name[-2:])
    words = samples.astype(np.uint16) << np.uint16(16 - bits) if msb else samples.astype(np.uint16)
    return words.astype("<u2").tobytes()


LAYOUTS = [("BayerRG8", 8), ("BayerGR10p", 10), ("BayerGB12p", 12), ("BayerBG12Packed", 12), ("BayerRG10", 10),
           ("BayerGR12", 12), ("BayerGB14", 14), ("BayerBG16", 16), ("Mono12p", 12), ("Mono10p", 10)]
PATTERNS = {"RG": "RGGB", "GR": "GRBG", "GB": "GBRG", "BG": "BGGR"}


@needs_program
@pytest.mark.parametrize("msb", [False, True])
@pytest.mark.parametrize("name,bits", LAYOUTS)
def test_every_pixel_format_gives_the_picture_of_its_samples(tmp_path, name, bits, msb):
    if msb and not name[-1].isdigit():
        pytest.skip("-msb concerns 16-bit words")
    width, height = 70, 34  # odd pixel counts per row for the packed layouts
    rng = np.random.default_rng(bits * 3 + len(name))
    samples = rng.integers(0, 1 << bits, size=(height, width), dtype=np.uint32)
    packed = tmp_path / "frame.raw"
    packed.write_bytes(pack(samples, name, msb))
    plain = tmp_path / "plain.raw"
    plain.write_bytes(samples.astype(np.uint8 if bits == 8 else "<u2").tobytes())
    pattern = PATTERNS.get(name[5:7], "RGGB") if name.startswith("Bayer") else "RGGB"
    args = ["-w", str(width), "-h", str(height)]
    a = run_program("-i", str(packed), "-format", name, *(["-msb"] if msb else []), "-o", str(tmp_path / "a.ppm"),
                    *args)
    assert a.returncode == 0, a.stderr
    b = run_program("-i", str(plain), "-bits", str(bits), "-pattern", pattern, "-o", str(tmp_path / "b.ppm"), *args)
    assert b.returncode == 0, b.stderr
    assert "Pattern: %s\n" % pattern in a.stdout
    assert (tmp_path / "a.ppm").read_bytes() == (tmp_path / "b.ppm").read_bytes()


@needs_program
def test_a_frame_of_the_wrong_size_is_refused_by_name(tmp_path):
    frame = tmp_path / "short.raw"
    frame.write_bytes(bytes(64 * 48 * 3 // 2 - 1))
    out = tmp_path / "out.ppm"
    r = run_program("-i", str(frame), "-format", "BayerRG12p", "-w", "64", "-h", "48", "-o", str(out))
    assert r.returncode != 0
    assert "%s: 4607 bytes, but a 64x48 BayerRG12p frame has 4608\n" % frame in r.stderr
    assert not out.exists()
    # -pattern may repeat a Bayer format's pattern, not contradict it.
    frame.write_bytes(bytes(4608))
    r = run_program("-i", str(frame), "-format", "BayerRG12p", "-pattern", "GRBG", "-w", "64", "-h", "48", "-o",
                    str(out))
    assert r.returncode != 0
    assert "The pattern GRBG contradicts BayerRG12p, whose pattern is RGGB\n" in r.stderr
    assert not out.exists()
    r = run_program("-i", str(frame), "-format", "BayerRG13p", "-w", "64", "-h", "48", "-o", str(out))
    assert "Pixel format BayerRG13p was not recognized." in r.stderr


@needs_program
def test_a_batch_goes_on_after_a_bad_frame(tmp_path):
    (tmp_path / "a1.raw").write_bytes(bytes(4608))
    (tmp_path / "a2.raw").write_bytes(bytes(100))
    (tmp_path / "a3.raw").write_bytes(bytes(4608))
    r = run_program("-if", str(tmp_path / "a*.raw"), "-format", "BayerRG12p", "-w", "64", "-h", "48",
                    "-maxWidth", "64", "-maxHeight", "48", "-o", str(tmp_path / "out_*.ppm"))
    assert r.returncode != 0
    assert "a2.raw: 100 bytes, but a 64x48 BayerRG12p frame has 4608" in r.stderr
    assert sorted(p.name for p in tmp_path.glob("out_*.ppm")) == ["out_0.ppm", "out_2.ppm"]


# ------------------------------------------------------------ camera raw

def dng_bytes(mosaic, cfa, black, white, neutral, colour_matrix=None, make="Opix", model="Test Camera"):
    """A one-image uncompressed DNG of 16-bit samples. `cfa`: colours of the
    2 x 2 cell (0 R, 1 G, 2 B); `black`: four levels of the cell's sites;
    `neutral`: as-shot neutral as (numerator, denominator) pairs."""
    height, width = mosaic.shape
    pixels = mosaic.astype("<u2").tobytes()
    matrix = colour_matrix or [(1, 1), (0, 1), (0, 1), (0, 1), (1, 1), (0, 1), (0, 1), (0, 1), (1, 1)]
    ascii_ = lambda s: s.encode() + b"\0"
    entries = [
        (254, 4, [0]), (256, 4, [width]), (257, 4, [height]), (258, 3, [16]), (259, 3, [1]), (262, 3, [32803]),
        (271, 2, ascii_(make)), (272, 2, ascii_(model)), (273, 4, [8]), (274, 3, [1]), (277, 3, [1]),
        (278, 4, [height]), (279, 4, [len(pixels)]), (284, 3, [1]), (33421, 3, [2, 2]), (33422, 1, list(cfa)),
        (50706, 1, [1, 4, 0, 0]), (50707, 1, [1, 1, 0, 0]), (50708, 2, ascii_(make + " " + model)),
        (50710, 1, [0, 1, 2]), (50711, 3, [1]), (50713, 3, [2, 2]), (50714, 4, list(black)), (50717, 4, [white]),
        (50721, 10, [v for pair in matrix for v in pair]), (50728, 5, [v for pair in neutral for v in pair]),
        (50778, 3, [21]),
    ]
    formats = {1: "B", 2: "s", 3: "H", 4: "I", 5: "I", 10: "i"}
    counts = lambda tag_type, values: len(values) // (2 if tag_type in (5, 10) else 1)
    out = bytearray(b"II*\0\0\0\0\0") + pixels
    while len(out) % 4:
        out += b"\0"
    ifd_at = len(out)
    struct.pack_into("<I", out, 4, ifd_at)
    extra_at = ifd_at + 2 + 12 * len(entries) + 4
    ifd, extra = bytearray(struct.pack("<H", len(entries))), bytearray()
    for tag, tag_type, values in entries:
        data = values if tag_type == 2 else struct.pack("<%d%s" % (len(values), formats[tag_type]), *values)
        count = len(data) if tag_type == 2 else counts(tag_type, values)
        ifd += struct.pack("<HHI", tag, tag_type, count)
        if len(data) <= 4:
            ifd += bytes(data).ljust(4, b"\0")
        else:
            ifd += struct.pack("<I", extra_at + len(extra))
            extra += data
            if len(extra) % 2:
                extra += b"\0"
    ifd += b"\0\0\0\0"
    return bytes(out + ifd + extra)


def photo_mosaic(bits, black, neutral):
    """The bundled photo as a camera would see it: linear light, dimmed by the
    as-shot neutral, mosaicked RGGB, with black added, at `bits` bits."""
    data_dir = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "data")
    with open(os.path.join(data_dir, "astronaut.ppm"), "rb") as f:
        raw = f.read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", raw)
    w, h = int(m.group(1)), int(m.group(2))
    rgb = np.frombuffer(raw, np.uint8, offset=m.end(), count=w * h * 3).reshape(h, w, 3) / 255.0
    linear = np.where(rgb <= 0.04045, rgb / 12.92, ((rgb + 0.055) / 1.055) ** 2.4)
    scale = np.array([n / d for n, d in neutral])
    camera = linear * scale * 0.9
    mosaic = np.empty((h, w))
    mosaic[0::2, 0::2] = camera[0::2, 0::2, 0]
    mosaic[0::2, 1::2] = camera[0::2, 1::2, 1]
    mosaic[1::2, 0::2] = camera[1::2, 0::2, 1]
    mosaic[1::2, 1::2] = camera[1::2, 1::2, 2]
    white = (1 << bits) - 1
    return np.round(black + mosaic * (white - black)).astype(np.uint16), white


def read_ppm16(path):
    data = open(path, "rb").read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    w, h, maxval = map(int, m.groups())
    dtype = ">u2" if maxval > 255 else np.uint8
    return np.frombuffer(data, dtype, count=w * h * 3, offset=m.end()).reshape(h, w, 3).astype(np.float64)


NEUTRAL = [(1, 2), (1, 1), (4, 5)]


@needs_program
def test_info_names_what_a_camera_raw_file_holds(tmp_path):
    mosaic, white = photo_mosaic(14, 512, NEUTRAL)
    dng = tmp_path / "shot.DNG"
    dng.write_bytes(dng_bytes(mosaic[:64, :96], (1, 0, 2, 1), [512, 520, 530, 512], white, NEUTRAL))
    r = run_program("-i", str(dng), "-o", str(tmp_path / "out.ppm"), "-info")
    if "camera raw input needs LibRaw" in r.stderr:
        pytest.skip("built without LibRaw")
    assert r.returncode == 0, r.stderr
    for line in ["Camera: Opix Test Camera\n", "Camera raw: 96x64 pixels, 14 bits, pattern GRBG\n",
                 "Black level: R 520 G 512 B 530\n", "White level: 16383\n",
                 "As-shot white balance: R 2.0000 G1 1.0000 G2 1.0000 B 1.2500\n", "Pattern: GRBG\n"]:
        assert line in r.stdout, r.stdout
    assert re.search(r"Camera to sRGB: -?\d\.\d{4} -?\d\.\d{4} -?\d\.\d{4}\n", r.stdout), r.stdout


@needs_program
def test_bad_camera_files_are_named_and_nothing_is_written(tmp_path):
    mosaic, white = photo_mosaic(12, 256, NEUTRAL)
    good = dng_bytes(mosaic[:64, :64], (0, 1, 1, 2), [256] * 4, white, NEUTRAL)
    cut = tmp_path / "cut.dng"
    cut.write_bytes(good[: len(good) // 3])
    out = tmp_path / "out.ppm"
    r = run_program("-i", str(cut), "-o", str(out))
    if "camera raw input needs LibRaw" in r.stderr:
        pytest.skip("built without LibRaw")
    assert r.returncode != 0
    assert ("%s: " % cut) in r.stderr
    assert not out.exists()
    mono = tmp_path / "mono.nef"
    mono.write_bytes(b"no raw file here" * 256)
    r = run_program("-i", str(mono), "-o", str(out))
    assert r.returncode != 0
    assert "%s: not a camera raw file this build knows" % mono in r.stderr
    assert not out.exists()


def developed(tmp_path, bits=14, black=512, extra=()):
    mosaic, white = photo_mosaic(bits, black, NEUTRAL)
    dng = tmp_path / "photo.dng"
    dng.write_bytes(dng_bytes(mosaic, (0, 1, 1, 2), [black] * 4, white, NEUTRAL))
    out = tmp_path / "developed.ppm"
    r = run_program("-i", str(dng), "-o", str(out), *extra)
    if "camera raw input needs LibRaw" in r.stderr:
        pytest.skip("built without LibRaw")
    assert r.returncode == 0, r.stderr
    return dng, read_ppm16(out)


@needs_program
def test_the_finished_picture_is_the_photo(tmp_path):
    # With the identity XYZ matrix LibRaw's camera-to-sRGB matrix is XYZ to
    # sRGB, so the picture is the photo only up to that matrix; the linear
    # picture, before it, must be the photo's linear light scaled to white
    # and balanced back by the as-shot gains.
    _, lin = developed(tmp_path, extra=("-linear", "-wb_r", "2", "-wb_g1", "1", "-wb_g2", "1", "-wb_b", "1.25"))
    data_dir = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "data")
    raw = open(os.path.join(data_dir, "astronaut.ppm"), "rb").read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", raw)
    rgb = np.frombuffer(raw, np.uint8, offset=m.end()).reshape(lin.shape) / 255.0
    linear = np.where(rgb <= 0.04045, rgb / 12.92, ((rgb + 0.055) / 1.055) ** 2.4) * 0.9 * 65535
    inner = (slice(8, -8), slice(8, -8))
    psnr = 10 * np.log10(65535.0 ** 2 / np.mean((lin[inner] - linear[inner]) ** 2))
    assert psnr > 30, psnr


@needs_program
def test_close_to_rawpy(tmp_path):
    rawpy = pytest.importorskip("rawpy", reason="rawpy (PyPI) is not installed")
    dng, ours = developed(tmp_path)
    start = time.perf_counter()
    assert run_program("-i", str(dng), "-o", str(tmp_path / "again.ppm")).returncode == 0
    program_seconds = time.perf_counter() - start
    start = time.perf_counter()
    with rawpy.imread(str(dng)) as raw:
        theirs = raw.postprocess(use_camera_wb=True, output_bps=16, no_auto_bright=True, gamma=(2.4, 12.92),
                                 output_color=rawpy.ColorSpace.sRGB, user_flip=0,
                                 # scale to the file's white level, not to the brightest sample
                                 adjust_maximum_thr=0.0).astype(np.float64)
    seconds = time.perf_counter() - start
    inner = (slice(8, -8), slice(8, -8))
    psnr = [10 * np.log10(65535.0 ** 2 / np.mean((ours[inner][..., c] - theirs[inner][..., c]) ** 2)) for c in range(3)]
    print("PSNR against rawpy R %.2f G %.2f B %.2f dB; opix_debayer -cpu %.3f s (the whole process), rawpy %.3f s"
          % (*psnr, program_seconds, seconds))
    # What is left is the demosaic (DFPD here, AHD there), which the
    # colour matrix amplifies; the levels agree on average.
    assert min(psnr) > 30, psnr
    assert np.all(np.abs((ours[inner] - theirs[inner]).reshape(-1, 3).mean(0)) < 200)


@needs_program
def test_a_black_level_per_site_is_subtracted_per_site(tmp_path):
    mosaic, white = photo_mosaic(14, 512, NEUTRAL)
    uniform = tmp_path / "uniform.dng"
    uniform.write_bytes(dng_bytes(mosaic, (0, 1, 1, 2), [512] * 4, white, NEUTRAL))
    # The same light, with the second green's black 40 higher.
    shifted = mosaic.copy()
    shifted[1::2, 0::2] += 40
    sites = tmp_path / "sites.dng"
    sites.write_bytes(dng_bytes(shifted, (0, 1, 1, 2), [512, 512, 552, 512], white, NEUTRAL))
    r = run_program("-i", str(sites), "-o", str(tmp_path / "sites.ppm"), "-info")
    if "camera raw input needs LibRaw" in r.stderr:
        pytest.skip("built without LibRaw")
    assert r.returncode == 0, r.stderr
    assert "Black level: per site, 2x2 table, 512 to 552\n" in r.stdout
    assert run_program("-i", str(uniform), "-o", str(tmp_path / "uniform.ppm")).returncode == 0
    a, b = read_ppm16(tmp_path / "sites.ppm"), read_ppm16(tmp_path / "uniform.ppm")
    assert np.abs(a - b).mean() < 100


# ------------------------------------------------------- the Python module

@needs_program
def test_read_raw_develop_and_unpack_in_python(tmp_path):
    opix = pytest.importorskip("opix")
    mosaic, white = photo_mosaic(14, 512, NEUTRAL)
    mosaic = mosaic[:96, :128]
    dng = tmp_path / "shot.dng"
    dng.write_bytes(dng_bytes(mosaic, (1, 2, 0, 1), [512, 516, 520, 512], white, NEUTRAL))
    try:
        raw, meta = opix.read_raw(str(dng))
    except opix.FileError as e:
        if "needs LibRaw" in str(e):
            pytest.skip("built without LibRaw")
        raise
    assert raw.dtype == np.uint16 and np.array_equal(raw, mosaic)
    assert meta["pattern"] == "GBRG" and meta["white_level"] == white and meta["bits"] == 14
    assert meta["as_shot_wb"] == (2.0, 1.0, 1.0, 1.25)
    assert meta["black_level"].tolist() == [[512, 516], [520, 512]]
    assert meta["camera_to_srgb"].shape == (3, 3)
    with pytest.raises(opix.FileError, match="cut.dng: "):
        (tmp_path / "cut.dng").write_bytes(dng.read_bytes()[:200])
        opix.read_raw(str(tmp_path / "cut.dng"))

    # The same chain as the program's, so the same samples.
    picture = opix.develop(str(dng))
    r = run_program("-i", str(dng), "-o", str(tmp_path / "out.ppm"))
    assert r.returncode == 0, r.stderr
    assert picture.shape == (96, 128, 3) and np.array_equal(picture, read_ppm16(tmp_path / "out.ppm"))

    samples = np.random.default_rng(4).integers(0, 4096, size=(5, 7), dtype=np.uint16)
    for name in ["BayerRG12p", "Mono12Packed", "Mono12"]:
        assert np.array_equal(opix.unpack(pack(samples, name), name, 7, 5), samples), name
    assert np.array_equal(opix.unpack(pack(samples, "Mono12", msb=True), "Mono12", 7, 5, msb=True), samples)
    with pytest.raises(ValueError, match="52 bytes, but a 7x5 BayerRG12p frame has 53"):
        opix.unpack(bytes(52), "BayerRG12p", 7, 5)


@needs_program
def test_a_batch_of_camera_files_goes_on_after_a_bad_one(tmp_path):
    # A truncated file and a sensor whose 2 x 2 cell is no Bayer cell (R G B G)
    # are each named with their problem; the good files are developed.
    mosaic, white = photo_mosaic(12, 256, NEUTRAL)
    good = dng_bytes(mosaic[:32, :48], (0, 1, 1, 2), [256] * 4, white, NEUTRAL)
    (tmp_path / "a1.dng").write_bytes(good)
    (tmp_path / "a2.dng").write_bytes(good[: len(good) // 2])
    (tmp_path / "a3.dng").write_bytes(dng_bytes(mosaic[:32, :48], (0, 1, 2, 1), [256] * 4, white, NEUTRAL))
    (tmp_path / "a4.dng").write_bytes(good)
    r = run_program("-if", str(tmp_path / "a*.dng"), "-maxWidth", "48", "-maxHeight", "32", "-o",
                    str(tmp_path / "out_*.ppm"))
    if "camera raw input needs LibRaw" in r.stderr:
        pytest.skip("built without LibRaw")
    assert r.returncode != 0
    assert "%s: " % (tmp_path / "a2.dng") in r.stderr
    assert "%s: not a Bayer sensor: colour filter is no RGGB, BGGR, GBRG or GRBG cell\n" % (tmp_path / "a3.dng") \
        in r.stderr
    assert sorted(p.name for p in tmp_path.glob("out_*")) == ["out_0.ppm", "out_3.ppm"]


# Fuzzer finds that crash LibRaw itself (an overflow glibc aborts on, a wild
# read): LibRaw runs in a decoder process, so they are bad files like others.
CRASHERS = [os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "tests", "data",
                         name) for name in ("libraw_crash_model.dng", "libraw_crash_ifd.dng")]


@needs_program
def test_files_that_crash_libraw_fail_alone_and_a_batch_goes_on(tmp_path):
    out = tmp_path / "out.ppm"
    for crasher in CRASHERS:
        r = run_program("-i", crasher, "-o", str(out))
        if "camera raw input needs LibRaw" in r.stderr:
            pytest.skip("built without LibRaw")
        assert r.returncode > 0, (r.returncode, r.stderr)  # an exit status, not a signal (< 0)
        assert ("%s: " % crasher) in r.stderr
        assert not out.exists()
    r = run_program("-i", CRASHERS[0], "-o", str(out))
    assert "%s: truncated or corrupt file (the camera raw decoder " % CRASHERS[0] in r.stderr, r.stderr

    mosaic, white = photo_mosaic(12, 256, NEUTRAL)
    good = dng_bytes(mosaic[:32, :48], (0, 1, 1, 2), [256] * 4, white, NEUTRAL)
    (tmp_path / "a1.dng").write_bytes(good)
    for i, crasher in enumerate(CRASHERS):
        (tmp_path / ("a%d.dng" % (i + 2))).write_bytes(open(crasher, "rb").read())
    (tmp_path / "a4.dng").write_bytes(good)
    r = run_program("-if", str(tmp_path / "a*.dng"), "-maxWidth", "48", "-maxHeight", "32", "-o",
                    str(tmp_path / "out_*.ppm"))
    assert r.returncode > 0, (r.returncode, r.stderr)
    assert "%s: truncated or corrupt file" % (tmp_path / "a2.dng") in r.stderr, r.stderr
    assert "%s: " % (tmp_path / "a3.dng") in r.stderr
    assert sorted(p.name for p in tmp_path.glob("out_*")) == ["out_0.ppm", "out_3.ppm"]


def test_read_raw_raises_file_error_on_files_that_crash_libraw(tmp_path):
    opix = pytest.importorskip("opix")
    for crasher in CRASHERS:
        with pytest.raises(opix.FileError) as e:
            opix.read_raw(crasher)
        if "needs LibRaw" in str(e.value):
            pytest.skip("built without LibRaw")
        assert str(e.value).startswith(crasher + ": "), str(e.value)
        with pytest.raises(opix.FileError):
            opix.develop(crasher)
    # The module goes on reading good files.
    mosaic, white = photo_mosaic(14, 512, NEUTRAL)
    dng = tmp_path / "shot.dng"
    dng.write_bytes(dng_bytes(mosaic[:32, :48], (0, 1, 1, 2), [512] * 4, white, NEUTRAL))
    raw, meta = opix.read_raw(str(dng))
    assert np.array_equal(raw, mosaic[:32, :48]) and meta["pattern"] == "RGGB"
