"""Camera files through the program: machine-vision frames in each pixel
format, packed here by a numpy reference of the layouts, give the same
pictures as the same mosaic in 16-bit words; bad frames are refused by name.
"""
import os
import subprocess

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
