"""opix on a Dask cluster: many files, and mosaics larger than one call takes.

    demosaic_files(paths, out_dir, pattern=..., algorithm=..., output="tif", client=None, **chain)
        -> a FileRecord per file, in the order of `paths`
    demosaic_array(mosaic, pattern=..., algorithm=..., bits=None, backend=None)
        -> the colour dask array (H, W, 3) of a 2-D dask array

Every worker process keeps its chains (one per size, depth and algorithm)
and reuses them for every file or block of that kind. The SDK in a worker
runs on the device that OPIX_DEVICE (an index) or CUDA_VISIBLE_DEVICES (as
dask-cuda sets it) names, and on the host backend where there is none.

Needs ``dask[array]`` and ``distributed`` (``pip install .[dask]``).
"""

from __future__ import annotations

import collections
import math
import os
import threading
import time
from typing import NamedTuple, Optional

import numpy as np

try:
    import dask
    import dask.array as da
except ImportError as e:  # pragma: no cover - depends on the installation
    raise ImportError("opix.dask needs dask[array] and distributed: pip install opix[dask] (" + str(e) + ")") from e

from . import _opix as _sdk

__all__ = ["FileRecord", "demosaic_files", "demosaic_array", "worker_backend", "OUTPUTS"]

# Colour file types opix_debayer writes, by extension.
OUTPUTS = ("tif", "tiff", "ppm", "bmp", "png")

_PATTERNS = ("RGGB", "BGGR", "GBRG", "GRBG")
_BINNING = {"BINNING_2X2": 2, "BINNING_4X4": 4, "BINNING_8X8": 8}
_CHAIN_OPTIONS = ("width", "height", "bits", "backend", "white_balance")

# The SDK refuses chains below 64 pixels and above 65535; blocks of a mosaic
# keep within that.
_MIN_BLOCK = 64
_MAX_SIZE = 65535

# Status codes of the messages made here (opix.h).
_INVALID_SIZE = 9
_IO_ERROR = 16


class FileRecord(NamedTuple):
    """The outcome of one file: `status` is "OPIX_OK" or the SDK status name,
    `message` what opix_debayer prints for the failure ("" on success),
    `output` the file written (None on failure), `seconds` the worker's time."""

    input: str
    output: Optional[str]
    status: str
    message: str
    seconds: float

    @property
    def ok(self) -> bool:
        return self.status == "OPIX_OK"


# ------------------------------------------------------------------ workers


def worker_backend(backend: Optional[str] = None) -> str:
    """The backend this process runs the SDK on: `backend` when given; else
    "cuda:N" for OPIX_DEVICE=N ("host" for OPIX_DEVICE=host or cpu); else
    "cuda" when CUDA_VISIBLE_DEVICES names a device (dask-cuda gives each
    worker its own); else "auto" (a GPU when there is one, the host backend
    otherwise)."""
    if backend:
        return backend
    device = os.environ.get("OPIX_DEVICE", "").strip()
    if device:
        if device.lower() in ("host", "cpu"):
            return "host"
        return "cuda:" + device
    visible = os.environ.get("CUDA_VISIBLE_DEVICES")
    if visible is not None and visible.strip() and not visible.strip().startswith("-"):
        return "cuda"
    return "auto"


class _Chains:
    """The chains of this process, the most recently used kept (each holds
    device memory for its size)."""

    KEEP = 8

    def __init__(self):
        self._lock = threading.Lock()
        self._chains = collections.OrderedDict()
        self.created = 0

    def get(self, width, height, dtype, pattern, algorithm, bits, backend, white_balance=None):
        gains = None if white_balance is None else tuple(float(g) for g in white_balance)
        key = (width, height, np.dtype(dtype).str, pattern.upper(), algorithm.upper(), bits, backend, gains)
        with self._lock:
            chain = self._chains.get(key)
            if chain is not None:
                self._chains.move_to_end(key)
                return chain
        chain = _sdk.Debayer(width, height, dtype=dtype, pattern=pattern, algorithm=algorithm, bits=bits,
                             backend=backend, white_balance=gains)
        with self._lock:
            self._chains[key] = chain
            self.created += 1
            while len(self._chains) > self.KEEP:
                self._chains.popitem(last=False)
        return chain


_chains = _Chains()


def _chains_created():
    """Chains this process has built (for tests and diagnostics)."""
    return _chains.created


# -------------------------------------------------------------------- files


def _chain_bits(bits):
    """The depth a mosaic is demosaiced at in opix_debayer's chain."""
    return 8 if bits <= 8 else 12 if bits <= 12 else 16


def _failed(path, status_name, message, start):
    return FileRecord(path, None, status_name, message, time.perf_counter() - start)


def _status_name(code):
    return {_INVALID_SIZE: "OPIX_INVALID_SIZE", _IO_ERROR: "OPIX_IO_ERROR"}[code]


def _type_word(kind):
    """The algorithm's name as opix_debayer's messages write it."""
    return "MG" if kind in ("MG", "MG2", "MG_V2") else kind.lower()


def _program_failure(path, line, code, start):
    """A failure opix_debayer reports with a line of its own and the text of
    its status."""
    return _failed(path, _status_name(code), line + "\n" + _sdk.status_message(code), start)


def _demosaic_file(path, out_path, pattern, algorithm, options):
    """One file as opix_debayer does it: read, demosaic, write atomically.
    Never raises for a bad file: the record says what went wrong."""
    start = time.perf_counter()
    try:
        try:
            same = os.path.samefile(path, out_path)
        except OSError:
            same = False
        if same:
            return _failed(path, "OPIX_IO_ERROR", "Output file must not be the input file", start)
        backend = worker_backend(options.get("backend"))
        _sdk.backend(backend)  # the readers' page-locked buffers need the SDK's backend
        try:
            mosaic, bits = _sdk.read_image(path, options.get("width", 0), options.get("height", 0),
                                           options.get("bits", 0))
        except _sdk.FileError as e:
            return _failed(path, e.status, e.message, start)
        if mosaic.ndim != 2:
            return _program_failure(path, "Input file must not be color", _IO_ERROR, start)
        h, w = mosaic.shape
        kind = algorithm.upper()
        scale = _BINNING.get(kind, 1)
        if w < scale or h < scale:
            return _program_failure(path, "Unsupported image size\n%s needs at least %d x %d pixels; the input is %dx%d"
                                    % (_type_word(kind), scale, scale, w, h), _INVALID_SIZE, start)
        if (kind == "MG" or scale != 1) and w % 2:
            return _program_failure(path, "Unsupported image size\n%s needs an even width; the input is %d pixels wide"
                                    % (_type_word(kind), w), _INVALID_SIZE, start)
        # A 10- or 14-bit mosaic is widened to the chain's depth by a left
        # shift, and its result keeps that depth, as in the program.
        depth = _chain_bits(bits)
        if depth != bits:
            mosaic = mosaic << np.uint16(depth - bits)
        chain = _chains.get(w, h, mosaic.dtype, pattern, algorithm, None if depth == 8 else depth, backend,
                            options.get("white_balance"))
        rgb = chain(mosaic)
        out_bits = depth
        if out_path.lower().endswith(".bmp") and depth != 8:
            # BMP holds 8 bits: the program's converter shifts right.
            rgb = (rgb >> np.uint16(depth - 8)).astype(np.uint8)
            out_bits = 8
        written = _sdk.write_image(out_path, rgb, out_bits)
        return FileRecord(path, written, "OPIX_OK", "", time.perf_counter() - start)
    except _sdk.FileError as e:
        return _failed(path, e.status, e.message, start)
    except _sdk.Error as e:
        return _failed(path, e.status, str(e) + "\n" + _sdk.status_message(e.code), start)
    except (ValueError, OSError, MemoryError) as e:
        return _failed(path, "OPIX_UNRECOGNIZED_ERROR", str(e), start)


def _is_stale_temporary(name):
    # The writers' temporaries: ".<target>.opix-<pid>-<n>.tmp".
    tag = name.rfind(".opix-")
    if not name.startswith(".") or tag < 0 or not name.endswith(".tmp"):
        return False
    pid = name[tag + 6:].split("-", 1)[0]
    if not pid.isdigit() or int(pid) == os.getpid():
        return False
    try:
        os.kill(int(pid), 0)
    except ProcessLookupError:
        return True
    except OSError:
        return False
    return False


def _remove_stale_temporaries(folder):
    """Removes the temporaries that writers killed on this host left in
    `folder`; returns how many."""
    removed = 0
    try:
        names = os.listdir(folder)
    except OSError:
        return 0
    for name in names:
        if _is_stale_temporary(name):
            try:
                os.unlink(os.path.join(folder, name))
                removed += 1
            except OSError:
                pass
    return removed


def _output_paths(paths, out_dir, output):
    ext = output.lower().lstrip(".")
    if ext not in OUTPUTS:
        raise ValueError("output must be one of " + ", ".join(OUTPUTS) + ", not " + repr(output))
    outs, seen = [], {}
    for p in paths:
        stem = os.path.splitext(os.path.basename(p))[0]
        if not stem:
            raise ValueError("No output name for input " + repr(p))
        out = os.path.join(out_dir, stem + "." + ext)
        if out in seen:
            raise ValueError("Inputs " + repr(seen[out]) + " and " + repr(p) + " would both be written to " +
                             repr(out))
        seen[out] = p
        outs.append(out)
    return outs


def _check_chain(pattern, algorithm, chain):
    unknown = sorted(set(chain) - set(_CHAIN_OPTIONS))
    if unknown:
        raise ValueError("Unknown chain options " + ", ".join(unknown) + " (" + ", ".join(_CHAIN_OPTIONS) + ")")
    if pattern.upper() not in _PATTERNS:
        raise ValueError("Pattern " + pattern + " was not recognized (RGGB, BGGR, GBRG or GRBG)")
    _sdk.demosaic_reach(algorithm)  # ValueError for an unknown algorithm
    for key in ("width", "height", "bits"):
        if not isinstance(chain.get(key, 0), int) or chain.get(key, 0) < 0:
            raise ValueError(key + " must be a whole number of at least 0")
    gains = chain.get("white_balance")
    if gains is not None:
        try:
            gains = [float(g) for g in gains]
        except (TypeError, ValueError):
            gains = []
        if len(gains) != 4 or not all(math.isfinite(g) and g >= 0 for g in gains):
            raise ValueError("white_balance must be four finite gains of 0 or more: R, G1, G2, B")
        chain["white_balance"] = tuple(gains)


def demosaic_files(paths, out_dir, *, pattern="RGGB", algorithm="DFPD", output="tif", client=None,
                   progress=False, **chain):
    """Demosaics every file of `paths` into `out_dir` (stem + "." + output)
    on the cluster of `client` (default: the current distributed client, or
    dask's local scheduler when there is none) and returns a FileRecord per
    file, in order. A file's bytes are those opix_debayer writes for it with
    the same options; a bad file gets a failed record and the others go on;
    an output appears whole or not at all.

    chain: width, height and bits describe RAW files (-w, -h, -bits);
    white_balance=(R, G1, G2, B) multiplies the mosaic's sites ahead of the
    demosaic (-R -G1 -G2 -B, or -wb_r -wb_g1 -wb_g2 -wb_b); backend
    overrides the worker's (see worker_backend).
    progress: a progress bar (distributed's, or dask.diagnostics' for the
    local scheduler); the dashboard's task stream shows it too."""
    paths = [os.fspath(p) for p in paths]
    out_dir = os.fspath(out_dir)
    _check_chain(pattern, algorithm, chain)
    outs = _output_paths(paths, out_dir, output)
    os.makedirs(out_dir, exist_ok=True)
    if client is None:
        try:
            from distributed import get_client

            client = get_client()
        except (ImportError, ValueError):
            client = None
    if client is None:
        tasks = [dask.delayed(_demosaic_file, pure=False)(p, o, pattern, algorithm, chain)
                 for p, o in zip(paths, outs)]
        if progress:
            from dask.diagnostics import ProgressBar

            with ProgressBar():
                records = list(dask.compute(*tasks))
        else:
            records = list(dask.compute(*tasks))
        _remove_stale_temporaries(out_dir)
        return records
    futures = client.map(_demosaic_file, paths, outs, pattern=pattern, algorithm=algorithm, options=chain,
                         pure=False)
    if progress:
        from distributed import progress as show_progress

        show_progress(futures)
    records = []
    for path, future in zip(paths, futures):
        try:
            records.append(future.result())
        except Exception as e:  # a task that could not finish (its workers kept dying)
            records.append(FileRecord(path, None, "OPIX_UNRECOGNIZED_ERROR", type(e).__name__ + ": " + str(e), 0.0))
    # Writers of workers that died left their temporaries; each host's
    # workers remove those of its own dead processes.
    try:
        client.run(_remove_stale_temporaries, out_dir)
    except Exception:
        pass
    _remove_stale_temporaries(out_dir)
    return records


# -------------------------------------------------------------------- arrays


def _bounds(chunks, total, step, least, most):
    """Chunk sizes along one axis: the inner boundaries of `chunks` moved down
    to multiples of `step`, chunks below `least` merged into a neighbour and
    those above `most` split, every inner boundary a multiple of `step`."""
    cuts, at = [], 0
    for c in chunks[:-1]:
        at += c
        cuts.append(at // step * step)
    kept, last = [], 0
    for b in sorted(set(cuts)):
        if b - last >= least and total - b >= least:
            kept.append(b)
            last = b
    def up(n, d):
        return -(-n // d)

    sizes = []
    for a, b in zip([0] + kept, kept + [total]):
        size = b - a
        piece = up(up(size, up(size, most)), step) * step
        while size > most:
            sizes.append(piece)
            size -= piece
        sizes.append(size)
    return tuple(sizes)


def _normal_name(names, name, what):
    if not isinstance(name, str) or name.upper() not in names:
        raise ValueError(what + " " + str(name) + " was not recognized (" + ", ".join(names) + ")")
    return name.upper()


def _demosaic_block(block, *, margin, max_width, max_height, samples, pattern, algorithm, bits, backend,
                    block_info=None):
    info = block_info[0]
    (row, col), (rows, cols) = info["chunk-location"], info["num-chunks"]
    chain = _chains.get(max_width, max_height, samples, pattern, algorithm, bits, worker_backend(backend))
    rgb = chain(block)
    top = margin if row > 0 else 0
    bottom = margin if row < rows - 1 else 0
    left = margin if col > 0 else 0
    right = margin if col < cols - 1 else 0
    return rgb[top:rgb.shape[0] - bottom, left:rgb.shape[1] - right]


def demosaic_array(mosaic, *, pattern="RGGB", algorithm="DFPD", bits=None, backend=None, _depth=None):
    """The colour image (H, W, 3) of a 2-D Bayer mosaic held in a dask array
    of any size, as a dask array: the samples of opix.demosaic on the whole
    mosaic, computed block by block.

    The mosaic is rechunked where needed so that every inner chunk boundary
    lies on an even row and column (a multiple of the factor for binning),
    no chunk is below 64 samples (unless the whole axis is) and no block
    exceeds the SDK's 65535; blocks overlap by the algorithm's reach
    (opix.demosaic_reach, made even so that every block keeps the mosaic's
    Bayer phase), and the mosaic's own edges keep the SDK's mirrored border.
    Binning types give (H // n, W // n, 3) and need no overlap."""
    if not isinstance(mosaic, da.Array):
        mosaic = da.asarray(mosaic)
    if mosaic.ndim != 2:
        raise ValueError("mosaic must be a 2-D array, not " + str(mosaic.ndim) + "-D")
    dtype = np.dtype(mosaic.dtype)
    if dtype not in (np.dtype(np.uint8), np.dtype(np.uint16)):
        raise ValueError("Samples must be uint8 or uint16, not " + str(dtype))
    if dtype == np.uint8 and bits not in (None, 8):
        raise ValueError("bits must be 8 for uint8 samples, not " + str(bits))
    if dtype == np.uint16 and bits is not None and not (isinstance(bits, int) and 10 <= bits <= 16):
        raise ValueError("bits must be 10 to 16 for uint16 samples, not " + str(bits))
    pattern = _normal_name(_PATTERNS, pattern, "Pattern")
    reach = _sdk.demosaic_reach(algorithm)  # ValueError for an unknown algorithm
    kind = algorithm.upper()
    scale = _BINNING.get(kind, 1)
    h, w = mosaic.shape
    if h == 0 or w == 0:
        raise ValueError("Invalid image dimensions: " + str(w) + " x " + str(h) + " (at least 1 pixel each way)")
    if (kind == "MG" or scale != 1) and w % 2:
        raise ValueError("Unsupported image size: " + ("MG" if kind == "MG" else "binning") +
                         " needs an even width, not " + str(w))
    if w < scale or h < scale:
        raise ValueError("Unsupported image size: " + str(w) + " x " + str(h) + " is smaller than one binning block")
    depth = reach + (reach & 1) if _depth is None else _depth
    step = max(2, scale)
    least = max(_MIN_BLOCK, 2 * depth) // step * step
    most = (_MAX_SIZE - 2 * depth) // step * step
    chunks = (_bounds(mosaic.chunks[0], h, step, least, most), _bounds(mosaic.chunks[1], w, step, least, most))
    if chunks != mosaic.chunks:
        mosaic = mosaic.rechunk(chunks)
    out_chunks = tuple(tuple(c // scale for c in axis) for axis in chunks) + ((3,),)
    grow = lambda axis: max(c for c in axis) + (2 * depth if len(axis) > 1 else 0)  # noqa: E731
    kwargs = dict(margin=depth, max_width=grow(chunks[1]), max_height=grow(chunks[0]), samples=dtype, pattern=pattern,
                  algorithm=algorithm, bits=bits, backend=backend)
    if depth == 0:
        return da.map_blocks(_demosaic_block, mosaic, chunks=out_chunks, new_axis=2, dtype=dtype,
                             meta=np.empty((0, 0, 0), dtype), **kwargs)
    return da.map_overlap(_demosaic_block, mosaic, depth={0: depth, 1: depth}, boundary="none", trim=False,
                          chunks=out_chunks, new_axis=2, dtype=dtype, meta=np.empty((0, 0, 0), dtype), **kwargs)
