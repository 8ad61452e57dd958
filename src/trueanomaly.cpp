// SPDX-License-Identifier: BSD-3-Clause
// The two exported entries: cap the eccentricity, check the arguments,
// solve one element with the best solve for this CPU or the array on the
// best path (both chosen at load time, dispatch.cpp). Nothing else in the
// library is visible outside it.
#include "trueanomaly.h"

#include "dispatch.h"
#include "solve.h"

using namespace trueanomaly_detail;

extern "C" float trueanomaly(float mean_anomaly, float eccentricity,
                             int32_t max_iterations, int32_t tolerance) {
  // The kernel solve_one_avx2 on CPUs with AVX2 and FMA (the vector kernels
  // in a chain shaped for one element's latency, under rounding tests, the
  // plain solve for what they cannot decide), the plain solve elsewhere:
  // the same bits either way.
  return solve_one_best(mean_anomaly, cap_eccentricity(eccentricity), max_iterations, tolerance);
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
