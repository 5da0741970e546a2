"""The Python module against the command-line program and against plain numpy.

The build runs these with PYTHONPATH at the built module, OPIX_DEBAYER naming
the program and OPIX_SAMPLES the bundled samples.
"""
import os
import re
import subprocess
import threading
import time

import numpy as np
import pytest

import opix

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PROGRAM = os.environ.get("OPIX_DEBAYER")
SAMPLES = os.environ.get("OPIX_SAMPLES", os.path.join(ROOT, "samples"))
ALGORITHMS = ["DFPD", "HQLI", "MG", "L7", "binning_2x2", "binning_4x4", "binning_8x8"]

needs_program = pytest.mark.skipif(not PROGRAM, reason="OPIX_DEBAYER does not name the program")


# ------------------------------------------------------------------ files

def read_pnm(path):
    """A binary PGM or PPM as a numpy array (16-bit samples big-endian)."""
    with open(path, "rb") as f:
        data = f.read()
    fields = re.match(rb"(P[56])\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    kind, width, height, maxval = fields.group(1), *map(int, fields.groups()[1:])
    dtype = np.dtype(">u2") if maxval > 255 else np.uint8
    channels = 3 if kind == b"P6" else 1
    samples = np.frombuffer(data, dtype, count=width * height * channels, offset=fields.end())
    shape = (height, width, 3) if channels == 3 else (height, width)
    return samples.reshape(shape).astype(np.uint16 if maxval > 255 else np.uint8)


def write_pgm(path, mosaic, maxval):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n%d\n" % (mosaic.shape[1], mosaic.shape[0], maxval))
        f.write(mosaic.astype(">u2" if maxval > 255 else np.uint8).tobytes())


def astronaut(bits):
    """The bundled 512 x 512 RGGB mosaic at 8, 12 or 16 bits."""
    if bits == 8:
        return read_pnm(os.path.join(SAMPLES, "astronaut_rggb.pgm"))
    twelve = np.fromfile(os.path.join(SAMPLES, "astronaut_rggb_12bit.raw"), "<u2").reshape(512, 512)
    return twelve if bits == 12 else twelve << np.uint16(4) | twelve >> np.uint16(8)


def run_program(*args):
    """The program on the backend the module uses."""
    extra = ["-cpu"] if opix.backend() == "host" else []
    return subprocess.run([PROGRAM, *args, *extra], capture_output=True, text=True, timeout=300)


# -------------------------------------------------- the program's results

@needs_program
@pytest.mark.parametrize("bits", [8, 12, 16])
@pytest.mark.parametrize("algorithm", ALGORITHMS)
def test_demosaic_equals_the_program(tmp_path, algorithm, bits):
    mosaic = astronaut(bits)
    source = tmp_path / "in.pgm"
    write_pgm(source, mosaic, (1 << bits) - 1)
    out = tmp_path / "out.ppm"
    done = run_program("-i", str(source), "-o", str(out), "-type", algorithm, "-pattern", "RGGB")
    if done.returncode != 0:
        # What the program cannot do, the module refuses too.
        with pytest.raises(opix.Error):
            opix.demosaic(mosaic, algorithm=algorithm, bits=bits if bits > 8 else None)
        return
    expected = read_pnm(out)
    result = opix.demosaic(mosaic, pattern="RGGB", algorithm=algorithm, bits=bits if bits > 8 else None)
    assert result.dtype == expected.dtype
    assert result.shape == expected.shape
    np.testing.assert_array_equal(result, expected)


@needs_program
def test_png_output_has_the_samples_of_the_ppm_output(tmp_path):
    from PIL import Image

    # 8 bits: the same samples.
    source = os.path.join(SAMPLES, "astronaut_rggb.pgm")
    for name in ("out.png", "out.ppm"):
        assert run_program("-i", source, "-o", str(tmp_path / name)).returncode == 0
    png = Image.open(tmp_path / "out.png")
    assert png.mode == "RGB"
    np.testing.assert_array_equal(np.asarray(png), read_pnm(tmp_path / "out.ppm"))

    # 12 bits: a 16-bit PNG with the samples scaled to the full range, whose
    # upper byte (what Pillow shows of a 16-bit colour PNG) is the 12-bit
    # sample's upper eight bits.
    raw = os.path.join(SAMPLES, "astronaut_rggb_12bit.raw")
    for name in ("deep.png", "deep.ppm"):
        done = run_program("-i", raw, "-w", "512", "-h", "512", "-bits", "12", "-o", str(tmp_path / name))
        assert done.returncode == 0, done.stderr
    deep = read_pnm(tmp_path / "deep.ppm")
    png = Image.open(tmp_path / "deep.png")
    np.testing.assert_array_equal(np.asarray(png.convert("RGB")), (deep >> 4).astype(np.uint8))
    with open(tmp_path / "deep.png", "rb") as f:
        data = f.read()
    assert data[24] == 16  # IHDR bit depth
    at = data.index(b"sBIT")
    assert data[at + 4:at + 7] == bytes((12, 12, 12))


@needs_program
def test_png_input(tmp_path):
    from PIL import Image

    mosaic = astronaut(8)
    Image.fromarray(mosaic, "L").save(tmp_path / "in.png")
    assert run_program("-i", str(tmp_path / "in.png"), "-o", str(tmp_path / "out.ppm")).returncode == 0
    np.testing.assert_array_equal(read_pnm(tmp_path / "out.ppm"), opix.demosaic(mosaic))

    Image.fromarray(np.zeros((64, 64, 3), np.uint8), "RGB").save(tmp_path / "colour.png")
    done = run_program("-i", str(tmp_path / "colour.png"), "-o", str(tmp_path / "colour.ppm"))
    assert done.returncode != 0
    assert "Input file must not be color\n" in done.stderr
    assert not (tmp_path / "colour.ppm").exists()


# ------------------------------------------------------------ the module

def test_version_and_backend():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        version = re.search(r"project\(opix VERSION ([0-9.]+)", f.read()).group(1)
    assert opix.__version__ == version
    assert opix.backend() in ("host", "cuda")
    other = "cuda" if opix.backend() == "host" else "host"
    with pytest.raises(ValueError, match="backend stays once chosen"):
        opix.demosaic(np.zeros((64, 64), np.uint8), backend=other)


def test_strided_views_give_the_result_of_their_copies():
    rng = np.random.default_rng(7)
    big = rng.integers(0, 4096, size=(150, 260), dtype=np.uint16)
    views = {
        "crop": big[10:110, 20:220],
        "columns": big[:, ::2],
        "flipped": big[::-1, :],
        "fortran": np.asfortranarray(big[:100, :128]),
        "unaligned": np.frombuffer(b"\0" + big.tobytes(), np.uint16, count=150 * 260 - 1, offset=1)[:100 * 200].reshape(100, 200),
    }
    for name, view in views.items():
        for algorithm in ("DFPD", "HQLI"):
            np.testing.assert_array_equal(opix.demosaic(view, algorithm=algorithm, bits=12),
                                          opix.demosaic(np.ascontiguousarray(view), algorithm=algorithm, bits=12),
                                          err_msg=f"{name} {algorithm}")


def test_colour_samples_and_small_images():
    # A flat colour field comes back as that colour in its interior, at every
    # depth, for an image below the chain's minimum size too.
    for dtype, bits, (r, g, b) in ((np.uint8, None, (200, 100, 40)), (np.uint16, 12, (4000, 2000, 100)),
                                   (np.uint16, 16, (60000, 30000, 1000))):
        for height, width in ((64, 96), (20, 30)):
            mosaic = np.empty((height, width), dtype)
            mosaic[0::2, 0::2], mosaic[0::2, 1::2], mosaic[1::2, 0::2], mosaic[1::2, 1::2] = r, g, g, b
            out = opix.demosaic(mosaic, bits=bits)
            assert out.dtype == dtype and out.shape == (height, width, 3)
            assert tuple(out[height // 2, width // 2]) == (r, g, b)
            binned = opix.demosaic(mosaic, algorithm="binning_2x2", bits=bits)
            assert binned.shape == (height // 2, width // 2, 3)


def test_depths_below_their_surface_stay_in_range():
    rng = np.random.default_rng(3)
    mosaic = rng.integers(0, 1024, size=(64, 64), dtype=np.uint16)
    mosaic[::7, ::5] = 1023
    out = opix.demosaic(mosaic, algorithm="HQLI", bits=10)
    assert out.max() <= 1023
    reference = np.minimum(opix.demosaic(mosaic, algorithm="HQLI", bits=12), 1023)
    np.testing.assert_array_equal(out, reference)


def test_debayer_objects_reuse_their_chain():
    rng = np.random.default_rng(11)
    frames = [rng.integers(0, 4096, size=(128, 192), dtype=np.uint16) for _ in range(3)]
    debayer = opix.Debayer(192, 128, dtype=np.uint16, bits=12, algorithm="HQLI", pattern="GRBG")
    assert (debayer.width, debayer.height) == (192, 128)
    out = np.empty((128, 192, 3), np.uint16)
    for frame in frames:
        result = debayer(frame, out=out)
        assert result is out
        np.testing.assert_array_equal(out, opix.demosaic(frame, algorithm="HQLI", pattern="GRBG", bits=12))
    # A smaller frame fits the chain; a larger one does not.
    small = frames[0][:64, :100]
    np.testing.assert_array_equal(debayer(small), opix.demosaic(small, algorithm="HQLI", pattern="GRBG", bits=12))
    with pytest.raises(ValueError, match="exceeds"):
        debayer(np.zeros((130, 192), np.uint16))
    for wrong in (np.empty((128, 192, 3), np.uint8), np.empty((128, 192, 3), ">u2"), np.empty((3, 128, 192), np.uint16),
                  np.empty((128, 192, 3), np.uint16)[:, :, ::-1], [[0]]):
        with pytest.raises(ValueError, match="out must be"):
            debayer(frames[0], out=wrong)
    with pytest.raises(ValueError, match="uint16"):
        debayer(np.zeros((128, 192), np.uint8))


def test_threads_share_the_sdk():
    rng = np.random.default_rng(5)
    frames = [rng.integers(0, 256, size=(96, 128), dtype=np.uint8) for _ in range(4)]
    expected = [opix.demosaic(f) for f in frames]
    results = [None] * len(frames)

    def work(i):
        debayer = opix.Debayer(128, 96)
        for _ in range(5):
            results[i] = debayer(frames[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(frames))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_the_gil_is_released_while_the_sdk_works():
    # Another thread runs Python code while a frame is being demosaiced.
    frame = np.random.default_rng(2).integers(0, 4096, size=(2048, 2048), dtype=np.uint16)
    debayer = opix.Debayer(2048, 2048, dtype=np.uint16, bits=12)
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    calls = []
    try:
        for _ in range(3):
            start = time.perf_counter()
            debayer(frame)
            calls.append((start, time.perf_counter()))
    finally:
        stop.set()
        ticker.join()
    # A held GIL would let the ticker in at most once around each call.
    inside = sum(start < t < end for start, end in calls for t in ticks)
    assert inside >= 8, f"{inside} ticks during {len(calls)} calls"


def test_white_balance_and_colour_correction():
    rng = np.random.default_rng(9)
    mosaic = rng.integers(0, 4096, size=(64, 80), dtype=np.uint16)
    balanced = opix.white_balance(mosaic, (2.0, 1.0, 1.0, 0.5), pattern="RGGB", bits=12)
    expected = mosaic.astype(np.int64)
    expected[0::2, 0::2] = np.minimum(expected[0::2, 0::2] * 2, 4095)
    expected[1::2, 1::2] = (expected[1::2, 1::2] + 1) // 2
    assert balanced.dtype == np.uint16 and balanced.shape == mosaic.shape
    np.testing.assert_array_equal(balanced, expected)

    image = rng.integers(0, 256, size=(70, 90, 3), dtype=np.uint8)
    swap = [[0, 0, 1, 0], [0, 1, 0, 0], [1, 0, 0, 10]]
    corrected = opix.color_correction(image, swap)
    assert corrected.dtype == np.uint8 and corrected.shape == image.shape
    np.testing.assert_array_equal(corrected[..., 0], image[..., 2])
    np.testing.assert_array_equal(corrected[..., 1], image[..., 1])
    np.testing.assert_array_equal(corrected[..., 2], np.maximum(image[..., 0].astype(int) - 10, 0))
    # White levels limit each channel before the matrix.
    identity = np.hstack([np.eye(3), np.zeros((3, 1))])
    limited = opix.color_correction(image.astype(np.uint16) << 8, identity, white_level=(30000, 65535, 65535))
    np.testing.assert_array_equal(limited[..., 0], np.minimum(image[..., 0].astype(np.uint16) << 8, 30000))


def test_bad_input_raises_value_error():
    good = np.zeros((64, 64), np.uint8)
    cases = [
        (lambda: opix.demosaic(good.astype(np.float32)), "uint8 or uint16"),
        (lambda: opix.demosaic(good.astype(">u2")), "uint8 or uint16"),
        (lambda: opix.demosaic(np.zeros((64, 64, 3), np.uint8)), "2-D"),
        (lambda: opix.demosaic(np.zeros((2, 70000), np.uint8)), "Invalid image dimensions"),
        (lambda: opix.demosaic(np.zeros((64, 65), np.uint8), algorithm="binning_2x2"), "even width"),
        (lambda: opix.demosaic(np.zeros((4, 4), np.uint16), algorithm="binning_8x8"), "binning block"),
        (lambda: opix.demosaic(good, pattern="RGBG"), "Pattern RGBG was not recognized"),
        (lambda: opix.demosaic(good, algorithm="AHD"), "algorithm AHD was not recognized"),
        (lambda: opix.demosaic(good, backend="gpu"), "Backend gpu was not recognized"),
        (lambda: opix.demosaic(good.astype(np.uint16), bits=9), "10 to 16"),
        (lambda: opix.demosaic(good, bits=12), "bits must be 8"),
        (lambda: opix.white_balance(good, (1, 1, 1)), "four numbers"),
        (lambda: opix.color_correction(np.zeros((64, 64, 3), np.uint8), np.eye(3)), "3 x 4"),
        (lambda: opix.color_correction(np.zeros((64, 64, 4), np.uint8), np.zeros((3, 4))), "3 channels"),
    ]
    for call, message in cases:
        with pytest.raises(ValueError, match=message):
            call()


def test_sdk_failures_raise_opix_error_with_the_status():
    # L7 has no 8-bit kernels.
    with pytest.raises(opix.Error) as failure:
        opix.demosaic(np.zeros((64, 64), np.uint8), algorithm="L7")
    assert failure.value.status == "OPIX_UNSUPPORTED_FORMAT"
    assert "OPIX_UNSUPPORTED_FORMAT" in str(failure.value)


def test_debayer_takes_a_stream_handle():
    rng = np.random.default_rng(5)
    frame = rng.integers(0, 4096, size=(96, 128), dtype=np.uint16)
    expected = opix.demosaic(frame, algorithm="DFPD", bits=12)
    # 0 is the default stream, as CuPy's and PyTorch's null streams give it.
    np.testing.assert_array_equal(opix.Debayer(128, 96, dtype=np.uint16, bits=12, stream=0)(frame), expected)
    for bad in (-1, 2**64, "0", 1.0, True, None):
        with pytest.raises(ValueError, match="stream must be"):
            opix.Debayer(128, 96, dtype=np.uint16, bits=12, stream=bad)
    if opix.backend() == "host":
        # The host backend takes only streams of its own: a CUDA stream's
        # address means nothing there.
        with pytest.raises(opix.Error) as failure:
            opix.Debayer(128, 96, dtype=np.uint16, bits=12, stream=0x7F0012345600)
        assert failure.value.status == "OPIX_INVALID_VALUE"
