/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * libtrueanomaly: mean anomaly to true anomaly on an elliptical orbit.
 *
 * Kepler's equation M = E - e*sin(E) is solved for the eccentric anomaly E by
 * Newton-Raphson started at E = M, and E is turned into the true anomaly
 *   nu = 2*atan2(sqrt(1+e)*sin(E/2), sqrt(1-e)*cos(E/2)).
 * The iterate is held in single precision and every trigonometric value is
 * computed in double precision in one fixed order, with no fused
 * multiply-add, so every result is defined bit for bit by that pattern and
 * the system's libm (sin, cos, sqrt, atan2).
 *
 * Common contract of both entries:
 *  - Angles are radians. Mean anomalies are used as given, never reduced
 *    modulo 2*pi; results lie in [-2*pi, 2*pi] (2*pi rounded to float), and
 *    nu/2 lies in the quadrant of E/2: with e = 0, M = 7 gives 7 - 4*pi.
 *  - An eccentricity above 0.99 is replaced by 0.99f (1.0 and 1.5 give the
 *    results of 0.99). Zero and negative eccentricities are used unchanged;
 *    below -1 the result is NaN. A NaN eccentricity gives NaN results.
 *  - The stopping test works in whole radians: after each Newton step the
 *    step E - E_prev is truncated toward zero to an integer and its magnitude
 *    compared with `tolerance`. The iteration ends at the first step whose
 *    truncated magnitude is <= tolerance, so tolerance 0 stops at the first
 *    step below 1.0 radian, tolerance t >= 0 at the first step below t + 1.
 *    A NaN step always ends it; a step of 2^31 or more never does; a negative
 *    tolerance is never met by a step that is a number. The first step is
 *    always taken.
 *  - With max_iterations = N the solve succeeds only if the stopping test
 *    passes after one of the first N - 1 steps: the limit is checked right
 *    after each step, before that step's stopping test. N <= 1 always fails.
 *  - NaN or infinite mean anomalies are not failures: they give NaN results
 *    when max_iterations >= 2.
 *  - Arithmetic follows the calling thread's rounding mode, which is never
 *    changed.
 *  - Thread-safe: no global state. Never allocates, never throws, never
 *    prints, sets no error variable of its own.
 *  - Stack: a call uses at most 2 KiB of the calling thread's stack for
 *    trueanomaly() and 24 KiB for trueanomaly_array(), libm's frames
 *    included (measured on every path; both run on threads with 32 KiB
 *    stacks).
 */
#ifndef TRUEANOMALY_H
#define TRUEANOMALY_H

#include <stdint.h>

#define TRUEANOMALY_VERSION_MAJOR 1
#define TRUEANOMALY_VERSION_MINOR 0
#define TRUEANOMALY_VERSION_PATCH 0

#if defined(_WIN32)
#define TRUEANOMALY_API
#elif defined(__GNUC__)
#define TRUEANOMALY_API __attribute__((visibility("default")))
#else
#define TRUEANOMALY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The true anomaly, in radians, of mean anomaly `mean_anomaly` on an orbit of
 * eccentricity `eccentricity`, or -1.0f when the iteration limit is reached.
 * A successful solve can also give -1.0f (a true anomaly of -1 radian; e.g.
 * M = -1, e = 0): use trueanomaly_array with count 1 to tell them apart.
 */
TRUEANOMALY_API float trueanomaly(float mean_anomaly, float eccentricity,
                                  int32_t max_iterations, int32_t tolerance);

/*
 * Converts mean_anomalies[0 .. count-1] into true_anomalies[0 .. count-1] in
 * index order, each element solved exactly as trueanomaly() would (bit for
 * bit), with one eccentricity, limit and tolerance.
 *
 * Returns 0 when every element was solved. Returns -1 at the first element
 * that reaches the iteration limit: outputs before it are written, it and all
 * later outputs keep what they held. The status does not say which element
 * failed.
 *
 * Reads and writes: each output is written at most once, and only outputs
 * before the first failure are. Inputs are read only within
 * mean_anomalies[0 .. count-1]. Vectorised paths read inputs ahead of the
 * element being stored (a block, or up to a few thousand elements ahead),
 * so after a failure some later inputs may have been read; their values
 * change no result, as each output depends on its own input alone.
 *
 * count <= 0 returns 0 and touches neither array (null addresses are fine).
 * When count > 0 and either address is null, returns -1 and reads and writes
 * nothing.
 *
 * The two arrays may be the same array (in-place conversion gives the same
 * results as separate arrays) but must not otherwise overlap, and nobody may
 * change them during the call.
 */
TRUEANOMALY_API int32_t trueanomaly_array(const float *mean_anomalies,
                                          int32_t count, float eccentricity,
                                          float *true_anomalies,
                                          int32_t max_iterations,
                                          int32_t tolerance);

#ifdef __cplusplus
}
#endif

#endif /* TRUEANOMALY_H */
