"""Throughput of opix.dask on this machine's host backend.

    PYTHONPATH=build/python python3 python/bench_dask.py [--files 200] [--program build/bin/opix_debayer]

1. files per second of demosaic_files for N files of 1920 x 1080 (8-bit PGM,
   DFPD, TIFF out) on a LocalCluster of 1 and of 2 worker processes (one
   thread each), and of opix_debayer's own batch on the same files;
2. demosaic_array of a 6000 x 4000 12-bit mosaic in 1000 x 1000 chunks
   against one opix.demosaic call: on dask's synchronous scheduler (the
   overhead of blocks and overlaps alone), its threads, and the 2-worker
   cluster (transfers between processes included).
Each figure is the best of --repeat runs.
"""
import argparse
import os
import shutil
import subprocess
import tempfile
import time

import numpy as np

import opix
import opix.dask as odask
import dask
import dask.array as da
from distributed import Client, LocalCluster


def best(repeat, run):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def write_pgm(path, mosaic):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (mosaic.shape[1], mosaic.shape[0]))
        f.write(mosaic.tobytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--program", default=os.environ.get("OPIX_DEBAYER", "build/bin/opix_debayer"))
    args = parser.parse_args()
    rng = np.random.default_rng(0)
    work = tempfile.mkdtemp(prefix="opix-bench-dask-")
    try:
        src = os.path.join(work, "in")
        os.mkdir(src)
        paths = []
        for i in range(args.files):
            p = os.path.join(src, "f%04d.pgm" % i)
            write_pgm(p, rng.integers(0, 256, (1080, 1920), dtype=np.uint8))
            paths.append(p)
        print("%d files of 1920 x 1080, 8-bit PGM, DFPD, TIFF out, host backend" % args.files)
        if os.path.exists(args.program):
            out = os.path.join(work, "program")
            os.mkdir(out)
            t = best(args.repeat, lambda: subprocess.run(
                [args.program, "-cpu", "-if", os.path.join(src, "*.pgm"), "-o", os.path.join(out, "*.tif"),
                 "-maxWidth", "1920", "-maxHeight", "1080", "-type", "DFPD"], check=True, capture_output=True))
            print("  opix_debayer batch:        %6.1f files/s" % (args.files / t))
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                              silence_logs=40) as cluster, Client(cluster) as client:
                out = os.path.join(work, "out%d" % workers)
                # The first run builds the workers' chains; it counts like any other.
                t = best(args.repeat, lambda: odask.demosaic_files(paths, out, algorithm="DFPD", client=client))
                print("  demosaic_files, %d worker%s: %6.1f files/s" % (workers, "s" if workers > 1 else " ",
                                                                      args.files / t))
        shutil.rmtree(src)

        mosaic = rng.integers(0, 4096, (4000, 6000), dtype=np.uint16)
        print("6000 x 4000 12-bit mosaic, DFPD, 1000 x 1000 chunks")
        one = best(args.repeat, lambda: opix.demosaic(mosaic, algorithm="DFPD", bits=12))
        print("  one opix.demosaic call:    %6.3f s" % one)
        x = da.from_array(mosaic, chunks=(1000, 1000))
        rgb = odask.demosaic_array(x, algorithm="DFPD", bits=12)
        for name in ("synchronous", "threads"):
            with dask.config.set(scheduler=name):
                t = best(args.repeat, rgb.compute)
            print("  demosaic_array, %-11s %6.3f s (%+.0f %%)" % (name + ":", t, 100 * (t / one - 1)))
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                          silence_logs=40) as cluster, Client(cluster) as client:
            t = best(args.repeat, lambda: client.compute(rgb).result())
            print("  demosaic_array, 2 workers: %6.3f s (%+.0f %%)" % (t, 100 * (t / one - 1)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
