// SPDX-License-Identifier: BSD-3-Clause
// The choice of implementation (dispatch.cpp): which of kImplementations
// this CPU runs, and the entries' calls bound once to the best of them.
// Tests, fuzzer and benchmark call an implementation's functions directly
// after available().
#ifndef TRUEANOMALY_DISPATCH_H
#define TRUEANOMALY_DISPATCH_H

#include <stdint.h>

#include "implementation.h"

namespace trueanomaly_detail {

// True when this CPU and OS can run `implementation` (cpuid and xgetbv).
bool available(const Implementation &implementation);

// The widest implementation this CPU runs: the last available one of
// kImplementations.
const Implementation &best_implementation();

// best_implementation()'s functions, bound once: when the library is
// loaded (GNU indirect functions) or, without them, on the first call.
int32_t convert_array_best(const float *in, int32_t count, float eccentricity, float *out,
                           int32_t max_iterations, int32_t tolerance);
int32_t convert_elements_best(const float *in, const float *eccentricities, int32_t e_step,
                              int32_t count, float *out, int32_t max_iterations,
                              int32_t tolerance, bool keep_going);
float solve_one_best(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance);

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DISPATCH_H
