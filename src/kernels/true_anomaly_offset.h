// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see lanes.h).
//
// nu = 2*atan2(sqrt(1+e)*sin(E/2), sqrt(1-e)*cos(E/2)) of W lanes, written
// as E plus an offset: with h = E/2, s = sin h, c = cos h and
// k = sqrt((1+e)/(1-e)), tan(nu/2) = k*tan(h), so nu/2 - h = atan(t) with
//   t = (k-1)*s*c / (c^2 + k*s^2) = (k-1)*s*c / (1 + (k-1)*s^2),
// and |t| <= |k-1| / (2*sqrt(k)). E is brought into [-2*pi, 2*pi] by whole
// turns of nu, 4*pi, first. Two forms:
//   true_anomaly_offset_lanes       |e| <= 0.7, where |t| < 0.4474: one
//                                   short polynomial, no octant reduction
//                                   and no quadrant logic (atan2_lanes needs
//                                   both, for any point)
//   true_anomaly_offset_wide_lanes  the vector paths' whole domain,
//                                   |e| <= 0.99f, where |t| < 1.745: one
//                                   octant step before the same polynomial,
//                                   and still no quadrant logic
// Each within its bound of the exact nu of E (derivations below); used, like
// atan2_lanes, only under finish_lanes's rounding test.
#ifndef TRUEANOMALY_KERNELS_TRUE_ANOMALY_OFFSET_H
#define TRUEANOMALY_KERNELS_TRUE_ANOMALY_OFFSET_H

#include "atan2.h"
#include "error_budget.h"
#include "lanes.h"
#include "sincos.h"

namespace trueanomaly_detail {
namespace {

// Bound on |nu - exact nu| for |E| <= 2^23, |e| <= kOffsetFormMaxE, s and c
// within kSinCosError of sin(E/2), cos(E/2) (derivation below).
constexpr double kOffsetFormError = 0x1p-40;

// 4*pi = kFourPiHi + kFourPiLo + tail: 8 times sincos.h's two parts of pi/2
// (scaling by 8 is exact), so kFourPiHi has 31 significant bits and is a
// multiple of 2^-27, and |tail| < 8 * 2^-87.8.
constexpr double kFourPiHi = 8.0 * kPiOver2Hi;
constexpr double kFourPiLo = 8.0 * kPiOver2Lo;
constexpr double kOneOverFourPi = 0x1.45f306dc9c883p-4;  // 1/(4*pi) rounded to double

// Bound on |nu - exact nu| for the wide form, under the same conditions
// with |e| <= 0.99f (derivation below true_anomaly_offset_wide_lanes).
constexpr double kOffsetWideFormError = 0x1p-39;

// B(z), z = t^2: atan(t) ~ t + t^3 B(z) on |t| <= 0.45,
// |t + t^3 B(t^2) - atan(t)| < 2^-42.3 (largest on a 20001-point grid, rounded up),
// with the coefficients as rounded to double.
// Printed by tools/fit_polynomials.py (mpmath, a Chebyshev fit at 200 bits).
constexpr double kAtanOffsetPoly[8] = {
    -0x1.555555554b432p-2, // z^0  -0.3333333333310434
    0x1.99999967cb7aep-3,  // z^1  0.19999999855047917
    -0x1.249234d225d97p-3, // z^2  -0.14285699144668904
    0x1.c716155dc888bp-4,  // z^3  0.11110504480578436
    -0x1.73debc1457719p-4, // z^4  -0.0907885882238272
    0x1.35ab22fb08060p-4,  // z^5  0.07560266174596242
    -0x1.de7402df3ffeap-5, // z^6  -0.058404927834999246
    0x1.e9ae37560a436p-6,  // z^7  0.029887727774767302
};

// Derivation of kOffsetFormError. Exact values carry _x.
//   Turns: m = round(E*kOneOverFourPi) (|m| < 2^20 for |E| <= 2^23).
//   E - m*kFourPiHi is exact, fused or not: with m = 0 it is E; otherwise
//   |E| > 6 is a float, a multiple of 2^-21, m*kFourPiHi is exact (31 + 20
//   bits) and a multiple of 2^-27, and their difference, below 8 in
//   magnitude, fits in 30 bits. Then - m*kFourPiLo: the tail m * 2^-84.8
//   and one rounding (or two, unfused) below 8: |w - (E - 4*pi*m)| < 2^-50.9.
//   Whatever m is, E - 4*pi*m is nu's angle modulo 4*pi; the lift
//   g(h) = h + atan(t(h)) is increasing with g(+-pi) = +-pi, so where
//   |w/2| <= pi, nu_x = w_x + 2*atan(t_x) exactly, and where |w/2| > pi (m
//   rounded the other way at a half turn) |nu| >= 2*pi, which finish_lanes
//   never decides.
//   t: with K = k - 1 in [-0.58, 1.39] and D = 1 + K*s^2 >= 0.42,
//   |dt/ds| = |K*c*(1 - K*s^2)| / D^2 <= 5.2 and |dt/dc| = |K*s| / D <= 1.39,
//   so s and c within kSinCosError move t by < 6.6 * 2^-45.5 = 2^-42.78;
//   K itself (the quotient of two correctly rounded square roots of 1 +- e,
//   each rounded, less 1) within 2^-49.7, |dt/dK| = |s*c| / D^2 < 2.84:
//   < 2^-48.2; t's own five roundings
//   (relative 12 * 2^-53 at most, |t| < 0.45): < 2^-50.6. In all
//   |t - t_x| < kNarrowTError (2^-42.6), so |t| < 0.4474 + 2^-42 stays in
//   the polynomial's range, and atan's slope is at most 1.
//   Polynomial < kAtanOffsetPolyError, its evaluation < 2^-53
//   (t^3 B(z) < 0.031).
//   So |a - atan(t_x)| < kNarrowTError + kAtanOffsetPolyError + 2^-53, and
//   nu = w + 2*a, rounded once below 8 (< 2^-51): with w within
//   kOffsetTurnsError, |nu - nu_x| < 2^-40.
constexpr double kNarrowSlopeSin = 5.2, kNarrowSlopeCos = 1.39, kNarrowSlopeK = 2.84;
constexpr double kNarrowKError = 0x1.4p-50;  // 2^-49.7 < 1.25 * 2^-50
constexpr double kNarrowTRoundings = 12.0 * 0x1p-53 * 0.45;
constexpr double kNarrowTError = (kNarrowSlopeSin + kNarrowSlopeCos) * kSinCosError +
                                 kNarrowSlopeK * kNarrowKError + kNarrowTRoundings;
constexpr double kOffsetTurnsError = 0x1.2p-51;  // 2^-50.9 < 1.125 * 2^-51
static_assert(2.0 * (kNarrowTError + kAtanOffsetPolyError + 0x1p-53) + kOffsetTurnsError + 0x1p-51 <
                  kOffsetFormError,
              "offset form bound");

// E - 4*pi*m, m = round(E/(4*pi)), for doubles that hold floats with
// |E| <= 2^23: within 2^-50.9 of it, and within [-2*pi, 2*pi] but where E is
// within a few ulp of a cut (2*j+1)*2*pi (derivation below).
template <int W>
__attribute__((always_inline)) inline typename Lanes<W>::Doubles offset_turns_lanes(
    typename Lanes<W>::Doubles E) {
  typedef typename Lanes<W>::Doubles D;
  const D m = mul_add(E, splat<D>(kOneOverFourPi), splat<D>(kRoundShifter)) - kRoundShifter;
  return mul_add(m, splat<D>(-kFourPiLo), mul_add(m, splat<D>(-kFourPiHi), E));
}

// s*c and s*s for s = sin(h), c = cos(h), |h| <= kReduceMax, with s and c
// as sincos_lanes gives them, bit for bit. The form needs no more than these
// two products, and they need less of the quadrant: with q the quarter
// turns, s*c = (-1)^q * sin(r)*cos(r), and s*s is sin(r)^2 or, for odd q,
// cos(r)^2 (a change of sign is exact, and so is a product's).
template <int W>
__attribute__((always_inline)) inline void half_angle_products(typename Lanes<W>::Doubles h,
                                                               typename Lanes<W>::Doubles *sc,
                                                               typename Lanes<W>::Doubles *ss) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::UInt64s U;
  D r, sin_r, cos_r;
  typename Lanes<W>::Int64s quadrant;
  reduce_near_lanes<W>(h, &r, &quadrant);
  sincos_polynomials<W>(r, &sin_r, &cos_r);
  const U odd = same_bits<U>(quadrant) << 63;
  *sc = same_bits<D>(same_bits<U>(sin_r * cos_r) ^ odd);
  const D s = select_by_sign_bit(odd, cos_r, sin_r);
  *ss = s * s;
}

// atan(u) for |u| <= 0.45: within 2^-42.3 + 2^-53 (the polynomial and its
// evaluation; u^3 B(u^2) < 0.031).
template <class D>
__attribute__((always_inline)) inline D atan_offset(D u) {
  const D z = u * u;
  return mul_add(u * z, poly7(z, kAtanOffsetPoly), u);
}

// One value for the call, or one per lane.
template <class D>
__attribute__((always_inline)) inline D lanes_of(double x) {
  return splat<D>(x);
}
template <class D>
__attribute__((always_inline)) inline D lanes_of(D x) {
  return x;
}

// nu of E (doubles that hold floats, |E| <= 2^23) from sc = sin(E/2)*cos(E/2)
// and ss = sin(E/2)^2 (half_angle_products: both factors within
// kSinCosError), and k_minus_1 = sqrt(1+e)/sqrt(1-e) - 1 of the eccentricity
// (|e| <= kOffsetFormMaxE).
template <int W>
__attribute__((always_inline)) inline typename Lanes<W>::Doubles true_anomaly_offset_lanes(
    typename Lanes<W>::Doubles E, typename Lanes<W>::Doubles sc, typename Lanes<W>::Doubles ss, double k_minus_1) {
  typedef typename Lanes<W>::Doubles D;
  const D t = sc * k_minus_1 / mul_add(ss, splat<D>(k_minus_1), splat<D>(1.0));
  return mul_add(splat<D>(2.0), atan_offset(t), offset_turns_lanes<W>(E));
}

// The same for |e| <= 0.99f, from gap/scale = k - 1, each one value for the
// call (double) or one per lane: t = n/d with n = gap*s*c and
// d = scale + gap*s^2 (t's quotient, times scale). For one eccentricity
// scale = 1 and gap = k - 1, as for true_anomaly_offset_lanes; per lane
// scale = sqrt(1-e) and gap = sqrt(1+e) - sqrt(1-e), which saves a
// division per group. Above tan(pi/8), atan(t) = pi/4 + atan((t-1)/(t+1)),
// and with t = n/d that argument is (n - d)/(n + d): still one division,
// and in both cases |u| <= 0.4143, inside the polynomial's range.
template <int W, class R>
__attribute__((always_inline)) inline typename Lanes<W>::Doubles true_anomaly_offset_wide_lanes(
    typename Lanes<W>::Doubles E, typename Lanes<W>::Doubles sc, typename Lanes<W>::Doubles ss, R scale, R gap) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Int64s L;
  const D n = sc * lanes_of<D>(gap), d = mul_add(ss, lanes_of<D>(gap), lanes_of<D>(scale));
  const L sign_bit = splat<L>(INT64_MIN);
  const D an = same_bits<D>(same_bits<L>(n) & ~sign_bit);
  L big;
  const D u = octant_step(an, d, &big);
  D a = atan_offset(u);  // >= 0: u >= 0, or the sum below > 0.39
  a = big ? kPiOver4 + a : a;
  a = same_bits<D>(same_bits<L>(a) | (same_bits<L>(n) & sign_bit));  // atan(t)
  return mul_add(splat<D>(2.0), a, offset_turns_lanes<W>(E));
}

// Derivation of kOffsetWideFormError. Exact values carry _x. Write
// Phi(s, c, K) = atan(K*s*c / (1 + K*s^2)), so nu_x = w_x + 2*Phi(s_x, c_x,
// K_x) (the turns and the lift as above: the lift needs only k > 0), and
// n/d = K*s*c / (1 + K*s^2) for K = gap/scale as rounded.
//   s and c: dPhi = K*(c*(1 - K*s^2)*ds + D*s*dc) / (D^2 + N^2) with
//   N = K*s*c and D = 1 + K*s^2 >= kOffsetMinDenominator (K >= -0.93); over
//   |e| <= kVectorMaxE and every h, |K|*(|c*(1 - K*s^2)| + |D*s|) /
//   (D^2 + N^2) < kOffsetSlopeSinCos (tools/offset_form_slopes.py checks
//   each of these constants on a grid, with room for the grid and for
//   second-order terms, which are 2^-40 relative; also |t| < kOffsetMaxT),
//   so s and c within kSinCosError move Phi by < kOffsetSlopeSinCos *
//   kSinCosError.
//   K: Phi = angle(c, k*s) - angle(c, s), whose slope in k is at most
//   1/(2*k). b/a, from the two square roots b and a of 1 +- e (each
//   rounded, and each argument rounded), is within 3 * 2^-53 of k
//   relative, and within 4 * 2^-53 once rounded itself (one eccentricity):
//   < 2 * 2^-53. Then b/a - 1, or b - a (per lane), is rounded once, so K
//   is that K times (1 + 2^-53) at most, and |K * dPhi/dK| =
//   |K*s*c| / (D^2 + N^2) < kOffsetSlopeK (tools/offset_form_slopes.py):
//   < kOffsetSlopeK * 2^-53.
//   n and d: the same quotient scaled, so relative errors count as
//   for n = K*s*c and d = 1 + K*s^2: n = N*(1 + 2 * 2^-53) at most, d within
//   (|K|*s^2 + D) * 2^-53 of D; Phi moves by <= |dN|/|N| / 2 + |dD| / (2*D):
//   < 2^-53 + 2^-53 / (2 * kOffsetMinDenominator) (the second largest at
//   K = -0.93, where |K|*s^2 + D = 1).
//   u: |n|/d or (|n| - d)/(|n| + d), relative < 3 * 2^-53 with |u| <= 0.4143
//   (the switch compares |n| with tan(pi/8)*d rounded: off by 2^-52
//   relative at most): < 1.25 * 2^-53. atan(x) = pi/4 + atan((x-1)/(x+1))
//   for x > -1 is exact.
//   atan_offset: < 2^-42.3 + 2^-53. pi/4 + a: the constant and the sum
//   rounded, < 1.5 * 2^-53.
//   So the angle is within kOffsetSlopeSinCos * kSinCosError +
//   kAtanOffsetPolyError + kWideFormRoundings of Phi_x (the last the sum of
//   the multiples of 2^-53 above: 2 for k, kOffsetSlopeK for K, 1 and
//   1/(2 * kOffsetMinDenominator) for n and d, 1.25 for u, 1 for the
//   polynomial's evaluation, 1.5 for pi/4 + a), and nu = w + 2*a, rounded
//   once below 8 (< 2^-51; nu >= 8 is never decided), with w within
//   kOffsetTurnsError: < 2^-39.
constexpr double kWideFormRoundings =
    (2.0 + kOffsetSlopeK + 1.0 + 0.5 / kOffsetMinDenominator + 1.25 + 1.0 + 1.5) * 0x1p-53;
static_assert(2.0 * (kOffsetSlopeSinCos * kSinCosError + kAtanOffsetPolyError +
                     kWideFormRoundings) + kOffsetTurnsError + 0x1p-51 <
                  kOffsetWideFormError,
              "wide offset form bound");

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_KERNELS_TRUE_ANOMALY_OFFSET_H
