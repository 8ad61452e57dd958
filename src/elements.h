/* SPDX-License-Identifier: BSD-3-Clause */
/* The conversion behind the Python module's ufunc and array function: an
 * eccentricity per element or one for all, and a choice of what a failure
 * does. Compiled into the Python extension from the library's own objects;
 * not exported by the shared library, whose only entries stay the two of
 * trueanomaly.h. A C header: the extension is written in C. */
#ifndef TRUEANOMALY_ELEMENTS_H
#define TRUEANOMALY_ELEMENTS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Converts mean_anomalies[0 .. count-1] into true_anomalies[...], element
 * i with eccentricities[i * eccentricity_step] (a step of 0: one for all,
 * 1: one each), each capped as by trueanomaly(). Every value is, bit for
 * bit, what trueanomaly() returns for that element's inputs, on the best
 * path for this CPU.
 *
 * Returns the index of the first element that reached the iteration limit,
 * or count when none did (count <= 0: 0, nothing touched). With keep_going
 * 0 the call stops there: it and every later output keep what they held;
 * otherwise failing elements are stored as NaN and the rest converted. The
 * input and output may be the same array; they may not overlap otherwise,
 * and the eccentricities may not overlap the output. */
__attribute__((visibility("hidden"))) int32_t trueanomaly_convert_elements(
    const float *mean_anomalies, const float *eccentricities, int32_t eccentricity_step,
    int32_t count, float *true_anomalies, int32_t max_iterations, int32_t tolerance,
    int keep_going);

#ifdef __cplusplus
}
#endif

#endif /* TRUEANOMALY_ELEMENTS_H */
