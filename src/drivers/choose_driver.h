// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// The conversions a vector implementation offers (implementation.h), and
// which driver runs each: the block driver (block_driver.h) where one Newton
// step is the rule, or (in long calls) two, the straggler driver
// (straggler_driver.h) where the number of steps varies. Which one runs
// changes only the speed, never a result.
#ifndef TRUEANOMALY_DRIVERS_CHOOSE_DRIVER_H
#define TRUEANOMALY_DRIVERS_CHOOSE_DRIVER_H

#include <stdint.h>

#include "drivers/block_driver.h"
#include "drivers/call.h"
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

// At 0.8 <= |e| <= 0.9, from E = M, about a third of the elements take a
// second step and almost none a third. There blocks that take both steps
// for every lane, the stopped lanes idling in the second, beat the
// straggler driver, whose queue and window cost about as much as the
// second steps' arithmetic (docs/performance.md); below 0.8 too few
// elements take the second step. A block that holds an element needing a
// third (|M| in the millions, say) hands the rest of the call to the
// straggler driver. Both convert by the wide offset form.
constexpr float kTwoStepMinE = 0.8f, kTwoStepMaxE = 0.9f;
inline bool two_step_rule_applies(float e, int32_t tolerance) {
  const float magnitude = e < 0.0f ? -e : e;
  return tolerance >= 0 && magnitude >= kTwoStepMinE && magnitude <= kTwoStepMaxE;
}

// Calls of kLongCallMinCount elements or more run blocks of the
// implementation's long_call_groups, for one step as for two: from about
// this length on they are faster than the block driver's usual groups, and
// slower below it, where they are mostly padding (docs/performance.md).
constexpr int32_t kLongCallMinCount = 512;

// Two-step blocks also run calls longer than a short call and shorter than
// kFittedTwoStepMaxCount, in blocks of the block driver's groups fitted to
// the call: there the straggler driver's window and queue cost more than the
// second steps' arithmetic; from about this length on the straggler driver
// is as fast, and at |e| = 0.8 faster (docs/performance.md).
constexpr int32_t kFittedTwoStepMaxCount = 256;

// Whether long two-step calls take blocks of the long-call groups. Built by
// clang, eight groups' two steps ran 1.11-1.13x GCC's time, the block
// driver's groups 1.00-1.06x (docs/performance.md).
#if defined(__clang__)
constexpr bool kLongTwoStepBlocks = false;
#else
constexpr bool kLongTwoStepBlocks = true;
#endif

// Every element of a call with a limit of 0 or 1 fails after one step.
inline void fail_every_element(Call &call) {
  call.failed_at(0);
  if (call.keep_going)
    for (int32_t i = 0; i < call.count; ++i) call.out[i] = __builtin_nanf("");
}

// Short calls at higher eccentricities, where one step is not the rule:
// at most kShortCallMaxCount elements, or kVeryShortCallMaxCount at |e|
// above kShortCallMaxE. There a few blocks, stepped until at most two lanes
// run and those finished on the scalar kernel, cost less than the straggler
// driver's window and queue (docs/performance.md); nearer 0.99 a block of
// more than a few groups holds too many slow elements, and the straggler
// driver wins.
constexpr int32_t kShortCallMaxCount = 64, kVeryShortCallMaxCount = 16;
constexpr float kShortCallMaxE = 0.97f;
inline bool short_call_rule_applies(float e, int32_t count) {
  const float magnitude = e < 0.0f ? -e : e;
  return count <= (magnitude <= kShortCallMaxE ? kShortCallMaxCount : kVeryShortCallMaxCount);
}

// Half a block's groups (at least one): the block a short call or the
// elements left over after whole blocks take when half a block holds them.
constexpr int half_of(int groups) { return groups >= 2 ? groups / 2 : 1; }

// The first `whole` elements in blocks of kGroups groups, then the rest in
// one last block of kLastGroups; the outcome as convert_blocks's. Out of
// line, so that the calls that fill their blocks, the short ones above all,
// keep the driver's choice inlined.
template <int W, int kGroups, int kLastGroups, StepRule kRule, Conversion kConversion>
__attribute__((noinline)) int32_t convert_blocks_then_last(Call &call, float e, int32_t whole) {
  // Only two-step blocks leave a block unsolved. Left unread otherwise, the
  // outcome lets GCC pass the block loop its call in registers (2-4 % on
  // calls of a few blocks).
  constexpr bool kMayLeaveUnsolved = kRule == StepRule::kTwoSteps;
  if (whole > 0) {
    Call blocks = call.part(0, whole);
    const int32_t unsolved = convert_blocks<W, kGroups, kRule, kConversion>(blocks, e);
    if (call.absorb(blocks, 0)) return call.count;
    if (kMayLeaveUnsolved && unsolved < whole) return unsolved;
  }
  Call last = call.rest(whole);
  const int32_t unsolved = convert_within_one_block<W, kLastGroups, kRule, kConversion>(last, e);
  if (call.absorb(last, whole) || !kMayLeaveUnsolved) return call.count;
  return whole + unsolved;
}

// The block driver for a call that more than one block of kBlockGroups
// takes: long calls in blocks of kLongCallGroups (0: none), others in
// blocks of kBlockGroups, where the elements left over after the whole
// blocks, if one group holds them, join the last whole block as a group of
// its own (AVX-512's 100 elements: blocks of 32, 32 and 36), and if half a
// block holds them, take a last block of half the groups. A block of their
// own would wait on a whole block's chain of dependent operations for a
// few elements; as a group of the last block they cost their arithmetic
// (docs/performance.md). The outcome as convert_blocks's.
template <int W, int kBlockGroups, int kLongCallGroups, StepRule kRule, Conversion kConversion>
inline int32_t convert_several_blocks(Call &call, float e) {
  constexpr int kHalf = half_of(kBlockGroups);
  if constexpr (kLongCallGroups > 0) {
    if (call.count >= kLongCallMinCount)
      return convert_blocks<W, kLongCallGroups, kRule, kConversion>(call, e);
  }
  const int32_t left_over = call.count % (W * kBlockGroups);
  if (left_over == 0 || left_over > W * kHalf || call.count < W * kBlockGroups)
    return convert_blocks<W, kBlockGroups, kRule, kConversion>(call, e);
  if (left_over <= W)
    return convert_blocks_then_last<W, kBlockGroups, kBlockGroups + 1, kRule, kConversion>(
        call, e, call.count - left_over - W * kBlockGroups);
  return convert_blocks_then_last<W, kBlockGroups, kHalf, kRule, kConversion>(
      call, e, call.count - left_over);
}

// The block driver with as many groups as the call fills: a short array
// that fills half a block at most runs half the groups; one that fills all
// but the last group at most runs one group fewer; one block's worth runs
// one block; longer calls run convert_several_blocks.
template <int W, int kBlockGroups, int kLongCallGroups, StepRule kRule, Conversion kConversion>
inline void convert_fitted_blocks(Call &call, float e) {
  static_assert(kRule != StepRule::kTwoSteps, "see convert_two_step_blocks");
  constexpr int kHalf = half_of(kBlockGroups);
  constexpr int kAllButOne = kBlockGroups >= 2 ? kBlockGroups - 1 : 1;
  if (call.count <= W * kHalf)
    convert_within_one_block<W, kHalf, kRule, kConversion>(call, e);
  else if (kAllButOne > kHalf && call.count <= W * kAllButOne)
    convert_within_one_block<W, kAllButOne, kRule, kConversion>(call, e);
  else if (call.count <= W * kBlockGroups)
    convert_within_one_block<W, kBlockGroups, kRule, kConversion>(call, e);
  else
    convert_several_blocks<W, kBlockGroups, kLongCallGroups, kRule, kConversion>(call, e);
}

// The two-step block driver (calls of more than one block: shorter ones
// are short calls), handing the rest of the call to the straggler driver
// (kStragglerGroups groups) at the first block it leaves unsolved.
template <int W, int kStragglerGroups, int kBlockGroups, int kLongCallGroups>
inline void convert_two_step_blocks(Call &call, float e) {
  const int32_t unsolved =
      convert_several_blocks<W, kBlockGroups, kLongCallGroups, StepRule::kTwoSteps,
                             Conversion::kOffsetWide>(call, e);
  if (unsolved == call.count) return;
  // The blocks wrote nothing from `unsolved` on. A failure before it (kept
  // as NaN: keep_going) comes first.
  Call rest = call.rest(unsolved);
  convert_with_stragglers<W, kStragglerGroups>(rest, OneEccentricity{e});
  call.absorb(rest, unsolved);
}

// One eccentricity e (capped, within the vector domain): the block driver
// where one step is the rule, and (stepping until every lane stops) in
// short calls at higher eccentricities; the two-step blocks where two steps
// are the rule (calls of more than one block, but for a middle range); the
// straggler driver elsewhere. Groups per block as the implementation's
// DriverShape says (kLongCallGroups 0: long calls as shorter ones, and no
// two-step blocks). Always inlined: GCC otherwise stops inlining it into
// the array entry once the short-call branches grow, and a 16-element call
// through the extra call took 4-8 % longer (AVX2, docs/performance.md).
template <int W, int kStragglerGroups, int kBlockGroups, int kLongCallGroups>
__attribute__((always_inline)) inline void convert_one_orbit_lanes(Call &call, float e) {
  if (call.max_iterations <= 1) return fail_every_element(call);
  if (one_step_rule_applies(e, call.tolerance))
    return convert_fitted_blocks<W, kBlockGroups, kLongCallGroups, StepRule::kOneStep,
                                 Conversion::kOffset>(call, e);
  if (short_call_rule_applies(e, call.count))
    return convert_fitted_blocks<W, kBlockGroups, 0, StepRule::kUntilStopped,
                                 Conversion::kOffsetWide>(call, e);
  if constexpr (kLongCallGroups > 0) {
    if (two_step_rule_applies(e, call.tolerance) && call.count > W * kBlockGroups &&
        (call.count < kFittedTwoStepMaxCount || call.count >= kLongCallMinCount))
      return convert_two_step_blocks<W, kStragglerGroups, kBlockGroups,
                                     kLongTwoStepBlocks ? kLongCallGroups : 0>(call, e);
  }
  convert_with_stragglers<W, kStragglerGroups>(call, OneEccentricity{e});
}

// The array entry's conversion: its status, 0, or -1 at the first failure.
template <int W, int kStragglerGroups, int kBlockGroups, int kLongCallGroups>
inline int32_t convert_array_lanes(const float *in, int32_t count, float e, float *out,
                                   int32_t max_iterations, int32_t tolerance) {
  Call call = Call::over(in, count, out, max_iterations, tolerance, false);
  convert_one_orbit_lanes<W, kStragglerGroups, kBlockGroups, kLongCallGroups>(call, e);
  return call.first_failure == count ? 0 : -1;
}

// An eccentricity per element: the straggler driver, each lane with its own.
template <int W, int kStragglerGroups>
inline void convert_per_element_lanes(Call &call, const float *eccentricities) {
  if (call.max_iterations <= 1) return fail_every_element(call);
  convert_with_stragglers<W, kStragglerGroups>(call, EccentricityPerElement{eccentricities});
}

// The vector domain (kernels/error_budget.h): |e| <= kVectorMaxE, which the
// rounding tests rely on. NaN is outside.
inline bool eccentricity_in_vector_domain(float e) { return e >= -kVectorMaxE && e <= kVectorMaxE; }

// A vector implementation's array conversion (ConvertFn): the drivers of
// shape kShape inside the vector domain and under the floating-point modes
// they run in (fp_environment.h), the plain solve outside.
template <const DriverShape &kShape>
int32_t convert_array_on(const float *in, int32_t count, float e, float *out,
                         int32_t max_iterations, int32_t tolerance) {
  if (eccentricity_in_vector_domain(e) && vector_fp_environment())
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
// plain solve under other floating-point modes and, per run, outside the
// vector domain.
template <const DriverShape &kShape>
int32_t convert_elements_on(const float *in, const float *ecc, int32_t e_step, int32_t count,
                            float *out, int32_t max_iterations, int32_t tolerance,
                            bool keep_going) {
  if (!vector_fp_environment()) {
    if (e_step == 0)
      return convert_one_orbit_plain(in, count, cap_eccentricity(ecc[0]), out, max_iterations,
                                     tolerance, keep_going);
    return convert_per_element_plain(in, ecc, count, out, max_iterations, tolerance, keep_going);
  }
  Call call = Call::over(in, count, out, max_iterations, tolerance, keep_going);
  // Elements from .. from + n - 1 on one orbit, or each on its own; true
  // when the call must stop.
  const auto orbit = [&](int32_t from, int32_t n) {
    Call part = call.part(from, n);
    const float e = cap_eccentricity(ecc[from]);
    if (eccentricity_in_vector_domain(e))
      convert_one_orbit_lanes<kShape.lanes, kShape.straggler_groups, kShape.block_groups,
                              kShape.long_call_groups>(part, e);
    else
      part.first_failure = convert_one_orbit_plain(part.in, n, e, part.out, max_iterations,
                                                   tolerance, keep_going);
    return call.absorb(part, from);
  };
  const auto mixed = [&](int32_t from, int32_t n) {
    Call part = call.part(from, n);
    convert_per_element_lanes<kShape.lanes, kShape.straggler_groups>(part, ecc + from);
    return call.absorb(part, from);
  };
  if (e_step == 0) {
    orbit(0, count);
    return call.first_failure;
  }
  // Stretches of mixed eccentricities and runs of one, in index order.
  int32_t mixed_from = 0;
  for (int32_t i = 0; i < count;) {
    int32_t j = i + 1;
    const uint32_t bits = __builtin_bit_cast(uint32_t, ecc[i]);
    while (j < count && __builtin_bit_cast(uint32_t, ecc[j]) == bits) ++j;
    if (j - i >= kMinOrbitRun) {
      if (i > mixed_from && mixed(mixed_from, i - mixed_from)) return call.first_failure;
      if (orbit(i, j - i)) return call.first_failure;
      mixed_from = j;
    }
    i = j;
  }
  if (count > mixed_from) mixed(mixed_from, count - mixed_from);
  return call.first_failure;
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_CHOOSE_DRIVER_H
