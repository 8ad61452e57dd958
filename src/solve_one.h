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

// The same kernel taking over elements from vector lanes: each with its
// estimate after `steps` steps (1 <= steps < max_iterations), the last of
// which exceeded the tolerance, so that another follows. Solved:
// true_anomaly[k] holds the plain solve's result. Failed: the limit was
// reached. Undecided: the rounding tests could not decide (or the state is
// outside the kernel's domain), and the plain solve must solve the element
// from its mean anomaly. Two elements (n = 2) run side by side, one (n = 1)
// alone. Only under the floating-point modes the vector drivers run in
// (fp_environment.h), which the caller has checked. For the vector drivers'
// last running lanes, where their chains of steps are all that is left to
// wait for, and the kernel's shorter step is worth the call.
enum class Continued { solved, failed, undecided };
struct Handover {
  float mean_anomaly, estimate;
  int32_t steps;
};
void continue_avx2(const Handover *from, int32_t n, float eccentricity, int32_t max_iterations,
                   int32_t tolerance, Continued *outcome, float *estimate, float *true_anomaly);
#endif

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_SOLVE_ONE_H
