#!/usr/bin/env python3
"""Fits the polynomials of the vectorised sin/cos/atan kernels (src/vec_math.h)
and prints them as C hex-float constants with their approximation error.

The fit is a Chebyshev fit (near-minimax) in z = x^2 done with mpmath at 200
bits; each coefficient is then rounded to double and the error of the rounded
polynomial (evaluated exactly) is measured on a dense grid. Evaluation
rounding in double is bounded separately (docs/exactness.md) and measured
against MPFR by tools/measure_kernels.cpp.

    python3 tools/fit_polynomials.py
"""
import mpmath as mp

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


def max_err(approx, exact, lo, hi, n=20001):
    worst = mp.mpf(0)
    for i in range(n):
        x = lo + (hi - lo) * i / (n - 1)
        if x == 0:
            continue
        worst = max(worst, abs(approx(x) - exact(x)))
    return worst


def show(name, cs, err):
    print(f"// {name}: max |error| = 2^{float(mp.log(err, 2)):.1f}")
    for i, c in enumerate(cs):
        print(f"  {c.hex()},  // {c!r} z^{i}")


# sin(r) = r + r*z*S(z), z = r^2:  S(z) = (sin(r)/r - 1)/z
S = fit(lambda z: (mp.sin(mp.sqrt(z)) / mp.sqrt(z) - 1) / z if z else mp.mpf(-1) / 6, R * R, 4)
show("sin on [-pi/4, pi/4]", S, max_err(lambda r: r + r * r * r * horner(S, r * r), mp.sin, -R, R))

# cos(r) = 1 - z/2 + z*z*C(z):  C(z) = (cos(r) - 1 + z/2)/z^2
C = fit(lambda z: (mp.cos(mp.sqrt(z)) - 1 + z / 2) / (z * z) if z else mp.mpf(1) / 24, R * R, 4)
show("cos on [-pi/4, pi/4]", C, max_err(lambda r: 1 - r * r / 2 + r ** 4 * horner(C, r * r), mp.cos, -R, R))

# atan(u) = u + u*z*A(z) on |u| <= tan(pi/8):  A(z) = (atan(u)/u - 1)/z
A = fit(lambda z: (mp.atan(mp.sqrt(z)) / mp.sqrt(z) - 1) / z if z else mp.mpf(-1) / 3, T8 * T8, 8)
show("atan on [-tan(pi/8), tan(pi/8)]", A, max_err(lambda u: u + u ** 3 * horner(A, u * u), mp.atan, -T8, T8))
