// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see lanes.h).
//
// reduce_far_lanes: x*2/pi modulo 4 of W doubles that each hold a float with
// |x| >= kFarReduceMin = 2^22 (any finite float from there on), as a
// quadrant N in 0..3 and a fraction y of a quarter turn, |y| <= 1/2, with
//   |x*2/pi - 4*j - N - y| <= 1.25 * 2^-54 (< 2^-53.67) for some integer j,
// so that sin x = sin(N*pi/2 + y*pi/2) and cos x likewise, up to that error
// times pi/2. sincos_far_lanes (sincos.h) finishes the job.
//
// Method. Such a float is x = m * 2^q with m an integer, 2^23 <= |m| < 2^24
// (x's sign kept in m), and q = (x's exponent) - 23 in [-1, 104]. With
// T_q = (2^q * 2/pi) mod 4, 2^q * 2/pi = 4*K + T_q for an integer K, so
// x*2/pi = 4*K*m + m*T_q: only m*T_q mod 4 matters, and for each q a table
// holds T_q in two parts, t0 + t1 (legend below). The products m*t0 (exact)
// and m*t1 give N and y in a few operations whose roundings are bounded in
// reduce_far_lanes. The bound is absolute, as sincos_far_lanes needs: a y
// near zero (x near a multiple of pi/2) is no harder than any other.
#ifndef TRUEANOMALY_LANES_REDUCE_FAR_H
#define TRUEANOMALY_LANES_REDUCE_FAR_H

#include "lanes.h"

namespace trueanomaly_detail {
namespace {

// Smallest |x| of the domain: the floats in [2^22, 2^23) are m * 2^-1, the
// table's first row. Every larger finite float has a row.
constexpr double kFarReduceMin = 0x1p22;

// kFarT0[q + 1] + kFarT1[q + 1] = T_q = (2^q * 2/pi) mod 4 for q = -1 .. 104,
// within 2^-81:
//   kFarT0: T_q rounded to a multiple of 2^-26, in [0, 4]: at most 28 significant bits;
//   kFarT1: T_q - kFarT0 rounded to double, |kFarT1| <= 2^-27, so its rounding error
//     (and |T_q - kFarT0 - kFarT1|) is at most half an ulp of 2^-28, 2^-81.
// Printed by tools/far_reduction_table.py (mpmath at 600 bits, checked in exact rationals).
alignas(64) constexpr double kFarT0[106] = {
    0x1.45f3070000000p-2, // q = -1
    0x1.45f3070000000p-1, // q = 0
    0x1.45f306c000000p+0, // q = 1
    0x1.45f306e000000p+1, // q = 2
    0x1.17cc1b8000000p+0, // q = 3
    0x1.17cc1b8000000p+1, // q = 4
    0x1.7cc1b70000000p-2, // q = 5
    0x1.7cc1b70000000p-1, // q = 6
    0x1.7cc1b74000000p+0, // q = 7
    0x1.7cc1b72000000p+1, // q = 8
    0x1.f306dc8000000p+0, // q = 9
    0x1.f306dca000000p+1, // q = 10
    0x1.e60db94000000p+1, // q = 11
    0x1.cc1b728000000p+1, // q = 12
    0x1.9836e4e000000p+1, // q = 13
    0x1.306dc9c000000p+1, // q = 14
    0x1.836e4e8000000p-1, // q = 15
    0x1.836e4e4000000p+0, // q = 16
    0x1.836e4e4000000p+1, // q = 17
    0x1.06dc9c8000000p+1, // q = 18
    0x1.b727240000000p-4, // q = 19
    0x1.b727220000000p-3, // q = 20
    0x1.b727220000000p-2, // q = 21
    0x1.b727220000000p-1, // q = 22
    0x1.b727220000000p+0, // q = 23
    0x1.b727220000000p+1, // q = 24
    0x1.6e4e442000000p+1, // q = 25
    0x1.b939104000000p+0, // q = 26
    0x1.b939106000000p+1, // q = 27
    0x1.727220a000000p+1, // q = 28
    0x1.c9c882c000000p+0, // q = 29
    0x1.c9c882a000000p+1, // q = 30
    0x1.9391054000000p+1, // q = 31
    0x1.27220aa000000p+1, // q = 32
    0x1.3910548000000p-1, // q = 33
    0x1.391054c000000p+0, // q = 34
    0x1.391054a000000p+1, // q = 35
    0x1.c882a50000000p-1, // q = 36
    0x1.c882a54000000p+0, // q = 37
    0x1.c882a54000000p+1, // q = 38
    0x1.91054a8000000p+1, // q = 39
    0x1.220a950000000p+1, // q = 40
    0x1.1054a80000000p-1, // q = 41
    0x1.1054a80000000p+0, // q = 42
    0x1.1054a80000000p+1, // q = 43
    0x1.054a7f0000000p-2, // q = 44
    0x1.054a7f0000000p-1, // q = 45
    0x1.054a7f0000000p+0, // q = 46
    0x1.054a7f0000000p+1, // q = 47
    0x1.529fc40000000p-4, // q = 48
    0x1.529fc20000000p-3, // q = 49
    0x1.529fc20000000p-2, // q = 50
    0x1.529fc28000000p-1, // q = 51
    0x1.529fc28000000p+0, // q = 52
    0x1.529fc28000000p+1, // q = 53
    0x1.4a7f09c000000p+0, // q = 54
    0x1.4a7f09e000000p+1, // q = 55
    0x1.29fc274000000p+0, // q = 56
    0x1.29fc276000000p+1, // q = 57
    0x1.4fe13a8000000p-1, // q = 58
    0x1.4fe13ac000000p+0, // q = 59
    0x1.4fe13ac000000p+1, // q = 60
    0x1.3f84eb0000000p+0, // q = 61
    0x1.3f84eb0000000p+1, // q = 62
    0x1.fc27580000000p-1, // q = 63
    0x1.fc2757c000000p+0, // q = 64
    0x1.fc2757e000000p+1, // q = 65
    0x1.f84eafa000000p+1, // q = 66
    0x1.f09d5f4000000p+1, // q = 67
    0x1.e13abe8000000p+1, // q = 68
    0x1.c2757d2000000p+1, // q = 69
    0x1.84eafa4000000p+1, // q = 70
    0x1.09d5f48000000p+1, // q = 71
    0x1.3abe900000000p-3, // q = 72
    0x1.3abe900000000p-2, // q = 73
    0x1.3abe8f8000000p-1, // q = 74
    0x1.3abe8fc000000p+0, // q = 75
    0x1.3abe8fa000000p+1, // q = 76
    0x1.d5f47d8000000p-1, // q = 77
    0x1.d5f47d4000000p+0, // q = 78
    0x1.d5f47d4000000p+1, // q = 79
    0x1.abe8faa000000p+1, // q = 80
    0x1.57d1f54000000p+1, // q = 81
    0x1.5f47d4c000000p+0, // q = 82
    0x1.5f47d4e000000p+1, // q = 83
    0x1.7d1f534000000p+0, // q = 84
    0x1.7d1f534000000p+1, // q = 85
    0x1.f47d4d4000000p+0, // q = 86
    0x1.f47d4d4000000p+1, // q = 87
    0x1.e8fa9a6000000p+1, // q = 88
    0x1.d1f534e000000p+1, // q = 89
    0x1.a3ea69c000000p+1, // q = 90
    0x1.47d4d38000000p+1, // q = 91
    0x1.1f534dc000000p+0, // q = 92
    0x1.1f534de000000p+1, // q = 93
    0x1.f534de0000000p-2, // q = 94
    0x1.f534de0000000p-1, // q = 95
    0x1.f534ddc000000p+0, // q = 96
    0x1.f534ddc000000p+1, // q = 97
    0x1.ea69bb8000000p+1, // q = 98
    0x1.d4d3770000000p+1, // q = 99
    0x1.a9a6ee0000000p+1, // q = 100
    0x1.534ddc0000000p+1, // q = 101
    0x1.4d37704000000p+0, // q = 102
    0x1.4d37704000000p+1, // q = 103
    0x1.34ddc0c000000p+0, // q = 104
};

alignas(64) constexpr double kFarT1[106] = {
    -0x1.1b1bbead603d9p-29, // q = -1
    -0x1.1b1bbead603d9p-28, // q = 0
    0x1.c9c882a53f84fp-28,  // q = 1
    -0x1.b1bbead603d8bp-30, // q = 2
    -0x1.b1bbead603d8bp-29, // q = 3
    -0x1.b1bbead603d8bp-28, // q = 4
    0x1.391054a7f09d6p-29,  // q = 5
    0x1.391054a7f09d6p-28,  // q = 6
    -0x1.8ddf56b01ec54p-28, // q = 7
    0x1.c882a53f84eb0p-29,  // q = 8
    0x1.c882a53f84eb0p-28,  // q = 9
    -0x1.bbead603d8a83p-30, // q = 10
    -0x1.bbead603d8a83p-29, // q = 11
    -0x1.bbead603d8a83p-28, // q = 12
    0x1.1054a7f09d5f4p-29,  // q = 13
    0x1.1054a7f09d5f4p-28,  // q = 14
    -0x1.df56b01ec5417p-28, // q = 15
    0x1.054a7f09d5f48p-30,  // q = 16
    0x1.054a7f09d5f48p-29,  // q = 17
    0x1.054a7f09d5f48p-28,  // q = 18
    -0x1.f56b01ec54170p-28, // q = 19
    0x1.529fc2757d1f5p-32,  // q = 20
    0x1.529fc2757d1f5p-31,  // q = 21
    0x1.529fc2757d1f5p-30,  // q = 22
    0x1.529fc2757d1f5p-29,  // q = 23
    0x1.529fc2757d1f5p-28,  // q = 24
    -0x1.5ac07b1505c16p-28, // q = 25
    0x1.4a7f09d5f47d5p-28,  // q = 26
    -0x1.6b01ec5417056p-28, // q = 27
    0x1.29fc2757d1f53p-28,  // q = 28
    -0x1.ac07b1505c159p-28, // q = 29
    0x1.4fe13abe8fa9ap-29,  // q = 30
    0x1.4fe13abe8fa9ap-28,  // q = 31
    -0x1.603d8a82e0acbp-28, // q = 32
    0x1.3f84eafa3ea6ap-28,  // q = 33
    -0x1.80f62a0b82b2dp-28, // q = 34
    0x1.fc2757d1f534ep-29,  // q = 35
    0x1.fc2757d1f534ep-28,  // q = 36
    -0x1.ec54170565912p-34, // q = 37
    -0x1.ec54170565912p-33, // q = 38
    -0x1.ec54170565912p-32, // q = 39
    -0x1.ec54170565912p-31, // q = 40
    -0x1.ec54170565912p-30, // q = 41
    -0x1.ec54170565912p-29, // q = 42
    -0x1.ec54170565912p-28, // q = 43
    0x1.3abe8fa9a6ee0p-31,  // q = 44
    0x1.3abe8fa9a6ee0p-30,  // q = 45
    0x1.3abe8fa9a6ee0p-29,  // q = 46
    0x1.3abe8fa9a6ee0p-28,  // q = 47
    -0x1.8a82e0acb223fp-28, // q = 48
    0x1.d5f47d4d37703p-29,  // q = 49
    0x1.d5f47d4d37703p-28,  // q = 50
    -0x1.505c1596447e5p-30, // q = 51
    -0x1.505c1596447e5p-29, // q = 52
    -0x1.505c1596447e5p-28, // q = 53
    0x1.5f47d4d377037p-28,  // q = 54
    -0x1.4170565911f92p-28, // q = 55
    0x1.7d1f534ddc0dbp-28,  // q = 56
    -0x1.05c1596447e49p-28, // q = 57
    0x1.f47d4d377036ep-28,  // q = 58
    -0x1.70565911f924fp-32, // q = 59
    -0x1.70565911f924fp-31, // q = 60
    -0x1.70565911f924fp-30, // q = 61
    -0x1.70565911f924fp-29, // q = 62
    -0x1.70565911f924fp-28, // q = 63
    0x1.1f534ddc0db63p-28,  // q = 64
    -0x1.c1596447e493bp-28, // q = 65
    0x1.f534ddc0db629p-30,  // q = 66
    0x1.f534ddc0db629p-29,  // q = 67
    0x1.f534ddc0db629p-28,  // q = 68
    -0x1.596447e493ad5p-32, // q = 69
    -0x1.596447e493ad5p-31, // q = 70
    -0x1.596447e493ad5p-30, // q = 71
    -0x1.596447e493ad5p-29, // q = 72
    -0x1.596447e493ad5p-28, // q = 73
    0x1.4d377036d8a56p-28,  // q = 74
    -0x1.65911f924eb53p-28, // q = 75
    0x1.34ddc0db6295ap-28,  // q = 76
    -0x1.96447e493ad4dp-28, // q = 77
    0x1.a6ee06db14acdp-29,  // q = 78
    0x1.a6ee06db14acdp-28,  // q = 79
    -0x1.6447e493ad4cep-29, // q = 80
    -0x1.6447e493ad4cep-28, // q = 81
    0x1.377036d8a5665p-28,  // q = 82
    -0x1.911f924eb5336p-28, // q = 83
    0x1.bb81b6c52b328p-29,  // q = 84
    0x1.bb81b6c52b328p-28,  // q = 85
    -0x1.11f924eb53362p-29, // q = 86
    -0x1.11f924eb53362p-28, // q = 87
    0x1.dc0db6295993cp-28,  // q = 88
    -0x1.1f924eb53361ep-30, // q = 89
    -0x1.1f924eb53361ep-29, // q = 90
    -0x1.1f924eb53361ep-28, // q = 91
    0x1.c0db6295993c4p-28,  // q = 92
    -0x1.f924eb53361dep-30, // q = 93
    -0x1.f924eb53361dep-29, // q = 94
    -0x1.f924eb53361dep-28, // q = 95
    0x1.b6c52b3278872p-33,  // q = 96
    0x1.b6c52b3278872p-32,  // q = 97
    0x1.b6c52b3278872p-31,  // q = 98
    0x1.b6c52b3278872p-30,  // q = 99
    0x1.b6c52b3278872p-29,  // q = 100
    0x1.b6c52b3278872p-28,  // q = 101
    -0x1.24eb53361de38p-29, // q = 102
    -0x1.24eb53361de38p-28, // q = 103
    0x1.b6295993c4390p-28,  // q = 104
};

constexpr int64_t kFarLastRow = sizeof kFarT0 / sizeof kFarT0[0] - 1;  // q = 104
static_assert(sizeof kFarT0 == sizeof kFarT1, "one t1 for each t0");

// Derivation of the bound (x in the domain; m, q, T_q as above).
//   m: x's sign and fraction bits under the exponent of 2^23. x is a float,
//   so its fraction has 23 bits and m = +-2^23 * (1.fraction) is an integer,
//   2^23 <= |m| < 2^24; and m * 2^q = x with q + 1 = biased exponent - 1045.
//   p0 = m*t0 is exact (24 + 28 significant bits <= 53), a multiple of 2^-26
//   with |p0| < 2^24 * 4 = 2^26. n0 = round(p0) by kRoundShifter
//   (|p0| < 2^51), and r0 = p0 - n0 is exact: a multiple of 2^-26 with
//   |r0| <= 1/2 (fused or not, as p0 is exact).
//   s = r0 + m*t1: |m*t1| < 2^24 * 2^-27 = 2^-3, so |s| < 5/8 + 2^-54 < 1
//   and s rounds once by at most 2^-54 (half an ulp below 1), plus 2^-57
//   for m*t1 where mul_add is not fused (half an ulp below 2^-3).
//   n1 = round(s) is -1, 0 or 1, and y = s - n1 is exact (for n1 = +-1,
//   1/2 <= |s| <= 1: Sterbenz), |y| <= 1/2.
//   So m*T_q - (n0 + n1 + y) = m*(T_q - t0 - t1) + (r0 + m*t1 - s), at most
//   2^24 * 2^-81 + 2^-54 + 2^-57 = 1.25 * 2^-54 in magnitude.
//   N = (n0 + n1) mod 4 from the low bits of the two shifted sums.
// Outside the domain (|x| < 2^22 or not a float, infinite, NaN): m is still
// a finite double below 2^24 in magnitude and the row is clamped into the
// table (a gather reads whatever index a lane holds), so every value is
// finite and meaningless; nothing traps.
template <int W>
__attribute__((always_inline)) inline void reduce_far_lanes(typename Lanes<W>::d x,
                                                            typename Lanes<W>::d *y,
                                                            typename Lanes<W>::l *quadrant) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::l L;
  const L bits = same_bits<L>(x);
  const D m = same_bits<D>((bits & (INT64_MIN | 0x000fffffffffffff)) | (int64_t{1023 + 23} << 52));
  L row = ((bits >> 52) & 0x7ff) - (1023 + 22);  // q + 1
  row = row < 0 ? splat<L>(int64_t{0}) : row;
  row = row > kFarLastRow ? splat<L>(kFarLastRow) : row;
  const D t0 = gather_lanes<D>(kFarT0, row);
  const D t1 = gather_lanes<D>(kFarT1, row);
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

#endif  // TRUEANOMALY_LANES_REDUCE_FAR_H
