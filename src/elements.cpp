// SPDX-License-Identifier: BSD-3-Clause
// The Python module's conversion (elements.h) on the best path (dispatch.cpp).
#include "elements.h"

#include "dispatch.h"

extern "C" int32_t trueanomaly_convert_elements(const float *mean_anomalies,
                                                const float *eccentricities,
                                                int32_t eccentricity_step, int32_t count,
                                                float *true_anomalies, int32_t max_iterations,
                                                int32_t tolerance, int keep_going) {
  if (count <= 0) return 0;
  return trueanomaly_detail::convert_elements_best(
      mean_anomalies, eccentricities, eccentricity_step != 0 ? 1 : 0, count, true_anomalies,
      max_iterations, tolerance, keep_going != 0);
}
