// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// One Newton step and the conversion over W lanes at once, with a rounding
// test on every value the result depends on, and the slacks those tests
// allow for libm.
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
#ifndef TRUEANOMALY_DRIVERS_ROUNDING_TESTS_H
#define TRUEANOMALY_DRIVERS_ROUNDING_TESTS_H

#include <float.h>
#include <stdint.h>
#include <string.h>

#include "drivers/orbit.h"
#include "drivers/slacks.h"
#include "kernels/lanes.h"
#include "kernels/sincos.h"
#include "kernels/true_anomaly_offset.h"

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

// How finish_lanes computes nu (true_anomaly_offset.h), E plus the atan of
// a quotient, with no quadrant logic:
//   kOffset      true_anomaly_offset_lanes, for one eccentricity with
//                |e| <= kOffsetFormMaxE (no octant step either: the block
//                driver)
//   kOffsetWide  true_anomaly_offset_wide_lanes, for any e of the vector
//                domain, one for the call or one per lane (the straggler
//                driver)
// Against x and y and atan2_lanes, kOffset takes a third fewer operations,
// and kOffsetWide too needs no quadrant logic.
enum class Conversion { kOffset, kOffsetWide };

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
  typename Lanes<W>::Doubles mean_d;
  typename Lanes<W>::Floats mean, estimate, previous;
  typename Lanes<W>::Int32s steps, status, running;
};

template <int W>
TRUEANOMALY_LANES_INLINE void start_lanes(const float *mean_anomalies, LaneState<W> *st) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Int32s I;
  memcpy(&st->mean, mean_anomalies, sizeof st->mean);
  st->mean_d = widen<D>(st->mean);
  st->estimate = st->previous = st->mean;
  st->steps = splat<I>(int32_t{0});
  st->status = splat<I>(int32_t{kRunning});
  st->running = splat<I>(int32_t{-1});
}

// One Newton step's sin and cos: the lanes' estimates within reach of the
// reduction (others as 0), and their sine and cosine.
template <int W>
struct StepSinCos {
  typename Lanes<W>::Doubles x, s, c;
  typename Lanes<W>::Int32s in_range;
};

template <int W, Reduction kReduction>
TRUEANOMALY_LANES_INLINE void step_sincos(const LaneState<W> *st, StepSinCos<W> *t) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
  const F estimate = st->estimate;
  const F reduce_max = kReduction == Reduction::kNearAndFar
                           ? splat<F>(FLT_MAX)
                           : splat<F>(static_cast<float>(kReduceMax));
  t->in_range = abs_lanes(estimate) <= reduce_max;  // false for NaN
  t->x = widen<D>(t->in_range ? estimate : splat<F>(0.0f));
  if constexpr (kReduction == Reduction::kNearAndFar)
    sincos_near_far_lanes<W>(t->x, &t->s, &t->c);
  else
    sincos_lanes<W>(t->x, &t->s, &t->c);
}

// One Newton step and the limit and step tests, on the lanes still running.
template <int W, Reduction kReduction, StepTest kTest, class O>
TRUEANOMALY_LANES_INLINE void step_from_sincos(LaneState<W> *st, const StepSinCos<W> &t,
                                               const O &orbit) {
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
  const auto e = orbit.e;
  I running = st->running;
  I status = st->status;
  const F estimate = st->estimate;
  const auto x = t.x, s = t.s, c = t.c;
  const I in_range = t.in_range;
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

  // The new estimate and the one before it, for the lanes that ran (a lane
  // this step leaves undecided holds values never used) or that ran and were
  // decided: the same values wherever they are used. In later steps the
  // selection then waits only on the quotient, not on the test that decides
  // it, which shortens the chain from step to step; first steps (the
  // one-step blocks' common path) keep the test first, which clang compiles
  // to the faster code there (docs/performance.md).
  const I ran = running;
  if constexpr (kTest == StepTest::kOnFAndD) running &= decided;
  const F previous = running ? estimate : st->previous;
  const F next = running ? next_lo : estimate;

  status |= ran & ~decided & int32_t{kUndecided};
  running = ran & decided;
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

// One Newton step of one group.
template <int W, Reduction kReduction = Reduction::kNear, StepTest kTest = StepTest::kOnEstimate,
          class O>
TRUEANOMALY_LANES_INLINE void iterate_lanes(LaneState<W> *st, const O &orbit) {
  StepSinCos<W> t;
  step_sincos<W, kReduction>(st, &t);
  step_from_sincos<W, kReduction, kTest>(st, t, orbit);
}

// Whether a block's groups are written out stage by stage across the groups
// (every group's sin and cos, then every group's step; every group's half
// angles, then every group's nu) or group after group. Each group is one
// long chain of dependent operations, and the CPU overlaps the groups only
// where their code lies close together. GCC's pre-allocation scheduler
// interleaves them itself (CMakeLists.txt), and from the staged order its
// schedule measured slower, but for AVX-512's blocks of five groups (a
// short call's last block), where the staged order is 5-9 % faster; clang
// keeps roughly the order it is given, and needs the stages
// (docs/performance.md). Only the order of independent operations differs:
// every lane's operations are the same.
template <int W, int kGroups>
constexpr bool kStageGroupsInSource =
#if defined(__clang__)
    true;
#else
    W == 8 && kGroups == 5;
#endif

// A block's orbit for group j: one for every group, or one per group.
template <class O>
__attribute__((always_inline)) inline const O &group_orbit(const O &orbit, int) {
  return orbit;
}
template <class O, int kGroups>
__attribute__((always_inline)) inline const O &group_orbit(const O (&orbits)[kGroups], int j) {
  return orbits[j];
}

// One Newton step of kGroups groups (iterate_lanes of each); orbit is one
// for every group or an array of one per group.
template <int W, int kGroups, Reduction kReduction = Reduction::kNear,
          StepTest kTest = StepTest::kOnEstimate, class Orbits>
TRUEANOMALY_LANES_INLINE void iterate_groups(LaneState<W> *st, const Orbits &orbit) {
  if constexpr (kStageGroupsInSource<W, kGroups>) {
    StepSinCos<W> t[kGroups];
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j) step_sincos<W, kReduction>(&st[j], &t[j]);
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j)
      step_from_sincos<W, kReduction, kTest>(&st[j], t[j], group_orbit(orbit, j));
  } else {
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j)
      iterate_lanes<W, kReduction, kTest>(&st[j], group_orbit(orbit, j));
  }
}

// The conversion's half-angle products of W lanes' estimates (others as 0).
template <int W>
struct HalfAngles {
  typename Lanes<W>::Doubles E, sc, ss;
  typename Lanes<W>::Int32s half_ok;
};

template <int W>
TRUEANOMALY_LANES_INLINE void half_angles(typename Lanes<W>::Floats estimate, HalfAngles<W> *h) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
  const F reduce_max = splat<F>(static_cast<float>(2.0 * kReduceMax));
  h->half_ok = abs_lanes(estimate) <= reduce_max;  // false for NaN
  h->E = widen<D>(h->half_ok ? estimate : splat<F>(0.0f));
  // E/2 as a product, exact as the quotient is: under -frounding-math clang
  // keeps a division by 2 a division, at a division's cost.
  half_angle_products<W>(h->E * 0.5, &h->sc, &h->ss);
}

// nu = 2*atan2(sqrt(e+1)*sin(E/2), sqrt(1-e)*cos(E/2)) of the lanes whose
// status is kSolved, by kConversion, its value tested for rounding the same
// way; other lanes keep their status, and their true_anomaly is not to be
// used.
template <int W, Conversion kConversion, class O>
TRUEANOMALY_LANES_INLINE void finish_from_half_angles(const HalfAngles<W> &h,
                                                      typename Lanes<W>::Int32s status_in,
                                                      const O &orbit, float *true_anomaly,
                                                      int32_t *status_out) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
  D nu;
  if constexpr (kConversion == Conversion::kOffset) {
    nu = true_anomaly_offset_lanes<W>(h.E, h.sc, h.ss, orbit.k_minus_1);
  } else {
    nu = wide_offset_nu<W>(h.E, h.sc, h.ss, orbit);
  }
  const F nu_lo = narrow<F>(nu - kTrueAnomalySlack);
  const F nu_hi = narrow<F>(nu + kTrueAnomalySlack);
  // Near the negative x axis libm's point could sit on the other side of
  // atan2's branch cut, where nu jumps by 4*pi: decide only below
  // kBranchCutLimit (error_budget.h).
  const F abs_nu = abs_lanes(nu_lo);
  const I off_cut = abs_nu < kBranchCutLimit;
  const I nu_decided = h.half_ok & off_cut & (same_bits<I>(nu_lo) == same_bits<I>(nu_hi));
  const I undecided = (status_in == int32_t{kSolved}) & ~nu_decided;
  const I status = undecided ? splat<I>(int32_t{kUndecided}) : status_in;
  memcpy(true_anomaly, &nu_lo, sizeof nu_lo);
  memcpy(status_out, &status, sizeof status);
}

template <int W, Conversion kConversion, class O>
TRUEANOMALY_LANES_INLINE void finish_lanes(typename Lanes<W>::Floats estimate,
                                          typename Lanes<W>::Int32s status_in, const O &orbit,
                                          float *true_anomaly, int32_t *status_out) {
  HalfAngles<W> h;
  half_angles<W>(estimate, &h);
  finish_from_half_angles<W, kConversion>(h, status_in, orbit, true_anomaly, status_out);
}

// finish_lanes of kGroups groups (see kStageGroupsInSource), orbit as for
// iterate_groups; group j's results at true_anomaly + j*W, status_out + j*W.
template <int W, int kGroups, Conversion kConversion, class Orbits>
TRUEANOMALY_LANES_INLINE void finish_groups(const typename Lanes<W>::Floats *estimate,
                                           const typename Lanes<W>::Int32s *status_in,
                                           const Orbits &orbit, float *true_anomaly,
                                           int32_t *status_out) {
  if constexpr (kStageGroupsInSource<W, kGroups>) {
    HalfAngles<W> h[kGroups];
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j) half_angles<W>(estimate[j], &h[j]);
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j)
      finish_from_half_angles<W, kConversion>(h[j], status_in[j], group_orbit(orbit, j),
                                              true_anomaly + j * W, status_out + j * W);
  } else {
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j)
      finish_lanes<W, kConversion>(estimate[j], status_in[j], group_orbit(orbit, j),
                                   true_anomaly + j * W, status_out + j * W);
  }
}

// The same for the groups' states.
template <int W, int kGroups, Conversion kConversion, class Orbits>
TRUEANOMALY_LANES_INLINE void finish_groups(const LaneState<W> *st, const Orbits &orbit,
                                           float *true_anomaly, int32_t *status_out) {
  typename Lanes<W>::Floats estimate[kGroups];
  typename Lanes<W>::Int32s status[kGroups];
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) {
    estimate[j] = st[j].estimate;
    status[j] = st[j].status;
  }
  finish_groups<W, kGroups, kConversion>(estimate, status, orbit, true_anomaly, status_out);
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_ROUNDING_TESTS_H
