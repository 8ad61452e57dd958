#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The cost of one call from Python on a few elements, against numpy's own
np.sin on the same elements: the ufunc true_anomaly and trueanomaly_array
on 16 and 100 float32 mean anomalies with one eccentricity, limit and
tolerance (Python numbers), as a model-fitting loop calls them. Every case
is timed in the same run, interleaved, and the fastest of the repeats kept;
the ratios are what to read (absolute times move with the machine).

    PYTHONPATH=build/python python3 bench/python_overhead.py [--check]

--check exits with 1 when a ratio is above its bound (2.5 for the ufunc,
4 for trueanomaly_array).
"""

import argparse
import sys
import timeit

import numpy as np

import trueanomaly as ta

BOUNDS = {"true_anomaly": 2.5, "trueanomaly_array": 4.0}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=15)
    parser.add_argument("--number", type=int, default=20000)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    cases = {}
    for n in (16, 100):
        m = np.linspace(0.0, 2 * np.pi, n, dtype=np.float32)
        cases[n, "np.sin"] = lambda m=m: np.sin(m)
        cases[n, "true_anomaly"] = lambda m=m: ta.true_anomaly(m, 0.5, 100, 0)
        cases[n, "trueanomaly_array"] = lambda m=m: ta.trueanomaly_array(m, 0.5, 100, 0)
    best = {key: float("inf") for key in cases}
    for _ in range(args.repeat):  # interleaved: load bursts hit every case alike
        for key, call in cases.items():
            best[key] = min(best[key], timeit.timeit(call, number=args.number) / args.number)
    over = False
    print(f"numpy {np.__version__}, trueanomaly {ta.__version__}")
    for n in (16, 100):
        sin = best[n, "np.sin"]
        print(f"{n:4d} float32 elements: np.sin {sin * 1e6:.3f} us")
        for name, bound in BOUNDS.items():
            ratio = best[n, name] / sin
            over |= ratio > bound
            print(f"     {name:18s} {best[n, name] * 1e6:.3f} us = {ratio:.2f} x np.sin "
                  f"(bound {bound})")
    return 1 if args.check and over else 0


if __name__ == "__main__":
    sys.exit(main())
