// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see lanes.h).
//
// sincos_lanes: sin(x) and cos(x) of W doubles, for |x| <= kReduceMax = 2^22,
// each within kSinCosError = 2^-45.5 of the exact value (absolute); measured
// maximum 2^-46.07 against MPFR (tools/measure_kernels.cpp) and against libm
// at every float input the array paths give it (tests/exhaustive_sincos.cpp).
// sincos_far_lanes: the same for W doubles that each hold a float with
// |x| >= 2^22 (every finite float from there on), within the same bound,
// by the reduction of reduce_far.h; checked the same two ways.
//
// These are not libm and need not agree with it bit for bit: the array
// paths use them with this bound plus a generous one for libm, and decide by
// a rounding test whether libm's values could round differently
// (docs/exactness.md).
#ifndef TRUEANOMALY_KERNELS_SINCOS_H
#define TRUEANOMALY_KERNELS_SINCOS_H

#include "error_budget.h"
#include "lanes.h"
#include "reduce_far.h"

namespace trueanomaly_detail {
namespace {

// Largest |x| the reduction is proven for: k = round(x*2/pi) stays below
// 2^22, so k*kPiOver2Hi is exact (see sincos_lanes).
constexpr double kReduceMax = 0x1p22;

// Bound of both outputs of sincos_lanes on |x| <= kReduceMax and of
// sincos_far_lanes on its domain (derivations at each).
constexpr double kSinCosError = 0x1.6a09e667f3bcdp-46;  // 2^-45.5

// S(z), z = r^2: sin(r) ~ r + r^3 S(z) on |r| <= pi/4 + 2^-20,
// |r + r^3 S(r^2) - sin(r)| < 2^-46.0 (largest on a 20001-point grid, rounded up),
// with the coefficients as rounded to double.
// Printed by tools/fit_polynomials.py (mpmath, a Chebyshev fit at 200 bits).
constexpr double kSinPoly[5] = {
    -0x1.555555555516bp-3,  // z^0  -0.16666666666663885
    0x1.1111110fd3d36p-7,   // z^1  0.0083333333310792
    -0x1.a019fd9b34043p-13, // z^2  -0.0001984126691696471
    0x1.71d9a9f2a99dbp-19,  // z^3  2.7555990923134043e-06
    -0x1.aa2856dcf72e3p-26, // z^4  -2.4805635646127188e-08
};

// C(z), z = r^2: cos(r) ~ 1 - z/2 + z^2 C(z) on |r| <= pi/4 + 2^-20,
// |1 - r^2/2 + r^4 C(r^2) - cos(r)| < 2^-50.2 (largest on a 20001-point grid, rounded up),
// with the coefficients as rounded to double.
// Printed by tools/fit_polynomials.py (mpmath, a Chebyshev fit at 200 bits).
constexpr double kCosPoly[5] = {
    0x1.5555555555437p-5,   // z^0  0.04166666666666468
    -0x1.6c16c16b614f5p-10, // z^1  -0.0013888888887277327
    0x1.a019ff53a5896p-16,  // z^2  2.4801585210975316e-05
    -0x1.27e25f4ae0cd3p-22, // z^3  -2.755636969097381e-07
    0x1.1c81c2f0e4935p-29,  // z^4  2.0700600057419232e-09
};

// sin(r) and cos(r) for |r| <= pi/4 + 2^-20: the polynomials, evaluated in
// double with an error below 2^-52.
template <int W>
__attribute__((always_inline)) inline void sincos_polynomials(typename Lanes<W>::Doubles r,
                                                              typename Lanes<W>::Doubles *sin_r,
                                                              typename Lanes<W>::Doubles *cos_r) {
  typedef typename Lanes<W>::Doubles D;
  const D z = r * r, z2 = z * z;
  const D ps = poly4(z, z2, kSinPoly);
  const D pc = poly4(z, z2, kCosPoly);
  *sin_r = mul_add(r * z, ps, r);
  *cos_r = mul_add(z2, pc, 1.0 - 0.5 * z);
}

// sin and cos of x = r + quadrant*pi/2 (modulo 2*pi) from r, |r| <= pi/4 + 2^-20,
// and quadrant, whose low two bits count (the others may hold anything): the
// polynomials and the quadrant's swap and signs (exact).
template <int W>
__attribute__((always_inline)) inline void sincos_reduced(typename Lanes<W>::Doubles r,
                                                          typename Lanes<W>::Int64s quadrant,
                                                          typename Lanes<W>::Doubles *s,
                                                          typename Lanes<W>::Doubles *c) {
  typedef typename Lanes<W>::Doubles D;
  D sin_r, cos_r;
  sincos_polynomials<W>(r, &sin_r, &cos_r);
  // Quadrant q: sin x = (sin r, cos r, -sin r, -cos r)[q],
  // cos x = (cos r, -sin r, -cos r, sin r)[q]: swap where bit 0 is set,
  // sin's sign is bit 1, cos's is bit 1 xor bit 0.
  // Shifted to the sign bit, the two bits serve as they are.
  typedef typename Lanes<W>::UInt64s U;
  const U q = same_bits<U>(quadrant);
  const U swap = q << 63;
  const U s_sign = (q << 62) & (U{} + (uint64_t{1} << 63));
  const U c_sign = s_sign ^ swap;
  *s = same_bits<D>(same_bits<U>(select_by_sign_bit(swap, cos_r, sin_r)) ^ s_sign);
  *c = same_bits<D>(same_bits<U>(select_by_sign_bit(swap, sin_r, cos_r)) ^ c_sign);
}

// Derivation of kSinCosError.
//   Reduction: r = x - k*pi/2 with k = round(x*kTwoOverPi). x - k*kPiOver2Hi
//   is exact, fused or not: with k = 0 it is x; otherwise |x| > pi/4, so x
//   (a float, or half of one: 24 significant bits) is a multiple of 2^-30,
//   k*kPiOver2Hi is exact and a multiple of 2^-30, and their difference, a
//   multiple of 2^-30 below 1 in magnitude, fits in 30 bits. k*kPiOver2Lo and the subtraction add at most 2^-62 + 2^-54, the
//   tail k*2^-87.8: |r - (x - k*pi/2)| < 2^-53, and |r| <= pi/4 + 2^-20.
//   Polynomials: kSinPolyError and kCosPolyError on that range
//   (error_budget.h), their evaluation in double < 2^-52. In all, < 2^-45.5
//   for both.
constexpr double kNearReductionError = 0x1p-53;  // |r - (x - k*pi/2)|
constexpr double kPolynomialEvaluationError = 0x1p-52;
static_assert(kSinPolyError + kPolynomialEvaluationError + kNearReductionError <= kSinCosError &&
                  kCosPolyError + kPolynomialEvaluationError + kNearReductionError <= kSinCosError,
              "sincos_lanes within kSinCosError");
template <int W>
__attribute__((always_inline)) inline void reduce_near_lanes(typename Lanes<W>::Doubles x,
                                                             typename Lanes<W>::Doubles *r,
                                                             typename Lanes<W>::Int64s *quadrant) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Int64s L;
  const D t = mul_add(x, splat<D>(kTwoOverPi), splat<D>(kRoundShifter));
  const D k = t - kRoundShifter;
  *quadrant = same_bits<L>(t);  // k mod 4 in the low two bits (two's complement)
  *r = mul_add(k, splat<D>(-kPiOver2Lo), mul_add(k, splat<D>(-kPiOver2Hi), x));
}

template <int W>
__attribute__((always_inline)) inline void sincos_lanes(typename Lanes<W>::Doubles x,
                                                        typename Lanes<W>::Doubles *s,
                                                        typename Lanes<W>::Doubles *c) {
  typename Lanes<W>::Doubles r;
  typename Lanes<W>::Int64s quadrant;
  reduce_near_lanes<W>(x, &r, &quadrant);
  sincos_reduced<W>(r, quadrant, s, c);
}

// Derivation of kSinCosError for sincos_far_lanes (x a float, |x| >= 2^22).
//   Reduction (reduce_far.h): x*2/pi = 4*j + N + y + e with |e| < 1.625 * 2^-54,
//   |y| <= 1/2, so x = 2*pi*j + N*pi/2 + (y + e)*pi/2. r = y*pi/2 as
//   y*kPiOver2Hi + fl(y*kPiOver2Lo): fl(y*kPiOver2Lo) is off by < 2^-88, the
//   tail contributes |y| * 2^-87.8, and the sum (|r| < 1) rounds once by
//   < 2^-54, or twice unfused: |r - y*pi/2| < 2^-53 + 2^-86. With
//   |e|*pi/2 < 2^-52.64: |r - (x - 2*pi*j - N*pi/2)| < 2^-51.8, and
//   |r| <= pi/4 + 2^-52 (|y| <= 1/2).
//   Polynomials and their evaluation as for sincos_lanes. In all,
//   < 2^-45.95 < 2^-45.5 for both.
// Lanes outside the domain give finite, meaningless values (reduce_far.h).
constexpr double kFarReductionError = 0x1.3p-52;  // 2^-51.8 < 1.19 * 2^-52
static_assert(kSinPolyError + kPolynomialEvaluationError + kFarReductionError <= kSinCosError &&
                  kCosPolyError + kPolynomialEvaluationError + kFarReductionError <= kSinCosError,
              "sincos_far_lanes within kSinCosError");
template <int W>
__attribute__((always_inline)) inline void reduce_far_to_radians(typename Lanes<W>::Doubles x,
                                                                 typename Lanes<W>::Doubles *r,
                                                                 typename Lanes<W>::Int64s *quadrant) {
  typedef typename Lanes<W>::Doubles D;
  D y;
  reduce_far_lanes<W>(x, &y, quadrant);
  *r = mul_add(y, splat<D>(kPiOver2Hi), y * kPiOver2Lo);
}

template <int W>
__attribute__((always_inline)) inline void sincos_far_lanes(typename Lanes<W>::Doubles x,
                                                            typename Lanes<W>::Doubles *s,
                                                            typename Lanes<W>::Doubles *c) {
  typename Lanes<W>::Doubles r;
  typename Lanes<W>::Int64s quadrant;
  reduce_far_to_radians<W>(x, &r, &quadrant);
  sincos_reduced<W>(r, quadrant, s, c);
}

// sin and cos of W doubles that each hold a finite float, within
// kSinCosError: every lane reduced both ways, each taking the Cody-Waite
// reduction of sincos_lanes where |x| <= kReduceMax and the far one of
// sincos_far_lanes beyond, then the polynomials once. No branch: its cost
// is about that of sincos_far_lanes, so callers use it only for batches that
// need it.
template <int W>
__attribute__((always_inline)) inline void sincos_near_far_lanes(typename Lanes<W>::Doubles x,
                                                                 typename Lanes<W>::Doubles *s,
                                                                 typename Lanes<W>::Doubles *c) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Int64s L;
  D r_near, r_far;
  L near_quadrant, far_quadrant;
  reduce_near_lanes<W>(x, &r_near, &near_quadrant);
  reduce_far_to_radians<W>(x, &r_far, &far_quadrant);
  const L far = same_bits<D>(same_bits<L>(x) & INT64_MAX) > kReduceMax;
  sincos_reduced<W>(far ? r_far : r_near, far ? far_quadrant : near_quadrant, s, c);
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_KERNELS_SINCOS_H
