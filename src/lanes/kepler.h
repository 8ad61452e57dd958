// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see lanes.h).
//
// The solve over W lanes at once, with a rounding test on every value the
// result depends on, and the array driver that runs it block by block.
//
// Each lane follows the plain solve's pattern (solve.cpp) exactly: the float
// iterate, the float division and subtraction and the limit test are the
// same IEEE operations in the same order, and the step test an equivalent
// comparison (step_threshold). Only libm's sin, cos and atan2 are replaced,
// by sincos_lanes (or sincos_far_lanes) and the offset forms of nu
// (true_anomaly_offset.h), and only where a rounding test proves that
// libm's values could not round to a different float. A lane the test
// cannot decide, or whose inputs leave the proven domain, is redone from
// scratch by the plain solve.
#ifndef TRUEANOMALY_LANES_KEPLER_H
#define TRUEANOMALY_LANES_KEPLER_H

#include <float.h>
#include <stdint.h>
#include <string.h>

#include "lanes.h"
#include "paths.h"
#include "sincos.h"
#include "solve.h"
#include "true_anomaly_offset.h"

namespace trueanomaly_detail {
namespace {

enum LaneStatus : int32_t { kRunning = 0, kSolved = 1, kFailed = 2, kUndecided = 3 };

// How iterate_lanes reduces E for sin and cos:
//   kNear         Cody-Waite only (|E| <= kReduceMax); lanes beyond stop
//                 undecided
//   kNearAndFar   both reductions for every lane, each lane taking the one
//                 its |E| needs (any finite E)
// Each is straight-line code, so the compiler interleaves a block's groups;
// the straggler driver picks kNearAndFar per batch, only for batches that
// hold an estimate beyond kReduceMax (at e near 0.99).
enum class Reduction { kNear, kNearAndFar };

// How iterate_lanes decides a lane's new estimate (see there):
//   kOnEstimate  both ends of the new estimate, two divisions (any step)
//   kOnFAndD     f and d themselves, one division: for first steps, where
//                f = -e*sin(M) is rarely near zero; near convergence f
//                cancels and its own rounding is often undecided
enum class StepTest { kOnEstimate, kOnFAndD };

// Largest gap between our sin/cos and libm's that the tests allow: ours are
// within kSinCosError < 2^-45.4 of the truth, libm's are budgeted 4 ulp
// (< 2^-50) although glibc's own testing shows about 0.55 ulp; 2^-43 leaves
// another factor 5.
constexpr double kSinCosSlack = 0x1p-43;
static_assert(kSinCosError + 0x1p-50 < kSinCosSlack / 4, "sin/cos slack too tight");

// Largest gap between our nu and libm's. With nu = 2*atan2(y, x) (the
// scalar kernel, solve_one_avx2.cpp): our
// x = sqrt(1-e)*cos(E/2) and y = sqrt(1+e)*sin(E/2) differ from libm's by
// dx + dy <= (sqrt(1-e) + sqrt(1+e)) * kSinCosSlack + 2 ulp < D = 2^-41.95;
// the exact point is at least r = sqrt(1 - |e|) >= 0.0999999 from the origin
// (|e| <= 0.99f), so unless the segment between the two points crosses
// atan2's branch cut (tested separately) the angle moves by at most
// (pi/2) * D / (r - D) < 3.58e-12. Our atan2 adds kAtan2Error and libm's,
// budgeted 4 ulp of pi (glibc's testing shows about 0.55 ulp), 2^-49;
// doubled for nu: 7.17e-12 < 2^-37. 2^-36 leaves a factor 2 for the rounding
// of nu +- slack and everything else.
constexpr double kTrueAnomalySlack = 0x1p-36;
constexpr double kXYSlack = 2.0 * kSinCosSlack + 0x1p-51;
static_assert(2.0 * (1.5707963267948966 * kXYSlack / (0.0999999 - kXYSlack) + kAtan2Error +
                     0x1p-49) < kTrueAnomalySlack / 2,
              "true anomaly slack too tight");

// How finish_lanes computes nu (true_anomaly_offset.h), E plus the atan of
// a quotient, with no quadrant logic:
//   kOffset      true_anomaly_offset_lanes, for one eccentricity with
//                |e| <= kOffsetFormMaxE (no octant step either: the block
//                driver)
//   kOffsetWide  true_anomaly_offset_wide_lanes, for any e of the vector
//                domain, one for the call or one per lane (the straggler
//                driver)
// Against x and y and atan2_lanes, kOffset takes a third fewer operations;
// kOffsetWide measured 1-4 % faster over the straggler driver at e >= 0.9,
// 3 % (AVX2) and 12 % (AVX-512) with an eccentricity per element.
// The same test allows for the form's own bound, kOffsetFormError or
// kOffsetWideFormError, plus libm's distance from the exact nu: its x and y
// each within 1.31 * (2^-50 + 2^-52) of exact for |e| <= 0.7 (cos and sin
// budgeted 4 ulp, times sqrt(1 +- e) < 1.31, the square roots and products
// rounded), 1.42 * (2^-50 + 2^-52) for |e| <= 0.99f, the exact point at
// least sqrt(0.3) > 0.547 (0.0999999) from the origin, so the angle moves by
// at most (pi/2) * D / (r - D) with D = dx + dy; libm's atan2 adds 2^-49,
// and nu doubles both. The branch-cut test below holds as it stands.
enum class Conversion { kOffset, kOffsetWide };

// libm's distance from the exact nu, with sqrt(1 +- e) < root and the
// exact point at least r from the origin (above).
constexpr double libm_true_anomaly_error(double root, double r) {
  const double xy = 2.0 * root * (0x1p-50 + 0x1p-52);  // dx + dy
  return 2.0 * (1.5707963267948966 * xy / (r - xy) + 0x1p-49);
}
static_assert(kOffsetFormError + libm_true_anomaly_error(1.31, 0.547) < kTrueAnomalySlack / 2,
              "true anomaly slack too tight for the offset form");
static_assert(kOffsetWideFormError + libm_true_anomaly_error(1.42, 0.0999999) <
                  kTrueAnomalySlack / 2,
              "true anomaly slack too tight for the wide offset form");

// What the lanes of a group share: the eccentricity and what follows from
// it, as one double for the whole call (E = double) or one per lane
// (E = Lanes<W>::d, for calls with an eccentricity per element). The lane
// functions are written once for both: an operation between a vector and a
// double is the same IEEE operation in every lane.
template <class E>
struct OrbitOf {
  E e;
  E slack;  // kSinCosSlack with e's sign (see iterate_lanes)
  E k_minus_1;  // sqrt(1+e)/sqrt(1-e) - 1 for the offset forms (see wide_offset_nu)
  int32_t max_iterations;
  float step_threshold;  // see step_threshold()
};
typedef OrbitOf<double> Orbit;

// The step test |trunc(step)| > tolerance as one float comparison,
// |step| >= threshold. For |step| < 2^31, trunc(|step|) > t iff
// |step| >= t + 1 (t + 1 is an integer), iff |step| >= the smallest float
// >= t + 1; a step of 2^31 or more passes it too (t + 1 <= 2^31), and NaN
// fails it, as the plain solve's test requires. For t < 0, the threshold is
// <= 0 and every number passes.
inline float step_threshold(int32_t tolerance) {
  const double t1 = static_cast<double>(tolerance) + 1.0;  // exact
  float f = static_cast<float>(t1);
  if (static_cast<double>(f) < t1) {  // round up to the next float
    const uint32_t bits = same_bits<uint32_t>(f);
    f = same_bits<float>(f > 0.0f ? bits + 1 : bits - 1);
  }
  return f;
}

inline Orbit make_orbit(float eccentricity, int32_t max_iterations, int32_t tolerance) {
  const double e = eccentricity;
  const double sqrt_1me = __builtin_sqrt(1.0 - e), sqrt_1pe = __builtin_sqrt(e + 1.0);
  return Orbit{e,
               e >= 0.0 ? kSinCosSlack : -kSinCosSlack,
               sqrt_1pe / sqrt_1me - 1.0,
               max_iterations,
               step_threshold(tolerance)};
}

// The orbit of W lanes with W eccentricities (capped, each within
// eccentricity_in_vector_domain): the same operations as make_orbit, lane
// by lane (IEEE square roots are correctly rounded, in vectors too), but
// for k - 1, which the conversion takes in its own form (wide_offset_nu).
template <int W>
struct LaneOrbit : OrbitOf<typename Lanes<W>::d> {};

// nu by the wide offset form (true_anomaly_offset_wide_lanes), with k - 1
// as gap/scale: for one eccentricity k - 1 over 1, from the call's orbit;
// per lane sqrt(1+e) - sqrt(1-e) over sqrt(1-e), per group, where the square
// roots are not held in registers through the iteration and no division is
// needed.
template <int W>
TRUEANOMALY_LANES_INLINE typename Lanes<W>::d wide_offset_nu(typename Lanes<W>::d E,
                                                             typename Lanes<W>::d sc,
                                                             typename Lanes<W>::d ss,
                                                             const Orbit &o) {
  return true_anomaly_offset_wide_lanes<W>(E, sc, ss, 1.0, o.k_minus_1);
}
template <int W>
TRUEANOMALY_LANES_INLINE typename Lanes<W>::d wide_offset_nu(typename Lanes<W>::d E,
                                                             typename Lanes<W>::d sc,
                                                             typename Lanes<W>::d ss,
                                                             const LaneOrbit<W> &o) {
  const typename Lanes<W>::d scale = sqrt_lanes(1.0 - o.e);
  return true_anomaly_offset_wide_lanes<W>(E, sc, ss, scale, sqrt_lanes(o.e + 1.0) - scale);
}

template <int W>
TRUEANOMALY_LANES_INLINE LaneOrbit<W> make_lane_orbit(typename Lanes<W>::f eccentricities,
                                                     int32_t max_iterations,
                                                     float threshold) {
  typedef typename Lanes<W>::d D;
  const D e = widen<D>(eccentricities);
  LaneOrbit<W> o;
  o.e = e;
  o.slack = e >= 0.0 ? splat<D>(kSinCosSlack) : splat<D>(-kSinCosSlack);
  o.k_minus_1 = splat<D>(0.0);  // see LaneOrbit
  o.max_iterations = max_iterations;
  o.step_threshold = threshold;
  return o;
}

// cap_eccentricity and eccentricity_in_vector_domain on float lanes: above
// the double 0.99 is at or above 0.99f (no float lies between), and NaN
// fails both comparisons. Returns the capped values; *lane_e gets them where
// they are in the domain and 0 elsewhere (such elements are solved again by
// the plain solve), *outside marks those lanes.
template <class F, class I>
TRUEANOMALY_LANES_INLINE F cap_lanes(F e, F *lane_e, I *outside) {
  e = e >= 0.99f ? splat<F>(0.99f) : e;
  const I in_domain = e >= -0.99f;
  *outside = ~in_domain;
  *lane_e = in_domain ? e : splat<F>(0.0f);
  return e;
}

// The orbit of every group of a block when the call has one eccentricity.
struct SameOrbit {
  const Orbit &orbit;
  const Orbit &operator[](int) const { return orbit; }
};

template <int W>
struct BlockResult {
  float true_anomaly[W];
  int32_t status[W];  // LaneStatus
};

template <class I>
inline bool any_lane(I mask) {
  int32_t lanes[sizeof(I) / sizeof(int32_t)];
  memcpy(lanes, &mask, sizeof lanes);
  int32_t acc = 0;
  for (int32_t lane : lanes) acc |= lane;
  return acc != 0;
}

// The state of W lanes of the iteration. A lane's status is set once, when
// it stops running, by or-ing in its LaneStatus.
template <int W>
struct LaneState {
  typename Lanes<W>::d mean_d;
  typename Lanes<W>::f mean, estimate, previous;
  typename Lanes<W>::i steps, status, running;
};

template <int W>
TRUEANOMALY_LANES_INLINE void start_lanes(const float *mean_anomalies, LaneState<W> *st) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::i I;
  memcpy(&st->mean, mean_anomalies, sizeof st->mean);
  st->mean_d = widen<D>(st->mean);
  st->estimate = st->previous = st->mean;
  st->steps = splat<I>(int32_t{0});
  st->status = splat<I>(int32_t{kRunning});
  st->running = splat<I>(int32_t{-1});
}

// One Newton step and the limit and step tests, on the lanes still running.
template <int W, Reduction kReduction = Reduction::kNear, StepTest kTest = StepTest::kOnEstimate,
          class O>
TRUEANOMALY_LANES_INLINE void iterate_lanes(LaneState<W> *st, const O &orbit) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::f F;
  typedef typename Lanes<W>::i I;
  const auto e = orbit.e;
  I running = st->running;
  I status = st->status;
  const F estimate = st->estimate;

  const F reduce_max = kReduction == Reduction::kNearAndFar
                           ? splat<F>(FLT_MAX)
                           : splat<F>(static_cast<float>(kReduceMax));
  const I in_range = abs_lanes(estimate) <= reduce_max;  // false for NaN
  const D x = widen<D>(in_range ? estimate : splat<F>(0.0f));
  D s, c;
  if constexpr (kReduction == Reduction::kNearAndFar)
    sincos_near_far_lanes<W>(x, &s, &c);
  else
    sincos_lanes<W>(x, &s, &c);

  // f = ((E - sin(E)*e) - M) and d = (1 - cos(E)*e) in double, then float,
  // at both ends of the interval that holds libm's sin and cos. Every
  // operation is monotonic in sin (or cos), so f and d of libm's values lie
  // between the two ends; all of them fall as sin (or cos) grows when e >= 0
  // and rise when e < 0, so with slack carrying e's sign, s + slack gives the
  // low end and s - slack the high end.
  const auto slack = orbit.slack;
  const F f_lo = narrow<F>((x - (s + slack) * e) - st->mean_d);
  const F f_hi = narrow<F>((x - (s - slack) * e) - st->mean_d);
  const F d_lo = narrow<F>(1.0 - (c + slack) * e);
  const F d_hi = narrow<F>(1.0 - (c - slack) * e);
  F next_lo;
  I decided;
  if constexpr (kTest == StepTest::kOnFAndD) {
    // Where both ends of f are one float, and both of d, they are libm's f
    // and d, and the quotient and difference are the plain solve's own.
    next_lo = estimate - f_lo / d_lo;
    decided = in_range & (same_bits<I>(f_lo) == same_bits<I>(f_hi)) &
              (same_bits<I>(d_lo) == same_bits<I>(d_hi));
  } else {
    // The quotient is monotonic in f and, for d > 0, in d: its extremes over
    // the box are at these corners, and E - q is monotonic in q.
    const F q_hi = f_hi / (f_hi >= 0.0f ? d_lo : d_hi);
    const F q_lo = f_lo / (f_lo >= 0.0f ? d_hi : d_lo);
    next_lo = estimate - q_hi;
    const F next_hi = estimate - q_lo;
    // Compared as bits: equal floats are the same float (-0 is not 0 here).
    decided = in_range & (d_lo > 0.0f) & (same_bits<I>(next_lo) == same_bits<I>(next_hi));
  }

  status |= running & ~decided & int32_t{kUndecided};
  running &= decided;

  const F previous = running ? estimate : st->previous;
  const F next = running ? next_lo : estimate;
  const I steps = st->steps - running;  // running lanes are -1

  const I failed = running & (steps >= orbit.max_iterations);
  status |= failed & int32_t{kFailed};
  running &= ~failed;

  // The step test (see step_threshold): NaN never exceeds, 2^31 always does.
  const F step = next - previous;
  const F magnitude = abs_lanes(step);
  const I exceeds = magnitude >= orbit.step_threshold;
  status |= running & ~exceeds & int32_t{kSolved};
  running &= exceeds;

  st->estimate = next;
  st->previous = previous;
  st->steps = steps;
  st->status = status;
  st->running = running;
}

// nu = 2*atan2(sqrt(e+1)*sin(E/2), sqrt(1-e)*cos(E/2)) of the lanes whose
// status is kSolved, by kConversion, its value tested for rounding the same
// way; other lanes keep their status, and their true_anomaly is not to be
// used.
template <int W, Conversion kConversion, class O>
TRUEANOMALY_LANES_INLINE void finish_lanes(typename Lanes<W>::f estimate,
                                          typename Lanes<W>::i status_in, const O &orbit,
                                          float *true_anomaly, int32_t *status_out) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::f F;
  typedef typename Lanes<W>::i I;
  const F reduce_max = splat<F>(static_cast<float>(2.0 * kReduceMax));
  const I half_ok = abs_lanes(estimate) <= reduce_max;  // false for NaN
  const D E = widen<D>(half_ok ? estimate : splat<F>(0.0f));
  D sc, ss;
  half_angle_products<W>(E / 2.0, &sc, &ss);
  D nu;
  if constexpr (kConversion == Conversion::kOffset) {
    nu = true_anomaly_offset_lanes<W>(E, sc, ss, orbit.k_minus_1);
  } else {
    nu = wide_offset_nu<W>(E, sc, ss, orbit);
  }
  const F nu_lo = narrow<F>(nu - kTrueAnomalySlack);
  const F nu_hi = narrow<F>(nu + kTrueAnomalySlack);
  // Near the negative x axis libm's point could sit on the other side of
  // atan2's branch cut, where nu jumps by 4*pi: decide only where |nu| is
  // below 6.2831845f = 2*pi - 7.8e-7, i.e. (x, y) at least
  // 0.0999 * sin(3.9e-7) > 2^-25 from that axis, far more than dx + dy.
  const F abs_nu = abs_lanes(nu_lo);
  const I off_cut = abs_nu < 6.2831845f;
  const I nu_decided = half_ok & off_cut & (same_bits<I>(nu_lo) == same_bits<I>(nu_hi));
  const I undecided = (status_in == int32_t{kSolved}) & ~nu_decided;
  const I status = undecided ? splat<I>(int32_t{kUndecided}) : status_in;
  memcpy(true_anomaly, &nu_lo, sizeof nu_lo);
  memcpy(status_out, &status, sizeof status);
}

// One step of every group; true while any lane still runs.
template <int W, int K, StepTest kTest = StepTest::kOnEstimate, class Orbits>
TRUEANOMALY_LANES_INLINE bool step_groups(LaneState<W> *st, const Orbits &orbits) {
  bool running = false;
#pragma GCC unroll 8
  for (int j = 0; j < K; ++j) {
    iterate_lanes<W, Reduction::kNear, kTest>(&st[j], orbits[j]);
    running |= any_lane(st[j].running);
  }
  return running;
}

// Steps the groups until no lane runs.
template <int W, int K, class Orbits>
TRUEANOMALY_LANES_INLINE void step_until_stopped(LaneState<W> *st, const Orbits &orbits) {
  while (step_groups<W, K>(st, orbits)) {
  }
}

// The same, out of line, for blocks that need more than one step where one
// is the rule (see solve_lanes).
template <int W, int K, class Orbits>
__attribute__((noinline)) void step_on(LaneState<W> *st, const Orbits &orbits) {
  step_until_stopped<W, K>(st, orbits);
}

// How solve_lanes steps a block:
//   kUntilStopped  every group, until no lane runs
//   kOneStep       where nearly every element stops after its first step:
//                  that step written out straight, any further ones out of
//                  line; the block then needs no loop, and the compiler
//                  keeps less state alive across it (about 8 % faster at
//                  e <= 0.5, 4 % slower at e = 0.9 where nearly every block
//                  takes two steps)
//   kTwoSteps      where nearly every element stops within two steps: both
//                  written out straight for every lane, and no more; a block
//                  with a lane still running after them is left unsolved,
//                  for the caller to hand to another driver (no state is
//                  kept for a third step, which would cost the common case)
enum class StepRule { kUntilStopped, kOneStep, kTwoSteps };

// Solves K groups of W mean anomalies, group j with orbits[j] (one
// eccentricity for all, or one per lane; capped, and within
// eccentricity_in_vector_domain), by kRule; false, with *out unset, when
// kTwoSteps leaves a lane running. The groups are independent; running
// them side by side gives the CPU independent work while each waits on its
// own chain of dependent operations. Each group's step is one long chain
// (sin/cos, f and d, a division), so the CPU finds the other groups' work only
// if the compiler interleaves them: the vector paths are compiled with GCC's
// pre-allocation scheduler on for that reason (CMakeLists.txt).
//
// kConversion: see finish_lanes (kOffset only for one eccentricity within
// kOffsetFormMaxE).
template <int W, int K, StepRule kRule, Conversion kConversion, class Orbits>
TRUEANOMALY_LANES_INLINE bool solve_lanes(const float *mean_anomalies, const Orbits &orbits,
                                          BlockResult<W * K> *out) {
  LaneState<W> st[K];
#pragma GCC unroll 8
  for (int j = 0; j < K; ++j) start_lanes<W>(mean_anomalies + j * W, &st[j]);
  if constexpr (kRule == StepRule::kUntilStopped) {
    step_until_stopped<W, K>(st, orbits);
  } else if constexpr (kRule == StepRule::kOneStep) {
    if (step_groups<W, K, StepTest::kOnFAndD>(st, orbits)) step_on<W, K>(st, orbits);
  } else {
    step_groups<W, K, StepTest::kOnFAndD>(st, orbits);
    if (step_groups<W, K>(st, orbits)) {
      // Taking the state's address here, where a block is left (rare),
      // keeps it one array in memory rather than split into registers. On
      // AVX2, whose 16 registers cannot hold eight groups' state either
      // way, the compiler's own spilling measured 10-11 % slower at
      // 0.8 <= e <= 0.9 (slower than the straggler driver); on AVX-512
      // both measured the same.
      __asm__ volatile("" : : "r"(st) : "memory");
      return false;
    }
  }
#pragma GCC unroll 8
  for (int j = 0; j < K; ++j)
    finish_lanes<W, kConversion>(st[j].estimate, st[j].status, orbits[j],
                                 out->true_anomaly + j * W, out->status + j * W);
  return true;
}

// Stores the first n results of a solved block in index order; undecided
// elements are solved again by the plain solve from their mean anomaly,
// with eccentricity_of(k). An element that reaches the limit ends the
// store, it and later outputs untouched, or with keep_going is stored as
// NaN and the rest are stored too. Returns the index of the first such
// element, or n.
template <int B, class EccentricityOf>
inline int32_t store_block(const BlockResult<B> &r, const float *mean, EccentricityOf eccentricity_of,
                           int32_t n, int32_t max_iterations, int32_t tolerance, bool keep_going,
                           float *out) {
  int32_t first_failure = n;
  for (int32_t k = 0; k < n; ++k) {
    float value = r.true_anomaly[k];
    bool failed = r.status[k] == kFailed;
    if (r.status[k] == kUndecided)
      failed = !trueanomaly_solve(mean[k], eccentricity_of(k), max_iterations, tolerance, &value);
    if (failed) {
      if (!keep_going) return k;
      if (first_failure == n) first_failure = k;
      value = __builtin_nanf("");
    }
    out[k] = value;
  }
  return first_failure;
}

// True when every status of the block is kSolved, read back as the compiler
// chooses or (kByFours) four at a time. Four at a time, each load lies within
// one group's store, so the CPU forwards it rather than waiting for the
// stores to reach the cache: 2-5 % faster in the straggler driver, 4 % in
// the two-step block driver (its eight groups the compiler reads back in
// loads that span two groups' stores); in the one-step block driver the
// same change measured 2-3 % slower (the compiler's schedule of the whole
// block moves), so that one keeps the default.
typedef Lanes<4>::i FourStatuses;
template <bool kByFours, int B>
inline bool all_solved(const BlockResult<B> &r) {
  if constexpr (kByFours) {
    static_assert(B % 4 == 0, "whole fours");
    FourStatuses all = splat<FourStatuses>(int32_t{-1});
    for (int32_t k = 0; k < B; k += 4)
      all &= lanes_at<FourStatuses>(r.status + k) == int32_t{kSolved};
    return !any_lane(~all);
  } else {
    int32_t all = 1;
    for (int32_t k = 0; k < B; ++k) all &= r.status[k] == kSolved;
    return all != 0;
  }
}

// Stores a solved block of the call's elements base .. base+n-1 (all B at
// once when every lane solved, else through store_block) and folds its
// first failure into the call's *first_failure (count while none); true when
// the call must stop there. kByFours: see all_solved.
template <int B, bool kByFours = false, class EccentricityOf>
inline bool store_solved_block(const BlockResult<B> &r, const float *block,
                               EccentricityOf eccentricity_of, int32_t n, int64_t base,
                               int32_t count, int32_t max_iterations, int32_t tolerance,
                               bool keep_going, float *out, int32_t *first_failure) {
  const bool every_lane_solved = all_solved<kByFours>(r);
  if (n == B && every_lane_solved) {
    memcpy(out + base, r.true_anomaly, sizeof r.true_anomaly);
    return false;
  }
  const int32_t k = store_block(r, block, eccentricity_of, n, max_iterations, tolerance,
                                keep_going, out + base);
  if (k == n) return false;
  if (*first_failure == count) *first_failure = static_cast<int32_t>(base + k);
  return !keep_going;
}

// Copies elements base .. base+n-1 of `from` into a block of B, padding a
// short block with its last element: the padding then costs no extra Newton
// steps, and its results are never stored.
template <int B>
inline void load_block(const float *from, int64_t base, int32_t n, float (&block)[B]) {
  if (n == B) {
    memcpy(block, from + base, sizeof block);
  } else {
    for (int32_t k = 0; k < B; ++k) block[k] = from[base + (k < n ? k : n - 1)];
  }
}

// The array conversion on blocks of K groups of W lanes stepped by kRule,
// one eccentricity (capped, within eccentricity_in_vector_domain, and within
// kOffsetFormMaxE for kConversion == kOffset). Blocks are solved ahead of the
// stores, but outputs are written strictly in index order (see store_block).
// Returns the index of the first element that reached the limit, or count.
// With kTwoSteps the call may end early at a block left unsolved:
// *unsolved is then the index of its first element, for another driver to
// go on from (nothing from there on has been written), and count otherwise.
template <int W, int K, StepRule kRule, Conversion kConversion>
inline int32_t convert_blocks(const float *in, int32_t count, float e, float *out,
                              int32_t max_iterations, int32_t tolerance, bool keep_going,
                              int32_t *unsolved = nullptr) {
  const Orbit orbit = make_orbit(e, max_iterations, tolerance);
  constexpr int32_t B = W * K;
  int32_t first_failure = count;
  // base is 64-bit: with count near INT32_MAX, base + B would overflow int32_t.
  for (int64_t base = 0; base < count; base += B) {
    const int32_t n = count - base < B ? static_cast<int32_t>(count - base) : B;
    float block[B];
    load_block(in, base, n, block);
    BlockResult<B> r;
    if (!solve_lanes<W, K, kRule, kConversion>(block, SameOrbit{orbit}, &r)) {
      *unsolved = static_cast<int32_t>(base);
      return first_failure;
    }
    if (store_solved_block<B, kRule == StepRule::kTwoSteps>(
            r, block, [e](int32_t) { return e; }, n, base, count, max_iterations, tolerance,
            keep_going, out, &first_failure))
      break;
  }
  if (unsolved) *unsolved = count;
  return first_failure;
}

}  // namespace
}  // namespace trueanomaly_detail


#endif  // TRUEANOMALY_LANES_KEPLER_H
