#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Computes the table of the far reduction (src/lanes/reduce_far.h) and prints
it as the block that header holds: for each q = -1 .. 104,

    T_q = (2^q * 2/pi) mod 4 = t0 + t1 + tail,

t0 = T_q rounded to a multiple of 2^-26 (0 <= t0 <= 4, so at most 28
significant bits), t1 = T_q - t0 rounded to double. A float x with
2^22 <= |x| < 2^128 is m * 2^q with m an integer, 2^23 <= |m| < 2^24, and
x * 2/pi = 4*K*m + m*T_q with K an integer, so x * 2/pi mod 4 is m*T_q mod 4.

Every property the header's error bound uses is asserted here, with exact
rational arithmetic on the values as printed: t0 a multiple of 2^-26 in
[0, 4], |t1| <= 2^-27, |T_q - t0 - t1| <= 2^-81.

    python3 tools/far_reduction_table.py            # print the block
    python3 tools/far_reduction_table.py --check    # exit 1 unless src/lanes/ holds it

--check is a ctest (tools.far_reduction_table); it exits 77 (skipped)
without mpmath (Debian: python3-mpmath).
"""
import os
import sys
from fractions import Fraction

try:
    import mpmath as mp
except ImportError:
    print("mpmath is not installed (Debian: python3-mpmath): skipped")
    sys.exit(77)

# 2^104 * 2/pi needs 106 integer bits before the 81 fraction bits used; 600
# bits leave more than 400 to spare.
mp.mp.prec = 600
Q_MIN, Q_MAX = -1, 104


def exact(v):
    """An mpf or a float as an exact fraction."""
    man, exp = mp.mpf(v).man_exp
    return Fraction(int(man)) * Fraction(2) ** int(exp)


def entry(q):
    t = mp.ldexp(2 / mp.pi, q)
    t -= 4 * mp.floor(t / 4)  # exact: a subtraction of a multiple of 4 at 600 bits
    t0 = float(mp.ldexp(mp.nint(mp.ldexp(t, 26)), -26))  # exact: at most 28 bits
    with mp.workprec(53):
        t1 = float(+(t - t0))  # rounded to nearest double
    T, T0, T1 = exact(t), Fraction(t0), Fraction(t1)
    assert (T0 * 2 ** 26).denominator == 1 and 0 <= T0 <= 4, q
    assert abs(T - T0) <= Fraction(1, 2 ** 27), q
    assert abs(T1) <= Fraction(1, 2 ** 27), q
    tail = abs(T - T0 - T1)
    assert tail <= Fraction(1, 2 ** 81), q
    return t0, t1, tail


rows = [entry(q) for q in range(Q_MIN, Q_MAX + 1)]
n = len(rows)


def array(name, values):
    entries = [f"{v.hex()}," for v in values]
    width = max(len(e) for e in entries) + 1
    print(f"alignas(64) constexpr double {name}[{n}] = {{")
    for q, e in zip(range(Q_MIN, Q_MAX + 1), entries):
        print(f"    {e:<{width}}// q = {q}")
    print("};")


out = sys.stdout
if "--check" in sys.argv[1:]:
    import io
    out = io.StringIO()
    sys.stdout = out

print(f"// kFarT0[q + 1] + kFarT1[q + 1] = T_q = (2^q * 2/pi) mod 4 for q = {Q_MIN} .. {Q_MAX},")
print("// within 2^-81:")
print("//   kFarT0: T_q rounded to a multiple of 2^-26, in [0, 4]: at most 28 significant bits;")
print("//   kFarT1: T_q - kFarT0 rounded to double, |kFarT1| <= 2^-27, so its rounding error")
print("//     (and |T_q - kFarT0 - kFarT1|) is at most half an ulp of 2^-28, 2^-81.")
print("// Printed by tools/far_reduction_table.py (mpmath at 600 bits, checked in exact rationals).")
array("kFarT0", [r[0] for r in rows])
print()
array("kFarT1", [r[1] for r in rows])

if out is not sys.__stdout__:
    sys.stdout = sys.__stdout__
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "lanes")
    header = open(os.path.join(here, "reduce_far.h")).read()
    block = out.getvalue().strip()
    if block not in header:
        print("src/lanes/reduce_far.h does not hold this block:\n" + block)
        sys.exit(1)
    worst = max(r[2] for r in rows)
    print(f"src/lanes/reduce_far.h holds the table as printed ({n} entries; "
          f"largest |T_q - t0 - t1| = 2^{float(mp.log(mp.mpf(worst.numerator) / worst.denominator, 2)):.1f})")
