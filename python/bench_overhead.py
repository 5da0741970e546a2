#!/usr/bin/env python3
"""What the Python module adds to a demosaic: a 4K (3840 x 2160) uint16 frame
through opix.Debayer, against the same chain on the C interface
(opix_chain_bench), on the same backend and with the same pageable memory.

    PYTHONPATH=build/python python3 python/bench_overhead.py [--program build/bin/opix_chain_bench]
        [--width 3840] [--height 2160] [--bits 12] [--algorithm DFPD] [--runs 30]

Prints both medians and the overhead in percent; the module's budget is 10 %.
Exits 1 when the overhead is above --limit (default 10).
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

import numpy as np

import opix


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--program", default=os.path.join(here, "..", "build", "bin", "opix_chain_bench"))
    p.add_argument("--width", type=int, default=3840)
    p.add_argument("--height", type=int, default=2160)
    p.add_argument("--bits", type=int, default=12, choices=(12, 16))
    p.add_argument("--algorithm", default="DFPD", choices=("DFPD", "HQLI", "L7"))
    p.add_argument("--runs", type=int, default=30)
    p.add_argument("--limit", type=float, default=10.0)
    a = p.parse_args()

    backend = opix.backend()
    rng = np.random.default_rng(1)
    frame = rng.integers(0, 1 << a.bits, size=(a.height, a.width), dtype=np.uint16)
    out = np.empty((a.height, a.width, 3), np.uint16)
    debayer = opix.Debayer(a.width, a.height, dtype=np.uint16, bits=a.bits, algorithm=a.algorithm)
    times = []
    for r in range(a.runs + 3):
        start = time.perf_counter()
        debayer(frame, out=out)
        if r >= 3:
            times.append((time.perf_counter() - start) * 1e3)
    python_ms = statistics.median(times)

    done = subprocess.run([a.program, str(a.width), str(a.height), str(a.bits), a.algorithm, str(a.runs), backend],
                          capture_output=True, text=True, check=True)
    c_ms = float(re.search(r"median ([0-9.]+) ms", done.stdout).group(1))
    overhead = (python_ms / c_ms - 1.0) * 100.0
    print(f"{a.width} x {a.height} uint16 ({a.bits} bits) {a.algorithm} on the {backend} backend, "
          f"median of {a.runs}:")
    print(f"  C interface  {c_ms:9.3f} ms")
    print(f"  Python       {python_ms:9.3f} ms   overhead {overhead:+.1f} % (budget {a.limit:.0f} %)")
    return 0 if overhead <= a.limit else 1


if __name__ == "__main__":
    sys.exit(main())
