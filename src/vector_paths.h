// Entry points of the vectorised paths, one translation unit per instruction
// set. Callers must have checked the CPU (path_available), that the caller's
// MXCSR is the default and eccentricity_in_vector_domain().
#ifndef TRUEANOMALY_VECTOR_PATHS_H
#define TRUEANOMALY_VECTOR_PATHS_H

#include <stdint.h>

namespace trueanomaly_detail {

// |e| <= 0.99f keeps the slope 1 - e*cos(E) at 0.0099 or more and the point
// (sqrt(1-e)*cos(E/2), sqrt(1+e)*sin(E/2)) at least 0.0999 from the origin,
// which the rounding tests' bounds rely on. NaN is outside.
inline bool eccentricity_in_vector_domain(float e) { return e >= -0.99f && e <= 0.99f; }

int32_t convert_array_avx2(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance);
int32_t convert_array_avx512(const float *in, int32_t count, float e, float *out,
                             int32_t max_iterations, int32_t tolerance);

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_VECTOR_PATHS_H
