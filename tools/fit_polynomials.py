#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Fits the polynomials of the vector sin/cos/atan kernels (src/kernels/sincos.h,
src/kernels/atan2.h, src/kernels/true_anomaly_offset.h) and prints each as the
block those headers hold: its domain, its approximation error and its
coefficients as hex floats; then the four errors as the constants of
src/kernels/error_budget.h, which the kernels' bounds are built from.

The fit is a Chebyshev fit (near-minimax) in z = x^2 done with mpmath at 200
bits; each coefficient is then rounded to double and the error of the rounded
polynomial (evaluated exactly) is measured on a dense grid. Evaluation
rounding in double is bounded separately (docs/exactness.md) and measured
against MPFR by tools/measure_kernels.cpp.

    python3 tools/fit_polynomials.py            # print the blocks
    python3 tools/fit_polynomials.py --check    # exit 1 unless src/kernels/ holds them

--check is a ctest (tools.fit_polynomials); it exits 77 (skipped) without
mpmath (Debian: python3-mpmath).
"""
import math
import os
import sys

try:
    import mpmath as mp
except ImportError:
    print("mpmath is not installed (Debian: python3-mpmath): skipped")
    sys.exit(77)

CHECK = "--check" in sys.argv[1:]
if CHECK:
    import contextlib
    import io
    _printed = io.StringIO()
    _redirect = contextlib.redirect_stdout(_printed)
    _redirect.__enter__()

mp.mp.prec = 200
PIO4 = mp.pi / 4
# Range reduction can leave |r| a hair above pi/4; fit on a slightly wider range.
R = PIO4 + mp.mpf(2) ** -20
T8 = mp.tan(mp.pi / 8) + mp.mpf(2) ** -20


def fit(g, zmax, degree):
    coeffs, _ = mp.chebyfit(g, [mp.mpf(0), zmax], degree + 1, error=True)
    return [float(c) for c in reversed(coeffs)]  # lowest degree first


def horner(cs, z):
    acc = mp.mpf(0)
    for c in reversed(cs):
        acc = acc * z + mp.mpf(c)
    return acc


GRID = 20001


def max_err(approx, exact, lo, hi, n=GRID):
    worst = mp.mpf(0)
    for i in range(n):
        x = lo + (hi - lo) * i / (n - 1)
        if x == 0:
            continue
        worst = max(worst, abs(approx(x) - exact(x)))
    return worst


def show(comment, name, cs, err):
    """Prints the block that src/kernels/ holds: a refit is a paste."""
    for line in comment:
        print(f"// {line}")
    print(f"// Printed by tools/fit_polynomials.py (mpmath, a Chebyshev fit at 200 bits).")
    print(f"constexpr double {name}[{len(cs)}] = {{")
    entries = [f"{c.hex()}," for c in cs]
    width = max(len(e) for e in entries) + 1
    for i, (c, e) in enumerate(zip(cs, entries)):
        print(f"    {e:<{width}}// z^{i}  {c!r}")
    print("};")


def bound_text(err):
    return f"{math.ceil(float(mp.log(err, 2)) * 10) / 10:.1f}"


ERRORS = []  # (constant name, err) for error_budget.h


def error_constant(name, err):
    """2^bound_text(err) as a double no smaller than itself: the constant
    error_budget.h holds."""
    text = bound_text(err)
    value = 2.0 ** float(text)
    if mp.mpf(value) < mp.mpf(2) ** mp.mpf(text):
        value = math.nextafter(value, math.inf)
    ERRORS.append((name, value.hex(), text))


# sin(r) = r + r*z*S(z), z = r^2:  S(z) = (sin(r)/r - 1)/z
S = fit(lambda z: (mp.sin(mp.sqrt(z)) / mp.sqrt(z) - 1) / z if z else mp.mpf(-1) / 6, R * R, 4)
e = max_err(lambda r: r + r * r * r * horner(S, r * r), mp.sin, -R, R)
show(["S(z), z = r^2: sin(r) ~ r + r^3 S(z) on |r| <= pi/4 + 2^-20,",
      f"|r + r^3 S(r^2) - sin(r)| < 2^{bound_text(e)} (largest on a {GRID}-point grid, rounded up),",
      "with the coefficients as rounded to double."],
     "kSinPoly", S, e)
error_constant("kSinPolyError", e)
print()

# cos(r) = 1 - z/2 + z*z*C(z):  C(z) = (cos(r) - 1 + z/2)/z^2
C = fit(lambda z: (mp.cos(mp.sqrt(z)) - 1 + z / 2) / (z * z) if z else mp.mpf(1) / 24, R * R, 4)
e = max_err(lambda r: 1 - r * r / 2 + r ** 4 * horner(C, r * r), mp.cos, -R, R)
show(["C(z), z = r^2: cos(r) ~ 1 - z/2 + z^2 C(z) on |r| <= pi/4 + 2^-20,",
      f"|1 - r^2/2 + r^4 C(r^2) - cos(r)| < 2^{bound_text(e)} (largest on a {GRID}-point grid, rounded up),",
      "with the coefficients as rounded to double."],
     "kCosPoly", C, e)
error_constant("kCosPolyError", e)
print()

# atan(x) = x + x*z*P(z), z = x^2:  P(z) = (atan(x)/x - 1)/z, fitted on
# |x| <= bound; the block as src/kernels/ holds it, with x, P and the range
# written as there.
def atan_block(x, P, range_text, bound, degree, name):
    cs = fit(lambda z: (mp.atan(mp.sqrt(z)) / mp.sqrt(z) - 1) / z if z else mp.mpf(-1) / 3,
             bound * bound, degree)
    e = max_err(lambda u: u + u ** 3 * horner(cs, u * u), mp.atan, -bound, bound)
    show([f"{P}(z), z = {x}^2: atan({x}) ~ {x} + {x}^3 {P}(z) on |{x}| <= {range_text},",
          f"|{x} + {x}^3 {P}({x}^2) - atan({x})| < 2^{bound_text(e)} "
          f"(largest on a {GRID}-point grid, rounded up),",
          "with the coefficients as rounded to double."],
         name, cs, e)
    error_constant(name + "Error", e)


atan_block("u", "A", "tan(pi/8) + 2^-20", T8, 8, "kAtanPoly")
print()

# The offset form's atan (true_anomaly_offset.h): |t| <= 0.45 covers
# |k-1|/(2*sqrt(k)) < 0.4474 for |e| <= 0.7 with room for t's error.
atan_block("t", "B", "0.45", mp.mpf("0.45"), 7, "kAtanOffsetPoly")
print()

width = max(len(f"constexpr double {n} = {v};") for n, v, _ in ERRORS)
for name, value, text in ERRORS:
    print(f"{f'constexpr double {name} = {value};':<{width}}  // 2^{text}")

if CHECK:
    _redirect.__exit__(None, None, None)
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "kernels")
    headers = "".join(open(os.path.join(here, f)).read()
                      for f in ("sincos.h", "atan2.h", "true_anomaly_offset.h", "error_budget.h"))
    blocks = _printed.getvalue().split("\n\n")
    missing = [b for b in blocks if b.strip() not in headers]
    for block in missing:
        print("src/kernels/ does not hold this block:\n" + block)
    print(f"{len(blocks) - len(missing)} of {len(blocks)} blocks match src/kernels/")
    sys.exit(1 if missing else 0)
