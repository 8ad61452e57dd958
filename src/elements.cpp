// SPDX-License-Identifier: BSD-3-Clause
// The Python module's conversion (elements.h) on the best path (dispatch.cpp),
// and the plain solve (solve.h) in slices of steps.
#include "elements.h"

#include "dispatch.h"
#include "solve.h"

extern "C" int32_t trueanomaly_convert_elements(const float *mean_anomalies,
                                                const float *eccentricities,
                                                int32_t eccentricity_step, int32_t count,
                                                float *true_anomalies, int32_t max_iterations,
                                                int32_t tolerance, int keep_going) {
  if (count <= 0) return 0;
  return trueanomaly_detail::convert_elements_best(
      mean_anomalies, eccentricities, eccentricity_step != 0 ? 1 : 0, count, true_anomalies,
      max_iterations, tolerance, keep_going != 0);
}

extern "C" void trueanomaly_solve_start(trueanomaly_solve_state *state, float mean_anomaly) {
  state->estimate = mean_anomaly;
  state->previous = mean_anomaly;
  state->steps = 0;
}

// trueanomaly_solve's loop, its test moved to the top so that it can stop
// after any step and resume there: the test runs between the same two steps
// either way.
extern "C" int trueanomaly_solve_steps(trueanomaly_solve_state *state, float mean_anomaly,
                                       float eccentricity, int32_t max_iterations,
                                       int32_t tolerance, int32_t budget, float *true_anomaly) {
  using namespace trueanomaly_detail;
  const float e = cap_eccentricity(eccentricity);
  for (int32_t taken = 0; taken < budget; ++taken) {
    if (state->steps != 0 && !step_exceeds_tolerance(state->estimate - state->previous, tolerance)) {
      *true_anomaly = true_anomaly_of(state->estimate, e);
      return 1;
    }
    state->previous = state->estimate;
    state->estimate = newton_step(state->estimate, mean_anomaly, e);
    // steps never passes max_iterations <= INT32_MAX, so it cannot overflow.
    if (++state->steps >= max_iterations) return -1;
  }
  return 0;
}
