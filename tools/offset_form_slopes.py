#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The constants of the wide offset form's error bound
(src/kernels/true_anomaly_offset.h, true_anomaly_offset_wide_lanes), over
|e| <= kVectorMaxE and every h = E/2:

  t      max |K*s*c / D|, D = 1 + K*s^2, K = sqrt((1+e)/(1-e)) - 1 (s = sin h,
         c = cos h): the atan argument before the octant step
  D      min D: how close the denominator comes to 0
  slope  max |K|*(|c*(1 - K*s^2)| + |D*s|) / (D^2 + N^2), N = K*s*c: how far
         s and c, each off by one unit, move the angle atan(N/D)
  K      max |K*s*c| / (D^2 + N^2): how far a relative error of K moves it

on a grid of 403 eccentricities (the ends among them) by 100001 angles h in
[0, pi] (the functions are even or odd in h). The derivation takes the
bounds kOffsetMaxT, kOffsetMinDenominator, kOffsetSlopeSinCos and
kOffsetSlopeK, and kVectorMaxE, from src/kernels/error_budget.h, where this
script reads them; with --check it exits 1 unless the grid's figures lie
within them. Needs numpy (Debian: python3-numpy), else exits 77 (skipped).

    python3 tools/offset_form_slopes.py [--check]
"""
import os
import re
import sys

try:
    import numpy as np
except ImportError:
    print("numpy is not installed (Debian: python3-numpy): skipped")
    sys.exit(77)

BUDGET = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "kernels",
                           "error_budget.h")).read()


def constant(name):
    return float(re.search(rf"constexpr (?:double|float) {name} = ([0-9.e+-]+)f?;", BUDGET).group(1))


E_MAX = float(np.float32(constant("kVectorMaxE")))  # the largest |e| the vector paths take
ASSUMED = {"t": constant("kOffsetMaxT"), "D": constant("kOffsetMinDenominator"),
           "slope": constant("kOffsetSlopeSinCos"), "K": constant("kOffsetSlopeK")}

h = np.linspace(0.0, np.pi, 100001)
s, c = np.sin(h), np.cos(h)
largest_t, smallest_d, largest_slope, largest_k = 0.0, np.inf, 0.0, 0.0
for e in np.concatenate([np.linspace(-E_MAX, E_MAX, 401), [E_MAX, -E_MAX]]):
    K = np.sqrt((1.0 + e) / (1.0 - e)) - 1.0
    D = 1.0 + K * s * s
    N = K * s * c
    slope = abs(K) * (np.abs(c * (1.0 - K * s * s)) + np.abs(D * s)) / (D * D + N * N)
    largest_t = max(largest_t, float(np.max(np.abs(N / D))))
    smallest_d = min(smallest_d, float(np.min(D)))
    largest_slope = max(largest_slope, float(np.max(slope)))
    largest_k = max(largest_k, float(np.max(np.abs(N) / (D * D + N * N))))

print(f"max |t| = {largest_t:.6f} (assumed < {ASSUMED['t']})")
print(f"min D   = {smallest_d:.6f} (assumed >= {ASSUMED['D']})")
print(f"slope   = {largest_slope:.4f} (assumed < {ASSUMED['slope']})")
print(f"K slope = {largest_k:.4f} (assumed < {ASSUMED['K']})")
if "--check" in sys.argv[1:]:
    holds = (largest_t < ASSUMED["t"] and smallest_d >= ASSUMED["D"]
             and largest_slope < ASSUMED["slope"] and largest_k < ASSUMED["K"])
    print("the derivation's constants hold" if holds else "a constant of the derivation fails")
    sys.exit(0 if holds else 1)
