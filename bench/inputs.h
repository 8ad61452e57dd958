// SPDX-License-Identifier: BSD-3-Clause
// The benchmark's inputs and the bit-for-bit comparison of outputs.
#ifndef TRUEANOMALY_BENCH_INPUTS_H
#define TRUEANOMALY_BENCH_INPUTS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace bench {

// Mean anomalies drawn uniformly from [0, 2*pi) with a fixed seed, keeping
// only those the libm loop solves within `max_iterations` (at e <= 0.9 it
// solves all of them; at 0.99 a few draws reach the limit of 100 and are
// dropped), together with the libm loop's outputs for them.
struct InputSet {
  float eccentricity = 0.0f;
  std::vector<float> mean_anomalies;
  std::vector<float> reference;  // libm loop outputs, bit for bit
  uint64_t draws = 0;            // draws made to keep mean_anomalies.size()
};

InputSet make_inputs(float eccentricity, size_t count, int32_t max_iterations,
                     int32_t tolerance, uint64_t seed);

// Index of the first element whose bit pattern differs, or -1 if none does.
// Bits, not values: +0 and -0 differ. Any two NaNs match (a NaN's payload is
// not part of the library's results).
int64_t first_difference(const float *a, const float *b, size_t count);

}  // namespace bench

#endif  // TRUEANOMALY_BENCH_INPUTS_H
