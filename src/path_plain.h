// SPDX-License-Identifier: BSD-3-Clause
// The plain implementation's conversions (path_plain.cpp): the libm solve,
// one element at a time, on any CPU and in any floating-point mode. The
// vector implementations hand them what their kernels cannot do.
#ifndef TRUEANOMALY_PATH_PLAIN_H
#define TRUEANOMALY_PATH_PLAIN_H

#include <stdint.h>

#include "implementation.h"

namespace trueanomaly_detail {

// As ConvertFn (implementation.h).
int32_t convert_array_plain(const float *in, int32_t count, float eccentricity, float *out,
                            int32_t max_iterations, int32_t tolerance);

// As ElementsFn, for one eccentricity (capped) and for one per element (not
// yet capped).
int32_t convert_one_orbit_plain(const float *in, int32_t count, float eccentricity, float *out,
                                int32_t max_iterations, int32_t tolerance, bool keep_going);
int32_t convert_per_element_plain(const float *in, const float *eccentricities, int32_t count,
                                  float *out, int32_t max_iterations, int32_t tolerance,
                                  bool keep_going);

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_PATH_PLAIN_H
