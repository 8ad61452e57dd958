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

// One Newton step and the limit and step tests, on the lanes still running.
template <int W, Reduction kReduction = Reduction::kNear, StepTest kTest = StepTest::kOnEstimate,
          class O>
TRUEANOMALY_LANES_INLINE void iterate_lanes(LaneState<W> *st, const O &orbit) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
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

// nu = 2*atan2(sqrt(e+1)*sin(E/2), sqrt(1-e)*cos(E/2)) of the lanes whose
// status is kSolved, by kConversion, its value tested for rounding the same
// way; other lanes keep their status, and their true_anomaly is not to be
// used.
template <int W, Conversion kConversion, class O>
TRUEANOMALY_LANES_INLINE void finish_lanes(typename Lanes<W>::Floats estimate,
                                          typename Lanes<W>::Int32s status_in, const O &orbit,
                                          float *true_anomaly, int32_t *status_out) {
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
  typedef typename Lanes<W>::Int32s I;
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
  // atan2's branch cut, where nu jumps by 4*pi: decide only below
  // kBranchCutLimit (error_budget.h).
  const F abs_nu = abs_lanes(nu_lo);
  const I off_cut = abs_nu < kBranchCutLimit;
  const I nu_decided = half_ok & off_cut & (same_bits<I>(nu_lo) == same_bits<I>(nu_hi));
  const I undecided = (status_in == int32_t{kSolved}) & ~nu_decided;
  const I status = undecided ? splat<I>(int32_t{kUndecided}) : status_in;
  memcpy(true_anomaly, &nu_lo, sizeof nu_lo);
  memcpy(status_out, &status, sizeof status);
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_ROUNDING_TESTS_H
