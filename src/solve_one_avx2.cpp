// SPDX-License-Identifier: BSD-3-Clause
// The scalar entry's kernel: one element, shaped for latency, compiled with
// the AVX2 path's flags (-mavx2 -mfma) and reached only on CPUs with both
// (dispatch.cpp). It gives the plain solve's bits: every IEEE operation of
// the pattern is kept (the widening, the products rounded before each
// subtraction, the roundings to float, the float division and subtraction,
// the signed limit test, the truncating step test), and only libm's sin,
// cos and atan2 are replaced, by sincos_lanes (sincos_near_far_lanes beyond
// 2^22) and atan2_lanes, under the rounding tests of drivers/rounding_tests.h with
// their slacks (docs/exactness.md). What the tests cannot decide, and any
// input or caller's MXCSR outside the kernels' domain, is solved again by
// the plain solve from the original inputs.
//
// One element is one chain of dependent operations, so the kernel keeps the
// chain short and the code small: the two ends of each rounding test sit in
// lanes of one register (f at both ends of the sin/cos interval, d at both
// ends, the two quotients as one float division, the two ends of nu side by
// side); sin and cos of E and of E/2 come from one sincos_lanes call,
// so that once a Newton step gives E' the conversion's sin and cos are
// under way before the step test says whether another step follows; the
// square roots are taken before the iteration. Branches are few and, but for
// the number of steps, almost never taken. Consecutive calls are
// independent, and a short, predictable kernel lets the CPU overlap them.
//
// Everything here but solve_one_avx2 has internal linkage (the lanes
// headers' anonymous namespace, and this file's): no out-of-line copy
// compiled for AVX2 can stand in for another unit's inline function.
#include "solve_one.h"

#include <float.h>
#include <stdint.h>

#include "fp_environment.h"
#include "drivers/slacks.h"
#include "kernels/atan2.h"
#include "kernels/sincos.h"

namespace trueanomaly_detail {
namespace {

typedef Lanes<4>::Doubles D4;  // four doubles, one ymm register
typedef Lanes<4>::Floats F4;  // four floats, one xmm register

// The domain, as the bits of |x| compared as integers (the order of
// non-negative floats; infinities' and NaN's bits lie above every finite
// float's): M and every estimate finite, |e| <= 0.99f (the vector domain of
// drivers/choose_driver.h's eccentricity_in_vector_domain). Up to kReduceMax sin and cos
// take sincos_lanes; beyond, the far reduction too (sincos_any).
constexpr uint32_t kAbsMask = 0x7fffffffu;
constexpr uint32_t kFiniteMaxBits = __builtin_bit_cast(uint32_t, FLT_MAX);
constexpr uint32_t kNearMaxBits = __builtin_bit_cast(uint32_t, static_cast<float>(kReduceMax));
constexpr uint32_t kEccentricityMaxBits = __builtin_bit_cast(uint32_t, kVectorMaxE);

// sin and cos of lanes of which some may lie beyond kReduceMax (iterates
// that stray, huge mean anomalies): sincos_near_far_lanes, which reduces
// each lane by Cody-Waite or by the far reduction. Rare, so out of line.
__attribute__((noinline)) void sincos_any(const D4 &x, D4 *s, D4 *c) {
  sincos_near_far_lanes<4>(x, s, c);
}

// sin and cos of `x`, whose lanes are all within kReduceMax when `near`.
__attribute__((always_inline)) inline void sincos_of(const D4 &x, bool near, D4 *s, D4 *c) {
  if (__builtin_expect(near, 1))
    sincos_lanes<4>(x, s, c);
  else
    sincos_any(x, s, c);
}

// The sincos_lanes argument after a Newton step: {E, E, E/2, E/2}, from a
// new estimate whose lanes are all E. Lanes 0 and 1 give sin(E) and cos(E)
// for a further step, lanes 2 and 3 sin(E/2) and cos(E/2) for the
// conversion. E is widened exactly, and halving a double made from a float
// is exact, as the plain solve's E / 2.0. (The first step's argument is M
// widened, without halves: no conversion follows it.)
__attribute__((always_inline)) inline D4 sincos_arguments(F4 estimate) {
  return widen<D4>(estimate) * D4{1.0, 1.0, 0.5, 0.5};
}

typedef double D2 __attribute__((vector_size(16)));  // two doubles, one xmm register

// What stays fixed through one call.
struct Element {
  D2 e;         // e in both lanes
  D2 slack;     // {S, -S}, S = kSinCosSlack with e's sign
  D2 mean;      // M in both lanes
  D4 sqrt_1me;  // sqrt(1 - e) in every lane
  D4 sqrt_1pe;  // sqrt(e + 1) in every lane
};

// One Newton step from `estimate` (every lane E), whose sin and cos are in
// lanes 0 and 1 of s and c, and E itself in lanes 0 and 1 of `arguments`,
// at both ends of the interval that holds libm's sin and cos, as
// iterate_lanes (drivers/rounding_tests.h) takes it:
//   f = float((E - sin*e) - M) and d = float(1 - cos*e), each at both ends
//   as the two lanes of one computation: {f_lo, f_hi} with sin + S and
//   sin - S, {d_lo, d_hi} with cos + S and cos - S;
//   the quotient's two extremes, q_lo = f_lo / (f_lo >= 0 ? d_hi : d_lo) and
//   q_hi = f_hi / (f_hi >= 0 ? d_lo : d_hi), as one float division (twice
//   over, so that the result fills every lane);
//   E - q at both.
// Returns {E - q_lo, E - q_hi, E - q_lo, E - q_hi} (the new estimate's high
// and low ends); *d_lo receives d's low end.
//
// The denominator is chosen by f's sign bit rather than by f >= 0. They
// differ only for f = -0 (f is never NaN here: every input is finite), whose
// quotient is -0 with either denominator once both are positive, and a
// step with d_lo <= 0 is never decided.
__attribute__((always_inline)) inline F4 newton_ends(F4 estimate, const D4 &arguments,
                                                     const D4 &s, const D4 &c,
                                                     const Element &el, float *d_lo) {
  const D2 sin_e = __builtin_shufflevector(s, s, 0, 1);
  const D2 cos_e = __builtin_shufflevector(c, c, 0, 1);
  const D2 x = __builtin_shufflevector(arguments, arguments, 0, 1);
  const D2 f_ends = (x - (sin_e + el.slack) * el.e) - el.mean;
  const D2 d_ends = 1.0 - (cos_e + el.slack) * el.e;
  const F4 f2 = same_bits<F4>(_mm_cvtpd_ps(same_bits<__m128d>(f_ends)));
  const F4 d2 = same_bits<F4>(_mm_cvtpd_ps(same_bits<__m128d>(d_ends)));
  const F4 f = __builtin_shufflevector(f2, f2, 0, 1, 0, 1);
  const F4 d = __builtin_shufflevector(d2, d2, 0, 1, 0, 1);
  const F4 d_swapped = __builtin_shufflevector(d2, d2, 1, 0, 1, 0);
  const F4 denominator = same_bits<F4>(_mm_blendv_ps(
      same_bits<__m128>(d_swapped), same_bits<__m128>(d), same_bits<__m128>(f)));
  *d_lo = d2[0];
  return estimate - f / denominator;
}

// The two low lanes of `v` are the same float, bit for bit (-0 is not 0),
// and the bits of that float.
__attribute__((always_inline)) inline bool low_lanes_agree(F4 v, uint32_t *bits) {
  const uint64_t both = static_cast<uint64_t>(_mm_cvtsi128_si64(same_bits<__m128i>(v)));
  *bits = static_cast<uint32_t>(both);
  return static_cast<uint32_t>(both) == static_cast<uint32_t>(both >> 32);
}

// nu = 2*atan2(sqrt(e+1)*sin(E/2), sqrt(1-e)*cos(E/2)) from lanes 2 and 3 of
// s and c, tested as finish_lanes tests it: decided when nu - kTrueAnomalySlack
// and nu + kTrueAnomalySlack round to the same float and |nu| < kBranchCutLimit
// (away from atan2's branch cut). Returns false when undecided.
//
// 2*a is exact (|a| <= pi), so the fused a*2 + slack rounds exactly as
// finish_lanes's (2*a) + slack, whose first operation is exact.
__attribute__((always_inline)) inline bool true_anomaly_ends(const D4 &s, const D4 &c,
                                                             const Element &el, float *nu) {
  const D4 angle = atan2_lanes<4>(el.sqrt_1pe * s, el.sqrt_1me * c);
  const D4 slack = {-kTrueAnomalySlack, kTrueAnomalySlack, -kTrueAnomalySlack, kTrueAnomalySlack};
  const D4 wide = mul_add(angle, D4{2.0, 2.0, 2.0, 2.0}, slack);
  const D2 high = same_bits<D2>(_mm256_extractf128_pd(same_bits<__m256d>(wide), 1));
  const F4 ends = same_bits<F4>(_mm_cvtpd_ps(same_bits<__m128d>(high)));  // {lo, hi, 0, 0}
  uint32_t bits;
  const bool agree = low_lanes_agree(ends, &bits);
  *nu = ends[0];
  return agree & ((bits & kAbsMask) < __builtin_bit_cast(uint32_t, kBranchCutLimit));
}

// Kept out of the kernel's straight line: rare, and a call.
__attribute__((noinline, cold)) float solve_plain(float mean_anomaly, float eccentricity,
                                                  int32_t max_iterations, int32_t tolerance) {
  return solve_one_plain(mean_anomaly, eccentricity, max_iterations, tolerance);
}

// What stays fixed through one element's solve, from M and e (within the
// domain above).
__attribute__((always_inline)) inline Element element_of(float mean_anomaly, float eccentricity) {
  const double e = eccentricity;
  Element el;
  el.e = D2{e, e};
  el.slack = el.e >= 0.0 ? D2{kSinCosSlack, -kSinCosSlack} : D2{-kSinCosSlack, kSinCosSlack};
  el.mean = D2{static_cast<double>(mean_anomaly), static_cast<double>(mean_anomaly)};
  // sqrt(1 - e) and sqrt(1 + e), correctly rounded like libm's, taken here,
  // off the chain: the empty asm keeps the compiler from sinking them to the
  // conversion. It changes no value.
  const __m128d roots = _mm_sqrt_pd(_mm_addsub_pd(_mm_set1_pd(1.0), _mm_set1_pd(e)));
  el.sqrt_1me = same_bits<D4>(_mm256_broadcastsd_pd(roots));
  el.sqrt_1pe = same_bits<D4>(_mm256_permute4x64_pd(_mm256_castpd128_pd256(roots), 0x55));
  __asm__("" : "+x"(el.sqrt_1me), "+x"(el.sqrt_1pe));
  return el;
}

// The iteration's state: the estimate E in every lane, whether |E| <=
// kReduceMax, and sin and cos of `arguments`, whose lanes 0 and 1 hold E.
struct Iteration {
  F4 estimate;
  bool near;
  D4 arguments, s, c;
};

enum class Outcome { another, convert, limit, undecided };

// Newton step number `steps` of `it` with its tests; then, before the step
// test is looked at, sin and cos of E' and E'/2: the next step needs the
// first pair, the conversion the second.
__attribute__((always_inline)) inline Outcome step(Iteration &it, const Element &el,
                                                   int32_t steps, int32_t max_iterations,
                                                   int32_t tolerance) {
  float d_lo;
  const F4 next = newton_ends(it.estimate, it.arguments, it.s, it.c, el, &d_lo);
  // Decided: both ends the same float, the slope positive at both ends,
  // and the estimate finite.
  uint32_t bits;
  const bool agree = low_lanes_agree(next, &bits);
  const uint32_t abs_next = bits & kAbsMask;
  if (!(agree & (d_lo > 0.0f) & (abs_next <= kFiniteMaxBits))) return Outcome::undecided;
  if (steps >= max_iterations) return Outcome::limit;
  // The plain solve's step test, |trunc(step)| > tolerance. With both
  // estimates within 2^22, |step| <= 2^23 converts to int32_t exactly;
  // otherwise the step may reach 2^31 or overflow to infinity, and
  // exceeds every tolerance there, as step_exceeds_tolerance says.
  const bool next_near = abs_next <= kNearMaxBits;
  const float magnitude = __builtin_fabsf(next[0] - it.estimate[0]);
  bool another;
  if (__builtin_expect(it.near & next_near, 1))
    another = static_cast<int32_t>(magnitude) > tolerance;
  else
    another = !(magnitude < 2147483648.0f) || static_cast<int32_t>(magnitude) > tolerance;
  it.estimate = next;
  it.near = next_near;
  it.arguments = sincos_arguments(it.estimate);
  // E'/2 is within kReduceMax whenever E' is.
  sincos_of(it.arguments, it.near, &it.s, &it.c);
  return another ? Outcome::another : Outcome::convert;
}

// Steps from step number `steps` on until one does not ask for another.
__attribute__((always_inline)) inline Outcome iterate_from(Iteration &it, const Element &el,
                                                           int32_t steps,
                                                           int32_t max_iterations,
                                                           int32_t tolerance) {
  Outcome outcome = Outcome::another;
  // steps never passes max_iterations, so steps + 1 cannot overflow.
  for (; outcome == Outcome::another; ++steps)
    outcome = step(it, el, steps, max_iterations, tolerance);
  return outcome;
}

}  // namespace

float solve_one_avx2(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance) {
  // One branch for the three tests (& rather than &&), almost never taken.
  const uint32_t abs_mean = same_bits<uint32_t>(mean_anomaly) & kAbsMask;
  const uint32_t abs_eccentricity = same_bits<uint32_t>(eccentricity) & kAbsMask;
  const bool vector_fp = vector_fp_environment();
  if (!((abs_mean <= kFiniteMaxBits) & (abs_eccentricity <= kEccentricityMaxBits) & vector_fp))
    return solve_plain(mean_anomaly, eccentricity, max_iterations, tolerance);

  const Element el = element_of(mean_anomaly, eccentricity);
  Iteration it;
  it.estimate = F4{mean_anomaly, mean_anomaly, mean_anomaly, mean_anomaly};
  it.near = abs_mean <= kNearMaxBits;     // |estimate| <= kReduceMax
  it.arguments = widen<D4>(it.estimate);  // M in every lane
  sincos_of(it.arguments, it.near, &it.s, &it.c);

  // The first step written out, the others in a loop: where one step is the
  // rule (|e| <= 0.7) the code runs straight, with less kept live.
  Outcome outcome = step(it, el, 1, max_iterations, tolerance);
  if (outcome == Outcome::another) outcome = iterate_from(it, el, 2, max_iterations, tolerance);
  if (outcome == Outcome::limit) return -1.0f;
  if (outcome == Outcome::undecided)
    return solve_plain(mean_anomaly, eccentricity, max_iterations, tolerance);

  float nu;
  if (!true_anomaly_ends(it.s, it.c, el, &nu))
    return solve_plain(mean_anomaly, eccentricity, max_iterations, tolerance);
  return nu;
}

namespace {

// continue_avx2 for N elements side by side: their chains are independent,
// and one loop over both lets the CPU overlap them.
template <int N>
__attribute__((always_inline)) inline void continue_elements(const Handover *from, float e,
                                                             int32_t max_iterations,
                                                             int32_t tolerance,
                                                             Continued *outcome,
                                                             float *estimate_out,
                                                             float *true_anomaly) {
  const uint32_t abs_eccentricity = same_bits<uint32_t>(e) & kAbsMask;
  Element el[N];
  Iteration it[N];
  Outcome o[N];
  int32_t steps[N];
  bool any = false;
  for (int k = 0; k < N; ++k) {
    const uint32_t abs_mean = same_bits<uint32_t>(from[k].mean_anomaly) & kAbsMask;
    const uint32_t abs_estimate = same_bits<uint32_t>(from[k].estimate) & kAbsMask;
    const bool in_domain = (abs_mean <= kFiniteMaxBits) & (abs_estimate <= kFiniteMaxBits) &
                           (abs_eccentricity <= kEccentricityMaxBits) & (from[k].steps >= 1) &
                           (from[k].steps < max_iterations);
    o[k] = in_domain ? Outcome::another : Outcome::undecided;
    // Out of the domain the element steps from 0, and its outcome is
    // ignored.
    const float mean = in_domain ? from[k].mean_anomaly : 0.0f;
    const float estimate = in_domain ? from[k].estimate : 0.0f;
    el[k] = element_of(mean, in_domain ? e : 0.0f);
    it[k].estimate = F4{estimate, estimate, estimate, estimate};
    it[k].near = (same_bits<uint32_t>(estimate) & kAbsMask) <= kNearMaxBits;
    it[k].arguments = sincos_arguments(it[k].estimate);
    sincos_of(it[k].arguments, it[k].near, &it[k].s, &it[k].c);
    steps[k] = from[k].steps + 1;
    any |= in_domain;
  }
  // steps never passes max_iterations, so steps + 1 cannot overflow.
  while (any) {
    any = false;
    for (int k = 0; k < N; ++k) {
      if (o[k] != Outcome::another) continue;
      o[k] = step(it[k], el[k], steps[k]++, max_iterations, tolerance);
      any |= o[k] == Outcome::another;
    }
  }
  for (int k = 0; k < N; ++k) {
    estimate_out[k] = it[k].estimate[0];
    if (o[k] == Outcome::limit)
      outcome[k] = Continued::failed;
    else if (o[k] == Outcome::undecided)
      outcome[k] = Continued::undecided;
    else if (true_anomaly != nullptr && !true_anomaly_ends(it[k].s, it[k].c, el[k], &true_anomaly[k]))
      outcome[k] = Continued::undecided;
    else
      outcome[k] = Continued::solved;
  }
}

}  // namespace

void continue_avx2(const Handover *from, int32_t n, float eccentricity, int32_t max_iterations,
                   int32_t tolerance, Continued *outcome, float *estimate, float *true_anomaly) {
  if (n >= 2)
    continue_elements<2>(from, eccentricity, max_iterations, tolerance, outcome, estimate,
                         true_anomaly);
  else
    continue_elements<1>(from, eccentricity, max_iterations, tolerance, outcome, estimate,
                         true_anomaly);
}

}  // namespace trueanomaly_detail
