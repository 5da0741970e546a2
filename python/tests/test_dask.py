"""opix.dask: mosaics block by block against one call, and files on a real
local cluster of two worker processes against the command-line program."""
import os
import signal
import subprocess
import threading
import time

import numpy as np
import pytest

import opix

dask = pytest.importorskip("dask", reason="dask is not installed (pip install .[dask], or Debian's python3-dask)")
da = pytest.importorskip("dask.array", reason="dask.array is not installed (pip install dask[array])")
distributed = pytest.importorskip("distributed", reason="distributed is not installed (pip install distributed)")
import opix.dask as odask  # noqa: E402

PROGRAM = os.environ.get("OPIX_DEBAYER")
needs_program = pytest.mark.skipif(not PROGRAM, reason="OPIX_DEBAYER does not name the program")
PATTERNS = ["RGGB", "BGGR", "GBRG", "GRBG"]
ALGORITHMS = ["HQLI", "DFPD", "MG", "L7"]


def mosaic_of(h, w, bits, seed=1):
    rng = np.random.default_rng(seed)
    return rng.integers(0, 1 << bits, (h, w), dtype=np.uint16 if bits > 8 else np.uint8)


def bits_arg(bits):
    return None if bits == 8 else bits


def write_pgm(path, mosaic, maxval):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n%d\n" % (mosaic.shape[1], mosaic.shape[0], maxval))
        f.write(mosaic.astype(">u2" if maxval > 255 else np.uint8).tobytes())


def run_program(*args):
    return subprocess.run([PROGRAM, "-cpu", *args], capture_output=True, text=True, timeout=300)


# ------------------------------------------------------------------ reach


@pytest.mark.parametrize("algorithm", ALGORITHMS)
def test_reach_is_how_far_a_sample_acts(algorithm):
    """A sample swung from black to white (or back) alters output pixels up to
    the declared reach away and never further, measured on the samples: a
    grid of such samples 32 apart, far from the edges, in a few random
    mosaics of every phase."""
    reach = opix.demosaic_reach(algorithm)
    n, bits, top = 256, 12, 4095
    rng = np.random.default_rng(7)
    debayer = opix.Debayer(n, n, dtype=np.uint16, pattern="GRBG", algorithm=algorithm, bits=bits)
    farthest = 0
    for trial in range(4):
        base = rng.integers(0, top + 1, (n, n), dtype=np.uint16)
        changed = base.copy()
        points = [(y + trial % 2, x + trial // 2) for y in range(32, n - 32, 32) for x in range(32, n - 32, 32)]
        for y, x in points:
            changed[y, x] = top if base[y, x] < 2048 else 0
        diff = np.any(debayer(base) != debayer(changed), axis=2)
        for y, x in points:
            ys, xs = np.nonzero(diff[y - 15:y + 16, x - 15:x + 16])
            farthest = max(farthest, int(np.max(np.maximum(abs(ys - 15), abs(xs - 15)))))
    assert farthest == reach


def test_reach_of_every_algorithm():
    assert [opix.demosaic_reach(a) for a in ALGORITHMS] == [2, 6, 13, 3]
    assert opix.demosaic_reach("binning_4x4") == 0
    with pytest.raises(ValueError):
        opix.demosaic_reach("AMAZE")


# ------------------------------------------------------------------ arrays


def chunkings(h, w):
    # Odd-sized, 1-row and tiny, one chunk, and a mix around the minimum block.
    return [(37, 53), ((1,) * h, 7), (h, w), ((63, 1, 65, h - 129), (w - 3, 3))]


@pytest.mark.parametrize("bits", [8, 16])
@pytest.mark.parametrize("algorithm", ALGORITHMS)
def test_array_equals_one_call(algorithm, bits):
    if algorithm == "L7" and bits == 8:
        bits = 12  # L7 has no 8-bit kernel; see test_array_refuses_bad_input
    h, w = 200, 182
    with dask.config.set(scheduler="synchronous"):
        for k, pattern in enumerate(PATTERNS):
            mosaic = mosaic_of(h, w, bits, seed=k)
            whole = opix.demosaic(mosaic, pattern=pattern, algorithm=algorithm, bits=bits_arg(bits))
            for chunks in chunkings(h, w):
                x = da.from_array(mosaic, chunks=chunks)
                result = odask.demosaic_array(x, pattern=pattern, algorithm=algorithm, bits=bits_arg(bits))
                assert result.shape == whole.shape and result.dtype == whole.dtype
                assert all(c % 2 == 0 for c in result.chunks[0][:-1] + result.chunks[1][:-1])
                np.testing.assert_array_equal(result.compute(), whole, err_msg=f"{pattern} {chunks}")


@pytest.mark.parametrize("algorithm", ALGORITHMS)
def test_less_overlap_than_the_reach_differs(algorithm):
    """The guard on the declared reach: the largest even overlap below it
    (which keeps the Bayer phase) gives other samples somewhere."""
    reach = opix.demosaic_reach(algorithm)
    depth = (reach - 1) // 2 * 2
    mosaic = mosaic_of(256, 256, 12, seed=3)
    whole = opix.demosaic(mosaic, algorithm=algorithm, bits=12)
    x = da.from_array(mosaic, chunks=(64, 64))
    with dask.config.set(scheduler="synchronous"):
        short = odask.demosaic_array(x, algorithm=algorithm, bits=12, _depth=depth).compute()
    assert np.any(short != whole)


@pytest.mark.parametrize("algorithm,factor", [("binning_2x2", 2), ("binning_4x4", 4), ("binning_8x8", 8)])
def test_binned_array_equals_one_call(algorithm, factor):
    h, w = 203, 250  # leftover rows and columns are dropped, as in one call
    with dask.config.set(scheduler="synchronous"):
        for bits in (8, 12):
            mosaic = mosaic_of(h, w, bits)
            whole = opix.demosaic(mosaic, pattern="GBRG", algorithm=algorithm, bits=bits_arg(bits))
            for chunks in [(37, 53), ((1,) * h, 7), (h, w)]:
                result = odask.demosaic_array(da.from_array(mosaic, chunks=chunks), pattern="GBRG",
                                              algorithm=algorithm, bits=bits_arg(bits))
                assert result.shape == whole.shape
                np.testing.assert_array_equal(result.compute(), whole)


def test_array_refuses_bad_input():
    good = da.zeros((128, 128), dtype=np.uint16, chunks=64)
    with pytest.raises(ValueError, match="2-D"):
        odask.demosaic_array(da.zeros((64, 64, 3), dtype=np.uint8))
    with pytest.raises(ValueError, match="uint8 or uint16"):
        odask.demosaic_array(da.zeros((64, 64), dtype=np.float32))
    with pytest.raises(ValueError, match="even width"):
        odask.demosaic_array(da.zeros((128, 129), dtype=np.uint16), algorithm="MG")
    with pytest.raises(ValueError, match="not recognized"):
        odask.demosaic_array(good, algorithm="AMAZE")
    with pytest.raises(ValueError, match="not recognized"):
        odask.demosaic_array(good, pattern="RGBG")
    with pytest.raises(ValueError, match="bits"):
        odask.demosaic_array(good, bits=9)
    # What the SDK refuses comes as its status, as from one call.
    eight = da.zeros((128, 128), dtype=np.uint8, chunks=64)
    with dask.config.set(scheduler="synchronous"), pytest.raises(opix.Error) as e:
        odask.demosaic_array(eight, algorithm="L7").compute()
    assert e.value.status == "OPIX_UNSUPPORTED_FORMAT"


def test_chunk_bounds():
    # Inner boundaries even, no chunk below the minimum, none above the maximum.
    assert odask._bounds((1,) * 300, 300, 2, 64, 1000) == (64, 64, 64, 108)
    assert odask._bounds((333, 333, 334), 1000, 4, 64, 1000) == (332, 332, 336)
    assert odask._bounds((100000,), 100000, 2, 64, 65000) == (50000, 50000)
    assert odask._bounds((30,), 30, 2, 64, 1000) == (30,)


# ------------------------------------------------------------------ files


def test_worker_backend_from_the_environment(monkeypatch):
    monkeypatch.delenv("OPIX_DEVICE", raising=False)
    monkeypatch.delenv("CUDA_VISIBLE_DEVICES", raising=False)
    assert odask.worker_backend() == "auto"
    assert odask.worker_backend("host") == "host"
    monkeypatch.setenv("CUDA_VISIBLE_DEVICES", "3")
    assert odask.worker_backend() == "cuda"
    monkeypatch.setenv("CUDA_VISIBLE_DEVICES", "-1")
    assert odask.worker_backend() == "auto"
    monkeypatch.setenv("OPIX_DEVICE", "1")
    assert odask.worker_backend() == "cuda:1"
    monkeypatch.setenv("OPIX_DEVICE", "cpu")
    assert odask.worker_backend() == "host"


def make_files(folder, count, bad=()):
    """Mosaic files of a few sizes and depths; the indices in `bad` are broken
    in different ways. Returns the paths."""
    paths = []
    for i in range(count):
        path = os.path.join(folder, "f%02d.pgm" % i)
        bits = (8, 12, 16)[i % 3]
        h, w = (96, 128) if i % 2 else (120, 160)
        if i in bad:
            kind = bad.index(i)
            if kind == 0:
                os.mkdir(path)  # not a file
            elif kind == 1:
                with open(path, "wb") as f:  # truncated samples
                    f.write(b"P5\n160 120\n255\n" + bytes(1000))
            else:
                with open(path, "wb") as f:  # not an image
                    f.write(b"hello, not a mosaic\n")
        else:
            write_pgm(path, mosaic_of(h, w, bits, seed=i), (1 << bits) - 1)
        paths.append(path)
    return paths


def program_output(path, folder, ext, *options):
    out = os.path.join(folder, os.path.splitext(os.path.basename(path))[0] + "." + ext)
    done = run_program("-i", path, "-o", out, *options)
    return done, out


@needs_program
def test_files_locally_equal_the_program(tmp_path):
    """Every colour file type, a 10-bit mosaic (widened as the program does)
    and a failure, on dask's local scheduler."""
    src, mine, theirs = tmp_path / "in", tmp_path / "mine", tmp_path / "program"
    for d in (src, mine, theirs):
        d.mkdir()
    paths = []
    for name, bits in (("ten", 10), ("twelve", 12), ("eight", 8)):
        p = str(src / (name + ".pgm"))
        write_pgm(p, mosaic_of(70, 90, bits), (1 << bits) - 1)
        paths.append(p)
    for ext in ("bmp", "ppm", "png", "tif"):
        records = odask.demosaic_files(paths, mine / ext, pattern="BGGR", algorithm="HQLI", output=ext)
        for path, record in zip(paths, records):
            done, out = program_output(path, str(theirs), ext, "-type", "HQLI", "-pattern", "BGGR")
            assert done.returncode == 0, done.stderr
            assert record.ok and record.message == "", record
            with open(record.output, "rb") as a, open(out, "rb") as b:
                assert a.read() == b.read(), (ext, path)
    # An odd width for MG: the program's lines.
    odd = str(src / "odd.pgm")
    write_pgm(odd, mosaic_of(70, 91, 12), 4095)
    records = odask.demosaic_files([odd], mine / "mg", algorithm="MG", output="tif")
    done, _ = program_output(odd, str(theirs), "tif", "-type", "MG")
    assert done.returncode != 0
    assert records[0].status == "OPIX_INVALID_SIZE"
    assert records[0].message == done.stderr.strip()
    assert records[0].output is None and not os.listdir(mine / "mg")


@needs_program
def test_white_balance_equals_the_program(tmp_path):
    """Gains on the mosaic ahead of the demosaic, as -R -G1 -G2 -B place them:
    at every depth (10 bits widened first, 12 bits binned at 16), the
    program's bytes; the chain is kept per set of gains."""
    src, mine, theirs = tmp_path / "in", tmp_path / "mine", tmp_path / "program"
    for d in (src, mine, theirs):
        d.mkdir()
    gains = (1.7, 0.9, 1.1, 2.3)
    for bits, algorithm in ((8, "DFPD"), (10, "HQLI"), (12, "BINNING_2X2"), (16, "MG")):
        p = str(src / ("m%d.pgm" % bits))
        write_pgm(p, mosaic_of(66, 100, bits, seed=bits), (1 << bits) - 1)
        created = odask._chains_created()
        record, = odask.demosaic_files([p], mine / str(bits), pattern="GRBG", algorithm=algorithm, output="tif",
                                       white_balance=gains)
        again, = odask.demosaic_files([p], mine / (str(bits) + "b"), pattern="GRBG", algorithm=algorithm,
                                      output="tif", white_balance=gains)
        plain, = odask.demosaic_files([p], mine / (str(bits) + "c"), pattern="GRBG", algorithm=algorithm,
                                      output="tif")
        assert odask._chains_created() <= created + 2
        done, out = program_output(p, str(theirs), "tif", "-type", algorithm, "-pattern", "GRBG", "-R", "1.7",
                                   "-G1", "0.9", "-G2", "1.1", "-B", "2.3")
        assert done.returncode == 0, done.stderr
        assert record.ok and again.ok and plain.ok, (record, again, plain)
        with open(record.output, "rb") as a, open(out, "rb") as b, open(again.output, "rb") as c:
            mine_bytes = a.read()
            assert mine_bytes == b.read() == c.read(), (bits, algorithm)
        with open(plain.output, "rb") as a:
            assert a.read() != mine_bytes


def test_files_refuse_bad_arguments(tmp_path):
    with pytest.raises(ValueError, match="output"):
        odask.demosaic_files(["a.pgm"], tmp_path, output="jpg")
    with pytest.raises(ValueError, match="both be written"):
        odask.demosaic_files(["x/a.pgm", "y/a.pgm"], tmp_path)
    with pytest.raises(ValueError, match="Unknown chain options"):
        odask.demosaic_files(["a.pgm"], tmp_path, gamma=2)
    for gains in ((1, 1, 1), (1, -1, 1, 1), (1, float("nan"), 1, 1), "gain"):
        with pytest.raises(ValueError, match="white_balance"):
            odask.demosaic_files(["a.pgm"], tmp_path, white_balance=gains)


@pytest.fixture(scope="module")
def cluster():
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      silence_logs=40) as c, Client(c) as client:
        yield client


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def written(folder):
    return [n for n in os.listdir(folder) if n.endswith(".ppm")] if os.path.isdir(folder) else []


def leftovers(folder):
    return [n for n in os.listdir(folder) if n.startswith(".")]


@needs_program
def test_batch_on_the_cluster(cluster, tmp_path):
    src, mine, theirs = tmp_path / "in", tmp_path / "mine", tmp_path / "program"
    for d in (src, theirs):
        d.mkdir()
    bad = (5, 17, 33)
    paths = make_files(str(src), 40, bad)
    records = odask.demosaic_files(paths, mine, pattern="GRBG", algorithm="DFPD", output="tif", client=cluster)
    assert [r.input for r in records] == paths
    failed = [r for r in records if not r.ok]
    assert [r.input for r in failed] == [paths[i] for i in bad]
    for r in failed:
        done, _ = program_output(r.input, str(theirs), "tif", "-type", "DFPD", "-pattern", "GRBG")
        assert done.returncode != 0
        assert r.output is None and r.message == done.stderr.strip() and r.status.startswith("OPIX_")
    for r in records:
        if r.ok:
            done, out = program_output(r.input, str(theirs), "tif", "-type", "DFPD", "-pattern", "GRBG")
            assert done.returncode == 0 and same_bytes(r.output, out), r.input
            assert r.seconds > 0
    assert sorted(os.listdir(mine)) == sorted(os.path.basename(r.output) for r in records if r.ok)
    # Six kinds of file (two sizes, three depths): each worker builds at most
    # one chain per kind, not one per file.
    built = cluster.run(odask._chains_created)
    assert 0 < sum(built.values()) <= 12


def test_killed_worker_loses_nothing(cluster, tmp_path):
    src, mine = tmp_path / "in", tmp_path / "mine"
    src.mkdir()
    paths = []
    for i in range(24):
        p = str(src / ("k%02d.pgm" % i))
        write_pgm(p, mosaic_of(1080, 1440, 8, seed=i), 255)
        paths.append(p)
    pids = list(cluster.run(os.getpid).values())
    result = {}
    batch = threading.Thread(target=lambda: result.update(records=odask.demosaic_files(
        paths, mine, algorithm="DFPD", output="ppm", client=cluster)))
    batch.start()
    deadline = time.time() + 120
    while time.time() < deadline and len(written(mine)) < 2:
        time.sleep(0.02)
    done_before = len(written(mine))
    assert batch.is_alive() and 2 <= done_before < len(paths)
    os.kill(pids[0], signal.SIGKILL)
    batch.join(timeout=300)
    assert not batch.is_alive()
    # The nanny put a fresh process in place of the killed one.
    assert pids[0] not in cluster.run(os.getpid).values()
    records = result["records"]
    assert all(r.ok for r in records), [r for r in records if not r.ok]
    for r in records:
        got = opix.read_image(r.output)[0]
        np.testing.assert_array_equal(got, opix.demosaic(opix.read_image(r.input)[0], algorithm="DFPD"))
    assert leftovers(mine) == []
    cluster.wait_for_workers(2, timeout=60)


def test_array_on_the_cluster(cluster):
    mosaic = mosaic_of(4000, 6000, 12, seed=11)
    whole = opix.demosaic(mosaic, pattern="BGGR", algorithm="DFPD", bits=12)
    x = da.from_array(mosaic, chunks=(1000, 1000))
    result = odask.demosaic_array(x, pattern="BGGR", algorithm="DFPD", bits=12)
    np.testing.assert_array_equal(cluster.compute(result).result(), whole)
