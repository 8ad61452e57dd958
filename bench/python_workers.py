#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Times trueanomaly_array over 10^7 elements with one worker and with every
CPU, alternately, in one process, and prints the fastest of each and the
ratio; the same for the ufunc with per-element eccentricities against one
eccentricity. Run with the package importable (installed, or
PYTHONPATH=build/python).

    python3 bench/python_workers.py [--size 10000000] [--repeat 7]
"""

import argparse
import os
import time

import numpy as np

import trueanomaly as ta


def fastest(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=10_000_000)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    rng = np.random.default_rng(5)
    m = rng.uniform(0, 2 * np.pi, args.size).astype(np.float32)
    e = rng.uniform(0, 0.9, args.size).astype(np.float32)
    out = np.empty_like(m)
    cpus = os.cpu_count() or 1
    n = args.size
    cases = {
        "one orbit e=0.5, 1 worker": lambda: ta.trueanomaly_array(m, 0.5, 100, 0, out=out),
        f"one orbit e=0.5, {cpus} workers": lambda: ta.trueanomaly_array(m, 0.5, 100, 0, out=out,
                                                                       workers=-1),
        "per element, 1 worker": lambda: ta.trueanomaly_array(m, e, 100, 0, out=out),
        f"per element, {cpus} workers": lambda: ta.trueanomaly_array(m, e, 100, 0, out=out,
                                                                   workers=-1),
        "ufunc per element": lambda: ta.true_anomaly(m, e, 100, 0, out=out),
        "ufunc one orbit e=0.9": lambda: ta.true_anomaly(m, np.float32(0.9), 100, 0, out=out),
    }
    times = {name: float("inf") for name in cases}
    for _ in range(args.repeat):  # interleaved: load bursts hit every case alike
        for name, fn in cases.items():
            times[name] = min(times[name], fastest(fn, 1))
    for name, t in times.items():
        print(f"{name:32s} {t * 1e9 / n:6.2f} ns per element")
    one, many = times["per element, 1 worker"], times[f"per element, {cpus} workers"]
    print(f"{cpus} workers / 1 worker (per element): {one / many:.2f}x")
    one, many = times["one orbit e=0.5, 1 worker"], times[f"one orbit e=0.5, {cpus} workers"]
    print(f"{cpus} workers / 1 worker (one orbit): {one / many:.2f}x")


if __name__ == "__main__":
    main()
