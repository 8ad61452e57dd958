#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""How far the library's results are from a converged solution of Kepler's
equation, with the whole-radian tolerance most callers pass.

For each eccentricity, mean anomalies on a fine grid over [0, 2pi) go through
trueanomaly_array (tolerance 0, limit 100), and the true anomaly of the
converged eccentric anomaly is computed in double precision (Newton's method
until the step is below 1e-15, then nu = 2 atan2(sqrt(1+e) sin(E/2),
sqrt(1-e) cos(E/2))). The difference, wrapped to (-pi, pi], is what the
whole-radian stopping test leaves: it stops at the first step below one
radian, usually after one or two steps.

    PYTHONPATH=build/python \\
        /usr/bin/python3 tools/accuracy.py [--plot docs/accuracy.png]

Prints a Markdown table (largest |difference| and its mean anomaly, the
median, and how many reached the limit: those are left out) per eccentricity; with --plot writes the difference against M
(needs Debian's python3-matplotlib).
"""
import argparse
import math
import sys

try:
    import numpy as np
except ImportError:
    print("numpy is not installed (Debian: python3-numpy): skipped")
    sys.exit(77)

from trueanomaly import IterationLimitError, trueanomaly_array

ECCENTRICITIES = [0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99]
POINTS = 20001


def converged(mean, e):
    """The true anomaly of the converged eccentric anomaly, in double."""
    E = mean.astype(np.float64).copy()
    if e > 0.8:
        E = np.full_like(E, math.pi)  # a start from which Newton converges for all M
    for _ in range(100):
        step = (E - e * np.sin(E) - mean) / (1.0 - e * np.cos(E))
        E -= step
        if np.max(np.abs(step)) < 1e-15:
            break
    return 2.0 * np.arctan2(math.sqrt(1.0 + e) * np.sin(E / 2), math.sqrt(1.0 - e) * np.cos(E / 2))


def solved(mean, e):
    """The library's results, NaN where the limit is reached (e near 1)."""
    try:
        return trueanomaly_array(mean, e, 100, 0).astype(np.float64)
    except IterationLimitError:
        out = np.empty(mean.shape)
        for i, m in enumerate(mean):
            try:
                out[i] = trueanomaly_array(np.array([m]), e, 100, 0)[0]
            except IterationLimitError:
                out[i] = math.nan
        return out


def wrapped(d):
    return (d + math.pi) % (2 * math.pi) - math.pi


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--plot", help="write a PNG of the difference against M")
    args = parser.parse_args()

    mean = np.linspace(0.0, 2 * math.pi, POINTS, endpoint=False).astype(np.float32)
    mean64 = mean.astype(np.float64)
    rows, curves = [], []
    for e in ECCENTRICITIES:
        ours = solved(mean, np.float32(e))
        # The library works with e as a float: compare on the same orbit.
        exact = converged(mean64, float(np.float32(e)))
        diff = wrapped(ours - exact)
        ok = ~np.isnan(diff)
        worst = int(np.nanargmax(np.abs(diff)))
        rows.append((e, abs(diff[worst]), float(mean[worst]), float(np.median(np.abs(diff[ok]))),
                     int(np.count_nonzero(~ok))))
        curves.append((e, diff))

    print(f"{POINTS} mean anomalies in [0, 2pi) per eccentricity, tolerance 0, limit 100\n")
    print("| e | largest \\|difference\\| (rad) | at M | median \\|difference\\| (rad) | limit reached |")
    print("|---|---|---|---|---|")
    for e, worst, at, median, failed in rows:
        print(f"| {e:g} | {worst:.3g} | {at:.4f} | {median:.3g} | {failed} |")

    if args.plot:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        fig, ax = plt.subplots(figsize=(8, 4.5), dpi=100)
        for e, diff in curves:
            ax.plot(mean64, np.maximum(np.abs(diff), 1e-9), label=f"e = {e:g}", linewidth=0.8)
        ax.set_yscale("log")
        ax.set_xlabel("mean anomaly M (rad)")
        ax.set_ylabel("|result - converged true anomaly| (rad)")
        ax.set_title("libtrueanomaly with tolerance 0, limit 100, against a converged solve")
        ax.set_xlim(0, 2 * math.pi)
        ax.grid(True, which="major", alpha=0.3)
        ax.legend(fontsize=8, ncol=2)
        fig.tight_layout()
        fig.savefig(args.plot, metadata={"Software": None})
        print(f"\nwrote {args.plot}")


if __name__ == "__main__":
    main()
