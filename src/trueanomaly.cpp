// SPDX-License-Identifier: BSD-3-Clause
// The two exported entries: cap the eccentricity, check the arguments,
// run the solve (solve.cpp) once or over the array on the best path
// (dispatch.cpp). Nothing else in the library is visible outside it.
#include "trueanomaly.h"

#include "dispatch.h"
#include "solve.h"

using namespace trueanomaly_detail;

extern "C" float trueanomaly(float mean_anomaly, float eccentricity,
                             int32_t max_iterations, int32_t tolerance) {
  float result;
  // One element gains nothing from the vector paths: their approximations
  // have no shorter latency than libm's, so the scalar entry is the plain solve.
  if (!trueanomaly_solve(mean_anomaly, cap_eccentricity(eccentricity),
                         max_iterations, tolerance, &result))
    return -1.0f;
  return result;
}

extern "C" int32_t trueanomaly_array(const float *mean_anomalies, int32_t count,
                                     float eccentricity, float *true_anomalies,
                                     int32_t max_iterations, int32_t tolerance) {
  if (count <= 0) return 0;
  if (mean_anomalies == nullptr || true_anomalies == nullptr) return -1;
  return convert_array_best(mean_anomalies, count,
                            cap_eccentricity(eccentricity), true_anomalies,
                            max_iterations, tolerance);
}
