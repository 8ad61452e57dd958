// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// What the lanes of a group share about their orbit: the eccentricity, one
// for the call or one per lane, and what the rounding tests and the
// conversion derive from it; the step test as a threshold.
#ifndef TRUEANOMALY_DRIVERS_ORBIT_H
#define TRUEANOMALY_DRIVERS_ORBIT_H

#include <stdint.h>

#include "drivers/slacks.h"
#include "solve.h"
#include "kernels/lanes.h"
#include "kernels/sincos.h"
#include "kernels/true_anomaly_offset.h"

namespace trueanomaly_detail {
namespace {

// What the lanes of a group share: the eccentricity and what follows from
// it, as one double for the whole call (E = double) or one per lane
// (E = Lanes<W>::Doubles, for calls with an eccentricity per element). The lane
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
  // Both roots in one instruction: clang, keeping errno, calls libm's sqrt
  // for a scalar __builtin_sqrt (two calls per driver call, on short calls'
  // critical path); correctly rounded either way.
  typedef double Pair __attribute__((vector_size(16)));
  const Pair roots = sqrt_lanes(Pair{1.0 - e, e + 1.0});
  const double sqrt_1me = roots[0], sqrt_1pe = roots[1];
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
struct LaneOrbit : OrbitOf<typename Lanes<W>::Doubles> {};

// nu by the wide offset form (true_anomaly_offset_wide_lanes), with k - 1
// as gap/scale: for one eccentricity k - 1 over 1, from the call's orbit;
// per lane sqrt(1+e) - sqrt(1-e) over sqrt(1-e), per group, where the square
// roots are not held in registers through the iteration and no division is
// needed.
template <int W>
TRUEANOMALY_LANES_INLINE typename Lanes<W>::Doubles wide_offset_nu(typename Lanes<W>::Doubles E,
                                                             typename Lanes<W>::Doubles sc,
                                                             typename Lanes<W>::Doubles ss,
                                                             const Orbit &o) {
  return true_anomaly_offset_wide_lanes<W>(E, sc, ss, 1.0, o.k_minus_1);
}
template <int W>
TRUEANOMALY_LANES_INLINE typename Lanes<W>::Doubles wide_offset_nu(typename Lanes<W>::Doubles E,
                                                             typename Lanes<W>::Doubles sc,
                                                             typename Lanes<W>::Doubles ss,
                                                             const LaneOrbit<W> &o) {
  const typename Lanes<W>::Doubles scale = sqrt_lanes(1.0 - o.e);
  return true_anomaly_offset_wide_lanes<W>(E, sc, ss, scale, sqrt_lanes(o.e + 1.0) - scale);
}

template <int W>
TRUEANOMALY_LANES_INLINE LaneOrbit<W> make_lane_orbit(typename Lanes<W>::Floats eccentricities,
                                                     int32_t max_iterations,
                                                     float threshold) {
  typedef typename Lanes<W>::Doubles D;
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
  e = e >= kCapValue ? splat<F>(kCapValue) : e;
  const I in_domain = e >= -kVectorMaxE;
  *outside = ~in_domain;
  *lane_e = in_domain ? e : splat<F>(0.0f);
  return e;
}


}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_ORBIT_H
