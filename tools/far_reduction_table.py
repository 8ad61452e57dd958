#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Computes the bits of 2/pi that the far reduction (src/kernels/reduce_far.h)
reads and prints them as the block that header holds, then checks, for every
exponent the reduction serves, what its error bound rests on.

A float x with |x| >= 2^22 is m * 2^q with m an integer, 2^23 <= |m| < 2^24,
and q in [-1, 104]; x * 2/pi = 4*K*m + m*T_q with K an integer and
T_q = (2^q * 2/pi) mod 4. The reduction takes T_q from a 256-bit string S:
three zero bits, then the first 253 bits of 2/pi after the binary point, so
bit j of S (j = 0 the most significant) has weight 2^(q + 2 - j) in T_q.
For row a = q + 1 it reads the 29 bits j = a .. a+28 as t0 (a multiple of
2^-27 in [0, 4)) and the 52 bits j = a+29 .. a+80 as t1 (a multiple of
2^-79 in [0, 2^-27)). Asserted here in exact rationals for every q:
t0 + t1 = T_q truncated to a multiple of 2^-79, so 0 <= T_q - t0 - t1 < 2^-79.

    python3 tools/far_reduction_table.py            # print the block
    python3 tools/far_reduction_table.py --check    # exit 1 unless src/kernels/ holds it

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

# 2^104 * 2/pi has 106 integer bits before the 79 fraction bits read; 600
# bits of working precision leave more than 400 to spare.
mp.mp.prec = 600
Q_MIN, Q_MAX = -1, 104
WORDS = 4

S = int(mp.floor(2 / mp.pi * mp.mpf(2) ** (64 * WORDS - 3)))
assert S.bit_length() == 64 * WORDS - 3  # 2/pi in [1/2, 1): three leading zeros
words = [(S >> (64 * (WORDS - 1 - k))) & (2 ** 64 - 1) for k in range(WORDS)]


def window(start, length):
    """Bits start .. start+length-1 of S, as an integer."""
    return (S >> (64 * WORDS - start - length)) & (2 ** length - 1)


def exact(v):
    man, exp = v.man_exp
    return Fraction(int(man)) * Fraction(2) ** int(exp)


for q in range(Q_MIN, Q_MAX + 1):
    a = q + 1
    assert a + 29 + 52 <= 64 * WORDS
    t = mp.ldexp(2 / mp.pi, q)
    T = exact(t - 4 * mp.floor(t / 4))  # exact: 600 bits hold every bit of t
    t0 = Fraction(window(a, 29), 2 ** 27)
    t1 = Fraction(window(a + 29, 52), 2 ** 79)
    assert 0 <= t0 < 4 and 0 <= t1 < Fraction(1, 2 ** 27), q
    assert 0 <= T - t0 - t1 < Fraction(1, 2 ** 79), q
    # The reduction reads at most bits a .. a+127 (two aligned words).
    assert a + 127 < 64 * WORDS, q

out = sys.stdout
if "--check" in sys.argv[1:]:
    import io
    out = io.StringIO()
    sys.stdout = out

print(f"// S = kTwoOverPiBits[0..{WORDS - 1}], most significant bit first: three zero bits, then the")
print(f"// first {64 * WORDS - 3} bits of 2/pi after the binary point. Bit j of S has weight 2^(q + 2 - j)")
print(f"// in T_q = (2^q * 2/pi) mod 4, so for row a = q + 1 (q = {Q_MIN} .. {Q_MAX}) the 29 bits")
print("// a .. a+28 are t0 and the 52 bits a+29 .. a+80 are t1, and T_q - t0 - t1 is in [0, 2^-79).")
print("// Printed by tools/far_reduction_table.py (mpmath at 600 bits; every row checked in exact")
print("// rationals).")
print(f"constexpr uint64_t kTwoOverPiBits[{WORDS}] = {{")
for w in words:
    print(f"    0x{w:016x},")
print("};")

if out is not sys.__stdout__:
    sys.stdout = sys.__stdout__
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "kernels")
    header = open(os.path.join(here, "reduce_far.h")).read()
    block = out.getvalue().strip()
    if block not in header:
        print("src/kernels/reduce_far.h does not hold this block:\n" + block)
        sys.exit(1)
    print(f"src/kernels/reduce_far.h holds the bits of 2/pi as printed; rows q = {Q_MIN} .. {Q_MAX} "
          f"give 0 <= T_q - t0 - t1 < 2^-79")
