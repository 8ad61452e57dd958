// SPDX-License-Identifier: BSD-3-Clause
// The per-element solve, canonical: every other form of the solve (the
// vector lanes, the test model, the benchmark's libm loop) must give its
// results bit for bit. Newton-Raphson on Kepler's equation from E = M, the
// iterate in float, f, d and the conversion in double, libm's sin, cos and
// atan2, no fused multiply-add (the build compiles this with
// -ffp-contract=off and refuses flags that reassociate).
#include "solve.h"

#include <math.h>

#if defined(__FAST_MATH__) || defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "libtrueanomaly must not be compiled with -ffast-math or -ffinite-math-only: results would change"
#endif
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

namespace trueanomaly_detail {

float newton_step(float estimate, float mean_anomaly, float eccentricity) {
  const double E = estimate;
  const double e = eccentricity;
  const double M = mean_anomaly;
  const float f = static_cast<float>((E - sin(E) * e) - M);
  const float d = static_cast<float>(1.0 - cos(E) * e);
  return estimate - f / d;
}

float true_anomaly_of(float eccentric_anomaly, float eccentricity) {
  const double E = eccentric_anomaly;
  const double e = eccentricity;
  const double x = sqrt(1.0 - e) * cos(E / 2.0);
  const double y = sqrt(e + 1.0) * sin(E / 2.0);
  return static_cast<float>(2.0 * atan2(y, x));
}

bool trueanomaly_solve(float mean_anomaly, float eccentricity,
                       int32_t max_iterations, int32_t tolerance,
                       float *true_anomaly) {
  float estimate = mean_anomaly;
  float previous = mean_anomaly;
  // n never passes max_iterations <= INT32_MAX, so n + 1 cannot overflow.
  for (int32_t n = 0; n == 0 || step_exceeds_tolerance(estimate - previous, tolerance);) {
    previous = estimate;
    estimate = newton_step(estimate, mean_anomaly, eccentricity);
    ++n;
    if (n >= max_iterations) return false;
  }
  *true_anomaly = true_anomaly_of(estimate, eccentricity);
  return true;
}

}  // namespace trueanomaly_detail
