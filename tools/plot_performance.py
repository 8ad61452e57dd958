#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The performance plot of docs/performance.md and the README: nanoseconds
per element against the eccentricity, for the libm loop, the scalar entry,
the array entry and each array path, from one run of the benchmark.

    build/bench/trueanomaly_bench --benchmark_out=bench.json \\
        --benchmark_out_format=json
    /usr/bin/python3 tools/plot_performance.py bench.json \\
        --plot docs/performance.png [--size 1048576]

Reads the fastest repetition of each case (the "_min" rows the benchmark
adds), prints the figures as a Markdown table with the speed-up against the
libm loop, and with --plot draws them (needs Debian's python3-matplotlib).
Exit status 1 if the file holds no figures for the size asked.
"""
import argparse
import json
import re
import sys

CASE = re.compile(r"^(?P<variant>[a-z0-9_]+)/e:(?P<e>[0-9.]+)/n:(?P<n>[0-9]+)_min$")
LABELS = {
    "libm_loop": "libm loop",
    "scalar_entry": "scalar entry",
    "array_entry": "array entry",
    "path_plain": "plain path",
    "path_avx2": "AVX2 path",
    "path_avx512": "AVX-512 path",
}


def figures(report, size):
    """{variant: {e: ns per element}} of the fastest repetitions at `size`."""
    out = {}
    for b in report.get("benchmarks", []):
        m = CASE.match(b.get("name", ""))
        if not m or int(m["n"]) != size or "ns_per_element" not in b:
            continue
        out.setdefault(m["variant"], {})[float(m["e"])] = float(b["ns_per_element"])
    return out


def table(fig):
    variants = [v for v in LABELS if v in fig] + sorted(v for v in fig if v not in LABELS)
    es = sorted({e for v in fig.values() for e in v})
    base = fig.get("libm_loop", {})
    lines = ["| e | " + " | ".join(LABELS.get(v, v) for v in variants) + " |",
             "|---" * (len(variants) + 1) + "|"]
    for e in es:
        cells = []
        for v in variants:
            ns = fig[v].get(e)
            if ns is None:
                cells.append("-")
            elif v == "libm_loop" or e not in base:
                cells.append(f"{ns:.1f} ns")
            else:
                cells.append(f"{ns:.1f} ns, {base[e] / ns:.1f}×")
        lines.append(f"| {e:.2f} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def plot(fig, context, size, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig_, ax = plt.subplots(figsize=(7.5, 4.5), dpi=110)
    styles = {"libm_loop": ("k", "o", "-"), "scalar_entry": ("tab:gray", "s", "--"),
              "array_entry": ("tab:red", "D", "-"), "path_plain": ("tab:brown", "v", ":"),
              "path_avx2": ("tab:blue", "^", "-."), "path_avx512": ("tab:green", "P", "-.")}
    for v in [v for v in LABELS if v in fig] + sorted(v for v in fig if v not in LABELS):
        pts = fig[v]
        es = sorted(pts)
        color, marker, line = styles.get(v, (None, "x", "-"))
        ax.plot(es, [pts[e] for e in es], marker=marker, linestyle=line, color=color,
                label=LABELS.get(v, v))
    ax.set_yscale("log")
    ax.set_xlabel("eccentricity")
    ax.set_ylabel("ns per element (fastest repetition)")
    cpu = context.get("cpu", "")
    ax.set_title(f"Conversion time, {size} mean anomalies uniform in [0, 2π), "
                 f"limit 100, tolerance 0\n{cpu}".strip(), fontsize=9)
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8, ncol=2)
    fig_.tight_layout()
    fig_.savefig(path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("json", help="the benchmark's --benchmark_out file (JSON)")
    ap.add_argument("--size", type=int, default=1048576, help="array size to show")
    ap.add_argument("--plot", help="write the plot to this PNG file")
    ap.add_argument("--cpu", default="", help="CPU to name in the plot's title")
    args = ap.parse_args()
    with open(args.json) as f:
        report = json.load(f)
    fig = figures(report, args.size)
    if not fig:
        print(f"no fastest-repetition figures for n = {args.size} in {args.json}", file=sys.stderr)
        return 1
    print(table(fig))
    if args.plot:
        context = dict(report.get("context", {}))
        if args.cpu:
            context["cpu"] = args.cpu
        plot(fig, context, args.size, args.plot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
