// SPDX-License-Identifier: BSD-3-Clause
// The scalar entry's solve of one element, in two forms that give the same
// bits: the plain solve (path_plain.cpp; any CPU, any floating-point mode)
// and a kernel shaped for the latency of one element (solve_one_avx2.cpp;
// CPUs with AVX2 and FMA). Each implementation names one of them
// (implementation.h); the entry calls solve_one_best (dispatch.cpp).
//
// Internal: nothing here is exported.
#ifndef TRUEANOMALY_SOLVE_ONE_H
#define TRUEANOMALY_SOLVE_ONE_H

#include <stdint.h>

#include "implementation.h"

namespace trueanomaly_detail {

// trueanomaly_solve, with the entry's -1.0f for a failure.
float solve_one_plain(float mean_anomaly, float eccentricity, int32_t max_iterations,
                      int32_t tolerance);

#if TRUEANOMALY_VECTOR_PATHS
// The same bits from the vector kernels of src/kernels/ under rounding tests
// of its own; anything they cannot decide, and any input or caller's MXCSR
// outside their domain, goes to solve_one_plain from the original inputs.
// Compiled with the AVX2 path's flags: call it only where that path is
// available.
float solve_one_avx2(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance);
#endif

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_SOLVE_ONE_H
