/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * A second, deliberately plain implementation of the conversion, kept apart
 * from the library and used only to check it. See kepler_model.c.
 */
#ifndef KEPLER_MODEL_H
#define KEPLER_MODEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct model_outcome {
  int solved;     /* 1: converged; 0: the iteration limit was reached */
  float value;    /* the true anomaly when solved, -1.0f otherwise */
  int32_t steps;  /* Newton steps taken */
};

/* The eccentricity the solve uses for an eccentricity given by a caller. */
float model_capped_eccentricity(float eccentricity);

/* One element; `eccentricity` must already be capped. */
struct model_outcome model_solve(float mean_anomaly, float eccentricity,
                                 int32_t max_iterations, int32_t tolerance);

/* What the scalar entry returns. */
float model_scalar(float mean_anomaly, float eccentricity,
                   int32_t max_iterations, int32_t tolerance);

/* What the array entry returns and writes (out may equal in). When `written`
 * is not null it receives the number of leading elements written. */
int32_t model_array(const float *in, int32_t count, float eccentricity,
                    float *out, int32_t max_iterations, int32_t tolerance,
                    int32_t *written);

#ifdef __cplusplus
}
#endif

#endif
