// SPDX-License-Identifier: BSD-3-Clause
// The per-element solve (solve.cpp) and the two rules every form of it
// shares: the eccentricity cap and the stopping test.
// Nothing here is exported: the library is built with -fvisibility=hidden and
// a version script that keeps only the two entries global.
#ifndef TRUEANOMALY_SOLVE_H
#define TRUEANOMALY_SOLVE_H

#include <stdint.h>

namespace trueanomaly_detail {

// The two rules below are inline in every translation unit that includes
// them, including the vector paths' ones, compiled for wider instruction
// sets: the anonymous namespace keeps each unit's copy its own, so that an
// unoptimised build cannot link one unit's AVX copy into code that runs on
// any CPU.
namespace {

// Eccentricities above the double nearest 0.99 become the float nearest 0.99.
// NaN fails the comparison and passes through, as do zero and negative values.
// No float lies strictly between the two forms of 0.99, so for non-NaN input
// this is min(e, 0.99f).
constexpr double kCapThreshold = 0.99;  // the double nearest 0.99
constexpr float kCapValue = 0.99f;      // the float nearest 0.99
inline float cap_eccentricity(float eccentricity) {
  if (static_cast<double>(eccentricity) > kCapThreshold) {
    eccentricity = kCapValue;
#if defined(__x86_64__)
    // Keeps the branch (as predictable as the caller's eccentricity): with
    // AVX-512 enabled (-march=native) clang makes the choice a move masked
    // by a mask register, which cost the scalar entry 14 ns a call on Zen 4
    // (docs/performance.md).
    __asm__("" : "+x"(eccentricity));
#endif
  }
  return eccentricity;
}

// The stopping test: does |trunc(step)|, as a 32-bit integer, exceed the
// tolerance? A NaN step is within every tolerance; a step of magnitude 2^31 or
// more (infinities included) exceeds every one. The float is range-checked
// before the conversion, so no out-of-range conversion and no abs(INT32_MIN)
// can happen: |trunc(x)| == trunc(|x|), and |x| < 2^31 fits in int32_t.
inline bool step_exceeds_tolerance(float step, int32_t tolerance) {
  if (step != step) return false;
  const float magnitude = step < 0.0f ? -step : step;
  if (!(magnitude < 2147483648.0f)) return true;
  return static_cast<int32_t>(magnitude) > tolerance;
}

}  // namespace

// One Newton step of Kepler's equation from estimate E: the new estimate.
// f and d are evaluated in double, left to right, each product rounded before
// the subtraction (the library is compiled with -ffp-contract=off), and each
// rounded once to float; the quotient and the difference are float operations.
float newton_step(float estimate, float mean_anomaly, float eccentricity);

// 2*atan2(sqrt(e+1)*sin(E/2), sqrt(1-e)*cos(E/2)) in double, rounded to float.
float true_anomaly_of(float eccentric_anomaly, float eccentricity);

// The per-element solve. `eccentricity` must already be capped. Returns true
// and stores the true anomaly on success; returns false, storing nothing, when
// the iteration limit is reached.
bool trueanomaly_solve(float mean_anomaly, float eccentricity,
                       int32_t max_iterations, int32_t tolerance,
                       float *true_anomaly);

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_SOLVE_H
