// SPDX-License-Identifier: BSD-3-Clause
// The reference the library is timed against: the straightforward solve with
// the system's libm, one element after another. It follows the library's
// numerical pattern to the bit, so the library's outputs must equal its own.
#ifndef TRUEANOMALY_BENCH_LIBM_LOOP_H
#define TRUEANOMALY_BENCH_LIBM_LOOP_H

#include <stdint.h>

namespace bench {

// Newton-Raphson from E = M with f and d in double, rounded to float, and the
// step E - f/d in float; the whole-radian step test and the limit test as the
// library makes them; then 2*atan2(sqrt(e+1)*sin(E/2), sqrt(1-e)*cos(E/2)).
// `eccentricity` must already be capped. Returns false when the limit is
// reached, leaving *true_anomaly unchanged.
bool libm_solve(float mean_anomaly, float eccentricity, int32_t max_iterations,
                int32_t tolerance, float *true_anomaly);

// libm_solve over in[0 .. count-1] in index order: 0, or -1 at the first
// element that reaches the limit (that output and later ones not written).
int32_t libm_loop(const float *in, int32_t count, float eccentricity,
                  float *out, int32_t max_iterations, int32_t tolerance);

}  // namespace bench

#endif  // TRUEANOMALY_BENCH_LIBM_LOOP_H
