// SPDX-License-Identifier: BSD-3-Clause
// The plain path: the libm solve, one element at a time, on any CPU and in
// any floating-point mode. The vector paths hand it what they cannot decide.
#include "paths.h"
#include "solve.h"

namespace trueanomaly_detail {

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

}  // namespace trueanomaly_detail
