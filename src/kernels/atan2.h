// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see lanes.h).
//
// atan2_lanes: atan2(y, x) of W pairs of doubles, for finite x, y with
// x*x + y*y >= 2^-10, within kAtan2Error = 2^-48 of the exact value
// (absolute); measured maximum 2^-48.91 against MPFR
// (tools/measure_kernels.cpp). Used, like sincos_lanes, only under a
// rounding test that allows for this bound plus libm's (docs/exactness.md).
#ifndef TRUEANOMALY_KERNELS_ATAN2_H
#define TRUEANOMALY_KERNELS_ATAN2_H

#include "error_budget.h"
#include "lanes.h"

namespace trueanomaly_detail {
namespace {

// Bound on the domain above (derivation in atan2_lanes).
constexpr double kAtan2Error = 0x1p-48;

constexpr double kTanPiOver8 = 0x1.a827999fcef32p-2;  // tan(pi/8) rounded to double

// The octant step of atan(n/m), n >= 0 and m > 0: u = n/m up to
// tan(pi/8), else (n - m)/(n + m), where atan(n/m) = pi/4 + atan(u)
// (*above marks those lanes); one division either way.
template <class D, class L>
__attribute__((always_inline)) inline D octant_step(D n, D m, L *above) {
  *above = n > kTanPiOver8 * m;
  return (*above ? n - m : n) / (*above ? n + m : m);
}

// A(z), z = u^2: atan(u) ~ u + u^3 A(z) on |u| <= tan(pi/8) + 2^-20,
// |u + u^3 A(u^2) - atan(u)| < 2^-49.2 (largest on a 20001-point grid, rounded up),
// with the coefficients as rounded to double.
// Printed by tools/fit_polynomials.py (mpmath, a Chebyshev fit at 200 bits).
constexpr double kAtanPoly[9] = {
    -0x1.55555555553a4p-2, // z^0  -0.3333333333333093
    0x1.99999998d178ep-3,  // z^1  0.1999999999772481
    -0x1.249248aa79b52p-3, // z^2  -0.14285713930368132
    0x1.c71c382a3d675p-4,  // z^3  0.11111089648678692
    -0x1.74563dfb8deabp-4, // z^4  -0.0909025593945169
    0x1.3a9d983d1717dp-4,  // z^5  0.07681045025078066
    -0x1.0c533a6070b34p-4, // z^6  -0.06550905993848916
    0x1.a76e383b25b2fp-5,  // z^7  0.05168829901338367
    -0x1.be2eaac939859p-6, // z^8  -0.02723280599902753
};

// Derivation of kAtan2Error.
//   With n = min(|x|, |y|) and m = max(|x|, |y|), t = n/m is in [0, 1]; above
//   tan(pi/8), atan(t) = pi/4 + atan(u) with u = (n - m)/(n + m), else u = n/m:
//   |u| <= tan(pi/8) (the test n > kTanPiOver8*m errs only within 2^-51 of
//   the switch, inside the polynomial's range), u's relative error < 3.1 *
//   2^-53, so < 2^-52.3 absolute, and atan's slope is at most 1.
//   Polynomial < kAtanPolyError, its evaluation < 2^-53. Then pi/4 + a,
//   pi/2 - a, pi - a: each constant and result rounded once, < 2^-50.4
//   together.
constexpr double kAtanArgumentError = 0x1.a0p-53;  // 2^-52.3 < 1.63 * 2^-53
constexpr double kAtanQuadrantError = 0x1.88p-51;  // 2^-50.4 < 1.53 * 2^-51
static_assert(kAtanArgumentError + kAtanPolyError + 0x1p-53 + kAtanQuadrantError <= kAtan2Error,
              "atan2_lanes within kAtan2Error");
template <int W>
__attribute__((always_inline)) inline typename Lanes<W>::Doubles atan2_lanes(typename Lanes<W>::Doubles y,
                                                                       typename Lanes<W>::Doubles x) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Int64s L;
  const L sign_bit = splat<L>(INT64_MIN);
  const D ax = same_bits<D>(same_bits<L>(x) & ~sign_bit);
  const D ay = same_bits<D>(same_bits<L>(y) & ~sign_bit);
  const L swap = ay > ax;
  const D n = swap ? ax : ay, m = swap ? ay : ax;
  L big;
  const D u = octant_step(n, m, &big);
  const D z = u * u;
  const D pa = poly8(z, kAtanPoly);
  D a = mul_add(u * z, pa, u);                        // atan(u)
  a = big ? kPiOver4 + a : a;                         // atan(t) in [0, pi/4]
  a = swap ? kPiOver2 - a : a;                        // atan(ay/ax) in [0, pi/2]
  a = same_bits<L>(x) < 0 ? kPi - a : a;              // [0, pi]
  return same_bits<D>(same_bits<L>(a) | (same_bits<L>(y) & sign_bit));
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_KERNELS_ATAN2_H
