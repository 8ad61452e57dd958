/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * The conversion written out as plainly as possible, one IEEE operation per
 * line, independent of the library's code, for differential tests.
 *
 * Build it with -O0 -ffp-contract=off -fno-builtin -frounding-math (the test
 * build does): then every line below is exactly one operation in the written
 * order and precision, in the caller's rounding mode, no product is fused
 * with the following subtraction, and sin and cos are separate libm calls
 * (never merged into sincos, never folded at compile time).
 *
 * The near-tie miner in tools/ compiles this same file with MODEL_SIN,
 * MODEL_COS and MODEL_ATAN2 defined to wrappers that can move one libm result
 * by one ulp.
 */
#include "kepler_model.h"

#include <math.h>

#ifndef MODEL_SIN
#define MODEL_SIN sin
#endif
#ifndef MODEL_COS
#define MODEL_COS cos
#endif
#ifndef MODEL_ATAN2
#define MODEL_ATAN2 atan2
#endif

float model_capped_eccentricity(float eccentricity) {
  double wide = eccentricity;
  double threshold = 0.99; /* the double nearest 0.99, just below it */
  if (wide > threshold) return 0.99f;
  return eccentricity; /* NaN, zero and negative values pass unchanged */
}

/* Is |trunc(step)|, as a 32-bit integer, greater than the tolerance?
 * Written with a 64-bit integer instead of a range check on the float. */
static int step_is_too_large(float step, int32_t tolerance) {
  double magnitude;
  int64_t whole;
  if (step != step) return 0; /* a NaN step is within every tolerance */
  magnitude = step;
  if (magnitude < 0.0) magnitude = -magnitude;
  if (magnitude >= 2147483648.0) return 1; /* does not fit in int32_t */
  whole = (int64_t)magnitude;              /* truncates toward zero */
  return whole > (int64_t)tolerance;
}

struct model_outcome model_solve(float mean_anomaly, float eccentricity,
                                 int32_t max_iterations, int32_t tolerance) {
  struct model_outcome outcome;
  float estimate = mean_anomaly;
  float previous = mean_anomaly;
  int32_t steps = 0;
  double E, e, M, sine, cosine, product, difference, wide_f, wide_d;
  double half, x, y, angle, twice;
  float f, d, quotient;

  for (;;) {
    if (steps > 0) {
      float step = estimate - previous;
      if (!step_is_too_large(step, tolerance)) break;
    }
    previous = estimate;

    E = estimate;
    e = eccentricity;
    M = mean_anomaly;
    sine = MODEL_SIN(E);
    product = sine * e;
    difference = E - product;
    wide_f = difference - M;
    f = (float)wide_f;

    cosine = MODEL_COS(E);
    product = cosine * e;
    wide_d = 1.0 - product;
    d = (float)wide_d;

    quotient = f / d;
    estimate = previous - quotient;
    steps = steps + 1;
    if (steps >= max_iterations) {
      outcome.solved = 0;
      outcome.value = -1.0f;
      outcome.steps = steps;
      return outcome;
    }
  }

  E = estimate;
  e = eccentricity;
  half = E / 2.0;
  x = sqrt(1.0 - e);
  x = x * MODEL_COS(half);
  y = sqrt(e + 1.0);
  y = y * MODEL_SIN(half);
  angle = MODEL_ATAN2(y, x);
  twice = 2.0 * angle;
  outcome.solved = 1;
  outcome.value = (float)twice;
  outcome.steps = steps;
  return outcome;
}

float model_scalar(float mean_anomaly, float eccentricity,
                   int32_t max_iterations, int32_t tolerance) {
  struct model_outcome outcome =
      model_solve(mean_anomaly, model_capped_eccentricity(eccentricity),
                  max_iterations, tolerance);
  return outcome.value;
}

int32_t model_array(const float *in, int32_t count, float eccentricity,
                    float *out, int32_t max_iterations, int32_t tolerance,
                    int32_t *written) {
  float capped;
  int32_t i = 0;
  int32_t status = 0;
  if (count > 0 && (in == 0 || out == 0)) {
    status = -1; /* a null address with a positive count: touch nothing */
    count = 0;
  }
  capped = model_capped_eccentricity(eccentricity);
  for (i = 0; i < count; i = i + 1) {
    struct model_outcome outcome =
        model_solve(in[i], capped, max_iterations, tolerance);
    if (!outcome.solved) {
      status = -1;
      break;
    }
    out[i] = outcome.value;
  }
  if (written != 0) *written = i;
  return status;
}
