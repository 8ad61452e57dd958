// SPDX-License-Identifier: BSD-3-Clause
// Built with -ffp-contract=off (see CMakeLists.txt): no product is fused with
// the following subtraction, exactly as in the library.
#include "libm_loop.h"

#include <math.h>

namespace bench {

namespace {

// |trunc(step)| > tolerance, without an out-of-range conversion: NaN stops,
// 2^31 and beyond (infinities included) never does.
bool keeps_going(float step, int32_t tolerance) {
  if (isnan(step)) return false;
  const float magnitude = fabsf(step);
  if (magnitude >= 2147483648.0f) return true;
  return static_cast<int32_t>(magnitude) > tolerance;
}

}  // namespace

bool libm_solve(float mean_anomaly, float eccentricity, int32_t max_iterations,
                int32_t tolerance, float *true_anomaly) {
  const double e = eccentricity;
  const double M = mean_anomaly;
  float E = mean_anomaly;
  float E_prev = mean_anomaly;
  int32_t n = 0;
  while (n == 0 || keeps_going(E - E_prev, tolerance)) {
    E_prev = E;
    const double Ed = E;
    const float f = static_cast<float>((Ed - sin(Ed) * e) - M);
    const float d = static_cast<float>(1.0 - cos(Ed) * e);
    E = E_prev - f / d;
    if (++n >= max_iterations) return false;
  }
  const double Ed = E;
  const double x = sqrt(1.0 - e) * cos(Ed / 2.0);
  const double y = sqrt(e + 1.0) * sin(Ed / 2.0);
  *true_anomaly = static_cast<float>(2.0 * atan2(y, x));
  return true;
}

int32_t libm_loop(const float *in, int32_t count, float eccentricity,
                  float *out, int32_t max_iterations, int32_t tolerance) {
  for (int32_t i = 0; i < count; ++i) {
    float nu;
    if (!libm_solve(in[i], eccentricity, max_iterations, tolerance, &nu)) return -1;
    out[i] = nu;
  }
  return 0;
}

}  // namespace bench
