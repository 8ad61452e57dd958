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

/* One element's solve in slices of steps, so that a caller can stop between
 * slices (the Python module checks for Ctrl-C there) a solve that a large
 * iteration limit lets run on and on. The state is the iterate, the
 * previous iterate and the steps taken; start it with
 * trueanomaly_solve_start. */
typedef struct {
  float estimate;
  float previous;
  int32_t steps;
} trueanomaly_solve_state;

__attribute__((visibility("hidden"))) void trueanomaly_solve_start(
    trueanomaly_solve_state *state, float mean_anomaly);

/* Takes at most `budget` more steps of the solve trueanomaly() does for these
 * four values (the eccentricity as given, capped here): 1 when the stopping
 * test passed (the true anomaly stored), -1 when the iteration limit was
 * reached, 0 when the budget ran out first (call again with the same state
 * and values). The same steps, tests and conversion as trueanomaly(), so
 * the same result and the same failures, however the steps are sliced. */
__attribute__((visibility("hidden"))) int trueanomaly_solve_steps(
    trueanomaly_solve_state *state, float mean_anomaly, float eccentricity,
    int32_t max_iterations, int32_t tolerance, int32_t budget, float *true_anomaly);

#ifdef __cplusplus
}
#endif

#endif /* TRUEANOMALY_ELEMENTS_H */
