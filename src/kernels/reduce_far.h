// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see lanes.h).
//
// reduce_far_lanes: x*2/pi modulo 4 of W doubles that each hold a float with
// |x| >= kFarReduceMin = 2^22 (any finite float from there on), as a
// quadrant N in 0..3 and a fraction y of a quarter turn, |y| <= 1/2, with
//   |x*2/pi - 4*j - N - y| < 1.625 * 2^-54 (< 2^-53.29) for some integer j,
// so that sin x = sin(N*pi/2 + y*pi/2) and cos x likewise, up to that error
// times pi/2. sincos_far_lanes (sincos.h) finishes the job.
//
// Method. Such a float is x = m * 2^q with m an integer, 2^23 <= |m| < 2^24
// (x's sign kept in m), and q = (x's exponent) - 23 in [-1, 104]. With
// T_q = (2^q * 2/pi) mod 4, 2^q * 2/pi = 4*K + T_q for an integer K, so
// x*2/pi = 4*K*m + m*T_q: only m*T_q mod 4 matters. T_q is a stretch of
// the binary digits of 2/pi starting at q's position; each lane reads its
// own stretch from the four words below by shifts, as t0 (29 bits) + t1
// (the next 52), with no memory access per lane (a gather from a
// per-exponent table is far slower: docs/performance.md). The products
// m*t0 (exact) and m*t1 then give N and y in a
// few operations whose roundings are bounded in reduce_far_lanes. The bound
// is absolute, as sincos_far_lanes needs: a y near zero (x near a multiple
// of pi/2) is no harder than any other.
#ifndef TRUEANOMALY_KERNELS_REDUCE_FAR_H
#define TRUEANOMALY_KERNELS_REDUCE_FAR_H

#include "lanes.h"

namespace trueanomaly_detail {
namespace {

// Smallest |x| of the domain: the floats in [2^22, 2^23) are m * 2^-1, row
// a = 0. Every larger finite float has a row, up to a = 105.
constexpr double kFarReduceMin = 0x1p22;

// S = kTwoOverPiBits[0..3], most significant bit first: three zero bits, then the
// first 253 bits of 2/pi after the binary point. Bit j of S has weight 2^(q + 2 - j)
// in T_q = (2^q * 2/pi) mod 4, so for row a = q + 1 (q = -1 .. 104) the 29 bits
// a .. a+28 are t0 and the 52 bits a+29 .. a+80 are t1, and T_q - t0 - t1 is in [0, 2^-79).
// Printed by tools/far_reduction_table.py (mpmath at 600 bits; every row checked in exact
// rationals).
constexpr uint64_t kTwoOverPiBits[4] = {
    0x145f306dc9c882a5,
    0x3f84eafa3ea69bb8,
    0x1b6c52b327887208,
    0x3fca2c757bd778ac,
};


// Derivation of the bound (x in the domain; m, q, T_q as above).
//   m: x's sign and fraction bits under the exponent of 2^23. x is a float,
//   so its fraction has 23 bits and m = +-2^23 * (1.fraction) is an integer,
//   2^23 <= |m| < 2^24; and m * 2^q = x with a = q + 1 = biased exponent - 1045.
//   t0, t1: bits a .. a+63 and a+64 .. a+127 of S are hi and lo (a <= 105,
//   so they lie in words w, w+1, w+2 with w = a / 64 = 0 or 1; a shift by
//   64 - (a mod 64) is taken in two steps, as no lane may shift by 64).
//   t0 = (hi's top 29 bits) * 2^-27 and t1 = (the next 52) * 2^-79, each
//   made exactly from its integer v < 2^52 as the double with v for fraction
//   and 2^(52-k) for exponent, minus 2^(52-k): 0 <= t0 < 4, 0 <= t1 < 2^-27
//   and 0 <= T_q - t0 - t1 < 2^-79 (checked by the script, every row).
//   p0 = m*t0 is exact (24 + 29 significant bits <= 53), a multiple of 2^-27
//   with |p0| < 2^24 * 4 = 2^26. n0 = round(p0) by kRoundShifter
//   (|p0| < 2^51), and r0 = p0 - n0 is exact: a multiple of 2^-27 with
//   |r0| <= 1/2 (fused or not, as p0 is exact).
//   s = r0 + m*t1: |m*t1| < 2^24 * 2^-27 = 2^-3, so |s| < 5/8 + 2^-54 < 1
//   and s rounds once by at most 2^-54 (half an ulp below 1), plus 2^-57
//   for m*t1 where mul_add is not fused (half an ulp below 2^-3).
//   n1 = round(s) is -1, 0 or 1, and y = s - n1 is exact (for n1 = +-1,
//   1/2 <= |s| <= 1: Sterbenz), |y| <= 1/2.
//   So m*T_q - (n0 + n1 + y) = m*(T_q - t0 - t1) + (r0 + m*t1 - s), at most
//   2^24 * 2^-79 + 2^-54 + 2^-57 = 1.625 * 2^-54 in magnitude.
//   N = (n0 + n1) mod 4 from the low bits of the two shifted sums.
// Outside the domain (|x| < 2^22 or not a float, infinite, NaN): m is still
// a finite double below 2^24 in magnitude, every shift count stays in
// 0..63 and nothing is read from memory per lane, so every value is finite
// and meaningless; nothing traps.
template <int W>
__attribute__((always_inline)) inline void reduce_far_lanes(typename Lanes<W>::Doubles x,
                                                            typename Lanes<W>::Doubles *y,
                                                            typename Lanes<W>::Int64s *quadrant) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Int64s L;
  typedef typename Lanes<W>::UInt64s U;
  const U bits = same_bits<U>(x);
  const D m = same_bits<D>((bits & 0x800fffffffffffffu) | (uint64_t{1023 + 23} << 52));
  const U exponent = (bits >> 52) & 0x7ff;
  const U shift = (exponent - (1023 + 22)) & 63;  // a mod 64
  const L upper = same_bits<L>(exponent) >= 1023 + 22 + 64;  // a >= 64: w = 1
  const auto word = [upper](int k) {  // word w + k of S
    return upper ? splat<U>(kTwoOverPiBits[k + 1]) : splat<U>(kTwoOverPiBits[k]);
  };
  const U w0 = word(0), w1 = word(1), w2 = word(2);
  const U back = 63 - shift;  // x >> (64 - shift) as (x >> 1) >> back
  const U hi = (w0 << shift) | ((w1 >> 1) >> back);
  const U lo = (w1 << shift) | ((w2 >> 1) >> back);
  const U v0 = hi >> 35;                           // 29 bits
  const U v1 = ((hi << 29) >> 12) | (lo >> 47);    // the next 52
  const D t0 = same_bits<D>(v0 | (uint64_t{1075 - 27} << 52)) - 0x1p25;
  const D t1 = same_bits<D>(v1 | (uint64_t{1075 - 79} << 52)) - 0x1p-27;
  const D u0 = mul_add(m, t0, splat<D>(kRoundShifter));
  const D n0 = u0 - kRoundShifter;
  const D r0 = mul_add(m, t0, -n0);
  const D s = mul_add(m, t1, r0);
  const D u1 = s + kRoundShifter;
  *y = s - (u1 - kRoundShifter);
  // n0 + n1 mod 4, each term's low bits taken first (no overflow).
  *quadrant = ((same_bits<L>(u0) & 3) + (same_bits<L>(u1) & 3)) & 3;
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_KERNELS_REDUCE_FAR_H
