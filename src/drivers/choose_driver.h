// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// The conversions a vector implementation offers (implementation.h), and
// which driver runs each: the block driver (kepler.h) where one Newton step is the rule, or
// (in long calls) two, the straggler driver (stragglers.h) where the number
// of steps varies. Which one runs changes only the speed, never a result.
#ifndef TRUEANOMALY_DRIVERS_CHOOSE_DRIVER_H
#define TRUEANOMALY_DRIVERS_CHOOSE_DRIVER_H

#include <stdint.h>

#include "drivers/block_driver.h"
#include "drivers/straggler_driver.h"
#include "fp_environment.h"
#include "implementation.h"
#include "path_plain.h"

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

// At 0.8 <= |e| <= 0.9, from E = M, 31-42 % of the elements take a second
// step and none a third (of 2^20 draws of M uniform in [0, 2*pi); at 0.92
// 8.5 % take a third). There blocks of eight groups that take both steps
// for every lane, the stopped lanes idling in the second, measured faster on
// AVX-512 and AVX2 than the straggler driver, whose queue and window cost
// about as much as the second steps' arithmetic (docs/performance.md);
// below 0.8 too few elements take the second step. A block that holds an
// element needing a third (|M| in the millions, say) hands the rest of the
// call to the straggler driver. Both convert by the wide offset form.
constexpr float kTwoStepMinE = 0.8f, kTwoStepMaxE = 0.9f;
inline bool two_step_rule_applies(float e, int32_t tolerance) {
  const float magnitude = e < 0.0f ? -e : e;
  return tolerance >= 0 && magnitude >= kTwoStepMinE && magnitude <= kTwoStepMaxE;
}

// Calls of kLongCallMinCount elements or more run blocks of the path's
// long_call_groups (paths.h), eight on both paths, for one step as for two.
// Against the straggler driver the two-step blocks measured up to 50 %
// slower at 129 elements (mostly padding) and 2-8 % slower at 256 on
// AVX-512, within 5 % either way from 384 to 1024, and faster from 1024 on
// at every e of the range, on both paths; one-step blocks of eight groups
// instead of five (AVX2) or four (AVX-512) 2-3 % faster from 1000 elements
// on, 30 % slower on 100 (docs/performance.md).
constexpr int32_t kLongCallMinCount = 512;

// Every element of a call with a limit of 0 or 1 fails after one step.
inline int32_t fail_every_element(int32_t count, float *out, bool keep_going) {
  if (keep_going)
    for (int32_t i = 0; i < count; ++i) out[i] = __builtin_nanf("");
  return 0;
}

// The two-step block driver, KT groups per block, handing over to the
// straggler driver (K groups) at the first block it leaves unsolved. Returns
// the index of the first failure, or count.
template <int W, int K, int KT>
inline int32_t convert_two_step_blocks(const float *in, int32_t count, float e, float *out,
                                       int32_t max_iterations, int32_t tolerance,
                                       bool keep_going) {
  int32_t unsolved;
  const int32_t first_failure = convert_blocks<W, KT, StepRule::kTwoSteps, Conversion::kOffsetWide>(
      in, count, e, out, max_iterations, tolerance, keep_going, &unsolved);
  if (unsolved == count) return first_failure;
  // The blocks wrote nothing from `unsolved` on. A failure before it (kept
  // as NaN: keep_going) comes first.
  const int32_t rest = convert_with_stragglers<W, K>(in + unsolved, count - unsolved,
                                                     OneEccentricity{e}, out + unsolved,
                                                     max_iterations, tolerance, keep_going);
  return first_failure != count ? first_failure : unsolved + rest;
}

// One eccentricity: the index of the first failure, or count. K groups per
// block in the straggler driver, KB in the block driver, KL in both block
// drivers in calls of kLongCallMinCount elements or more (0: as shorter
// calls, and no two-step block driver).
template <int W, int K, int KB, int KL>
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
      return convert_blocks<W, kHalf, StepRule::kOneStep, Conversion::kOffset>(
          in, count, e, out, max_iterations, tolerance, keep_going);
    if (kAllButOne > kHalf && count <= W * kAllButOne)
      return convert_blocks<W, kAllButOne, StepRule::kOneStep, Conversion::kOffset>(
          in, count, e, out, max_iterations, tolerance, keep_going);
    if constexpr (KL > 0) {
      if (count >= kLongCallMinCount)
        return convert_blocks<W, KL, StepRule::kOneStep, Conversion::kOffset>(
            in, count, e, out, max_iterations, tolerance, keep_going);
    }
    return convert_blocks<W, KB, StepRule::kOneStep, Conversion::kOffset>(
        in, count, e, out, max_iterations, tolerance, keep_going);
  }
  if constexpr (KL > 0) {
    if (count >= kLongCallMinCount && two_step_rule_applies(e, tolerance))
      return convert_two_step_blocks<W, K, KL>(in, count, e, out, max_iterations, tolerance,
                                               keep_going);
  }
  return convert_with_stragglers<W, K>(in, count, OneEccentricity{e}, out, max_iterations,
                                       tolerance, keep_going);
}

// The array entry's status from a driver's result (the index of the first
// failure, or count): 0, or -1 at the first failure.
inline int32_t array_status(int32_t first_failure, int32_t count) {
  return first_failure == count ? 0 : -1;
}

template <int W, int K, int KB, int KL>
inline int32_t convert_array_lanes(const float *in, int32_t count, float e,
                                   float *out, int32_t max_iterations,
                                   int32_t tolerance) {
  return array_status(convert_one_orbit_lanes<W, K, KB, KL>(in, count, e, out, max_iterations,
                                                            tolerance, false),
                      count);
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


// The vector domain (kernels/error_budget.h): |e| <= kVectorMaxE, which the
// rounding tests rely on. NaN is outside.
inline bool eccentricity_in_vector_domain(float e) { return e >= -kVectorMaxE && e <= kVectorMaxE; }

// A vector implementation's array conversion (ConvertFn): the drivers of
// shape kShape inside the vector domain and under the default MXCSR, the
// plain solve outside.
template <const DriverShape &kShape>
int32_t convert_array_on(const float *in, int32_t count, float e, float *out,
                         int32_t max_iterations, int32_t tolerance) {
  if (eccentricity_in_vector_domain(e) && default_fp_environment())
    return convert_array_lanes<kShape.lanes, kShape.straggler_groups, kShape.block_groups,
                               kShape.long_call_groups>(in, count, e, out, max_iterations,
                                                        tolerance);
  return convert_array_plain(in, count, e, out, max_iterations, tolerance);
}

// Runs at least this long of one eccentricity, in a call with one per
// element, go through the one-orbit drivers (shared orbit, one-step rule).
constexpr int32_t kMinOrbitRun = 64;

// A vector implementation's conversion for the Python module (ElementsFn):
// one eccentricity through the one-orbit drivers; one per element in
// stretches, long runs of one value through the one-orbit drivers and the
// rest through the straggler driver with an eccentricity per lane; the
// plain solve under another MXCSR and, per run, outside the vector domain.
template <const DriverShape &kShape>
int32_t convert_elements_on(const float *in, const float *ecc, int32_t e_step, int32_t count,
                            float *out, int32_t max_iterations, int32_t tolerance,
                            bool keep_going) {
  constexpr int W = kShape.lanes, K = kShape.straggler_groups, KB = kShape.block_groups,
                KL = kShape.long_call_groups;
  if (!default_fp_environment()) {
    if (e_step == 0)
      return convert_one_orbit_plain(in, count, cap_eccentricity(ecc[0]), out, max_iterations,
                                     tolerance, keep_going);
    return convert_per_element_plain(in, ecc, count, out, max_iterations, tolerance, keep_going);
  }
  auto orbit = [&](int32_t from, int32_t n, float e) {
    e = cap_eccentricity(e);
    if (!eccentricity_in_vector_domain(e))
      return convert_one_orbit_plain(in + from, n, e, out + from, max_iterations, tolerance,
                                     keep_going);
    return convert_one_orbit_lanes<W, K, KB, KL>(in + from, n, e, out + from, max_iterations,
                                                 tolerance, keep_going);
  };
  auto mixed = [&](int32_t from, int32_t n) {
    return convert_per_element_lanes<W, K>(in + from, ecc + from, n, out + from, max_iterations,
                                           tolerance, keep_going);
  };
  if (e_step == 0) return orbit(0, count, ecc[0]);
  // Stretches of mixed eccentricities and long runs of one, in index order.
  int32_t first_failure = count;
  auto take = [&](int32_t from, int32_t n, int32_t got) {
    if (got == n) return true;
    if (first_failure == count) first_failure = from + got;
    return keep_going;
  };
  int32_t mixed_from = 0;
  for (int32_t i = 0; i < count;) {
    int32_t j = i + 1;
    const uint32_t bits = __builtin_bit_cast(uint32_t, ecc[i]);
    while (j < count && __builtin_bit_cast(uint32_t, ecc[j]) == bits) ++j;
    if (j - i >= kMinOrbitRun) {
      if (i > mixed_from && !take(mixed_from, i - mixed_from, mixed(mixed_from, i - mixed_from)))
        return first_failure;
      if (!take(i, j - i, orbit(i, j - i, ecc[i]))) return first_failure;
      mixed_from = j;
    }
    i = j;
  }
  if (count > mixed_from) take(mixed_from, count - mixed_from, mixed(mixed_from, count - mixed_from));
  return first_failure;
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_CHOOSE_DRIVER_H
