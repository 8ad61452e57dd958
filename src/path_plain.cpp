// SPDX-License-Identifier: BSD-3-Clause
// The plain path: the libm solve, one element at a time, on any CPU and in
// any floating-point mode. The vector paths and the scalar kernel hand it
// what they cannot decide.
#include "path_plain.h"

#include "solve.h"
#include "solve_one.h"

namespace trueanomaly_detail {

float solve_one_plain(float mean_anomaly, float eccentricity, int32_t max_iterations,
                      int32_t tolerance) {
  float result;
  if (!trueanomaly_solve(mean_anomaly, eccentricity, max_iterations, tolerance, &result))
    return -1.0f;
  return result;
}

int32_t convert_array_plain(const float *in, int32_t count, float e, float *out,
                            int32_t max_iterations, int32_t tolerance) {
  for (int32_t i = 0; i < count; ++i) {
    float result;
    // Element i is read before output i is written, so in-place use is safe.
    if (!trueanomaly_solve(in[i], e, max_iterations, tolerance, &result)) return -1;
    out[i] = result;
  }
  return 0;
}

namespace {
template <class EccentricityOf>
int32_t convert_each_plain(const float *in, EccentricityOf eccentricity_of, int32_t count,
                           float *out, int32_t max_iterations, int32_t tolerance,
                           bool keep_going) {
  int32_t first_failure = count;
  for (int32_t i = 0; i < count; ++i) {
    float result;
    if (!trueanomaly_solve(in[i], eccentricity_of(i), max_iterations, tolerance, &result)) {
      if (!keep_going) return i;
      if (first_failure == count) first_failure = i;
      result = __builtin_nanf("");
    }
    out[i] = result;
  }
  return first_failure;
}
}  // namespace

int32_t convert_one_orbit_plain(const float *in, int32_t count, float e, float *out,
                                int32_t max_iterations, int32_t tolerance, bool keep_going) {
  return convert_each_plain(
      in, [e](int32_t) { return e; }, count, out, max_iterations, tolerance, keep_going);
}

int32_t convert_per_element_plain(const float *in, const float *eccentricities, int32_t count,
                                  float *out, int32_t max_iterations, int32_t tolerance,
                                  bool keep_going) {
  return convert_each_plain(
      in, [eccentricities](int32_t i) { return cap_eccentricity(eccentricities[i]); }, count,
      out, max_iterations, tolerance, keep_going);
}

namespace {
int32_t convert_elements_plain(const float *in, const float *eccentricities, int32_t e_step,
                               int32_t count, float *out, int32_t max_iterations,
                               int32_t tolerance, bool keep_going) {
  if (e_step == 0)
    return convert_one_orbit_plain(in, count, cap_eccentricity(eccentricities[0]), out,
                                   max_iterations, tolerance, keep_going);
  return convert_per_element_plain(in, eccentricities, count, out, max_iterations, tolerance,
                                   keep_going);
}
}  // namespace

extern const Implementation kPlain = {
    "plain", "plain", CpuRequirement::none, {1, 1, 1, 0},
    convert_array_plain, convert_elements_plain, solve_one_plain};

}  // namespace trueanomaly_detail
