// SPDX-License-Identifier: BSD-3-Clause
// The choice of array path (dispatch.cpp): which paths this CPU runs, and
// the conversion on a chosen path or on the best one; and the scalar entry's
// solve for this CPU. Internal: tests, fuzzer and benchmark call these to
// force each path.
#ifndef TRUEANOMALY_DISPATCH_H
#define TRUEANOMALY_DISPATCH_H

#include <stdint.h>

#include "paths.h"

namespace trueanomaly_detail {

// True when this CPU and OS can run `path` (cpuid and xgetbv).
bool path_available(Path path);

// The widest available path.
Path best_path();

// Converts in[0 .. count-1] into out[...] on `path`, which must be
// available, with the preconditions of paths.h's entries but the vector
// paths' own: outside their domain (the eccentricity, the caller's MXCSR)
// the plain path runs instead.
int32_t convert_array(Path path, const float *in, int32_t count, float eccentricity, float *out,
                      int32_t max_iterations, int32_t tolerance);

// The same on the best path for this CPU, chosen once: when the library is
// loaded (a GNU indirect function) or, without them, on the first call.
int32_t convert_array_best(const float *in, int32_t count, float eccentricity, float *out,
                           int32_t max_iterations, int32_t tolerance);

// The scalar entry's solve of one element (solve_one.h), chosen once like
// convert_array_best: the kernel
// solve_one_avx2 where the AVX2 path is available, solve_one_plain
// elsewhere.
float solve_one_best(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance);

// The instruction set of the solve solve_one_best is bound to: Path::avx2
// for the kernel, Path::plain for the plain solve.
Path scalar_kernel();

// The Python module's conversion: element i with eccentricities[i * e_step]
// (e_step 0: one for all, e_step 1: one each; not yet capped), on `path`,
// which must be available, with the preconditions and results of paths.h's
// OneOrbitFn (count > 0; the index of the first failure, or count). Long
// runs of one eccentricity go through the one-orbit driver.
using ElementsFn = int32_t (*)(const float *in, const float *eccentricities, int32_t e_step,
                               int32_t count, float *out, int32_t max_iterations,
                               int32_t tolerance, bool keep_going);
int32_t convert_elements(Path path, const float *in, const float *eccentricities,
                         int32_t e_step, int32_t count, float *out, int32_t max_iterations,
                         int32_t tolerance, bool keep_going);

// The same on the best path, chosen once like convert_array_best.
int32_t convert_elements_best(const float *in, const float *eccentricities, int32_t e_step,
                              int32_t count, float *out, int32_t max_iterations,
                              int32_t tolerance, bool keep_going);

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DISPATCH_H
