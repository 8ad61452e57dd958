// SPDX-License-Identifier: BSD-3-Clause
#include "inputs.h"

#include <string.h>

#include <random>

#include "libm_loop.h"

namespace bench {

InputSet make_inputs(float eccentricity, size_t count, int32_t max_iterations,
                     int32_t tolerance, uint64_t seed) {
  constexpr double two_pi = 6.283185307179586476925;
  InputSet set;
  set.eccentricity = eccentricity;
  set.mean_anomalies.reserve(count);
  set.reference.reserve(count);
  std::mt19937_64 rng(seed);  // fully specified by the standard: same draws everywhere
  while (set.mean_anomalies.size() < count) {
    ++set.draws;
    const double u = static_cast<double>(rng() >> 11) * 0x1p-53;  // [0, 1)
    const float m = static_cast<float>(u * two_pi);
    if (!(static_cast<double>(m) < two_pi)) continue;  // rounded up to 2*pi's float
    float nu;
    if (!libm_solve(m, eccentricity, max_iterations, tolerance, &nu)) continue;
    set.mean_anomalies.push_back(m);
    set.reference.push_back(nu);
  }
  return set;
}

int64_t first_difference(const float *a, const float *b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t x, y;
    memcpy(&x, &a[i], sizeof x);
    memcpy(&y, &b[i], sizeof y);
    if (x != y && !(a[i] != a[i] && b[i] != b[i])) return static_cast<int64_t>(i);
  }
  return -1;
}

}  // namespace bench
