// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see lanes.h).
//
// The conversions a vector path offers (paths.h), and which driver runs
// each: the block driver (kepler.h) where one Newton step is the rule, the
// straggler driver (stragglers.h) where the number of steps varies. Which one
// runs changes only the speed, never a result.
#ifndef TRUEANOMALY_LANES_CONVERT_H
#define TRUEANOMALY_LANES_CONVERT_H

#include <stdint.h>

#include "kepler.h"
#include "stragglers.h"

namespace trueanomaly_detail {
namespace {

// From E = M the first step is q = -e sin M / (1 - e cos M), and |q| is at
// most |e| / sqrt(1 - e^2) < 0.99 for |e| <= 0.7: with tolerance >= 0 every
// element stops after it, but where |M| is in the millions and E's float
// spacing rounds the step up to 1. Which driver runs changes only the speed,
// never a result. The block driver converts by the offset form, proven for
// the same eccentricities.
constexpr float kOneStepMaxE = 0.7f;
static_assert(kOneStepMaxE <= kOffsetFormMaxE, "the block driver converts by the offset form");
inline bool one_step_rule_applies(float e, int32_t tolerance) {
  return tolerance >= 0 && e >= -kOneStepMaxE && e <= kOneStepMaxE;
}

// Every element of a call with a limit of 0 or 1 fails after one step.
inline int32_t fail_every_element(int32_t count, float *out, bool keep_going) {
  if (keep_going)
    for (int32_t i = 0; i < count; ++i) out[i] = __builtin_nanf("");
  return 0;
}

// One eccentricity: the index of the first failure, or count. K groups per
// block in the straggler driver, KB in the block driver.
template <int W, int K, int KB>
inline int32_t convert_one_orbit_lanes(const float *in, int32_t count, float e, float *out,
                                       int32_t max_iterations, int32_t tolerance,
                                       bool keep_going) {
  if (max_iterations <= 1) return fail_every_element(count, out, keep_going);
  if (one_step_rule_applies(e, tolerance)) {
    // A short array that fills half a block at most runs half the groups;
    // one that fills all but the last group at most runs one group fewer
    // (AVX2's five groups took 8.4 ns per element on 16 elements, four 5.7).
    constexpr int kHalf = KB >= 2 ? KB / 2 : 1, kAllButOne = KB >= 2 ? KB - 1 : 1;
    if (count <= W * kHalf)
      return convert_blocks<W, kHalf, true, Conversion::kOffset>(in, count, e, out,
                                                                 max_iterations, tolerance,
                                                                 keep_going);
    if (kAllButOne > kHalf && count <= W * kAllButOne)
      return convert_blocks<W, kAllButOne, true, Conversion::kOffset>(
          in, count, e, out, max_iterations, tolerance, keep_going);
    return convert_blocks<W, KB, true, Conversion::kOffset>(in, count, e, out, max_iterations,
                                                            tolerance, keep_going);
  }
  return convert_with_stragglers<W, K>(in, count, OneEccentricity{e}, out, max_iterations,
                                       tolerance, keep_going);
}

// The array entry's form: 0, or -1 at the first failure.
template <int W, int K, int KB>
inline int32_t convert_array_lanes(const float *in, int32_t count, float e,
                                   float *out, int32_t max_iterations,
                                   int32_t tolerance) {
  return convert_one_orbit_lanes<W, K, KB>(in, count, e, out, max_iterations, tolerance, false) ==
                 count
             ? 0
             : -1;
}

// An eccentricity per element: the index of the first failure, or count.
template <int W, int K>
inline int32_t convert_per_element_lanes(const float *in, const float *eccentricities,
                                         int32_t count, float *out, int32_t max_iterations,
                                         int32_t tolerance, bool keep_going) {
  if (max_iterations <= 1) return fail_every_element(count, out, keep_going);
  return convert_with_stragglers<W, K>(in, count, EccentricityPerElement{eccentricities}, out,
                                       max_iterations, tolerance, keep_going);
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_LANES_CONVERT_H
