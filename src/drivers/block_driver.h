// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// The block driver: blocks of groups of W lanes, each block stepped until
// its lanes stop (or by the one- and two-step rules), converted and stored
// in index order.
#ifndef TRUEANOMALY_DRIVERS_BLOCK_DRIVER_H
#define TRUEANOMALY_DRIVERS_BLOCK_DRIVER_H

#include <stdint.h>
#include <string.h>

#include "drivers/ordered_store.h"
#include "drivers/rounding_tests.h"
#include "solve_one.h"

namespace trueanomaly_detail {
namespace {

// One step of every group; true while any lane still runs.
template <int W, int kGroups, StepTest kTest = StepTest::kOnEstimate>
TRUEANOMALY_LANES_INLINE bool step_groups(LaneState<W> *st, const Orbit &orbit) {
  iterate_groups<W, kGroups, Reduction::kNear, kTest>(st, orbit);
  bool running = false;
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) running |= any_lane(st[j].running);
  return running;
}

// The lanes still running in the groups.
template <int W, int kGroups>
TRUEANOMALY_LANES_INLINE int32_t running_lanes(const LaneState<W> *st) {
  int32_t n = 0;
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) n += __builtin_popcount(lane_bits(st[j].running));
  return n;
}

// At most this many lanes of a block stepped until its lanes stop are left
// to the scalar kernel (continue_avx2, two side by side) once no more run,
// and as many stragglers at a call's end (straggler_driver.h): a step of the
// whole block then costs all of its groups' arithmetic for one or two
// elements, while the kernel's step is one element's shorter chain
// (docs/performance.md).
constexpr int32_t kScalarTailLanes = 2;

// Steps the groups until at most kScalarTailLanes lanes run, converts, and
// hands the lanes still running to the scalar kernel, which steps each on
// and converts it: their results and statuses replace the block's.
template <int W, int kGroups, Conversion kConversion>
TRUEANOMALY_LANES_INLINE void solve_with_scalar_tail(LaneState<W> *st, const Orbit &orbit,
                                                     int32_t tolerance, float *true_anomaly,
                                                     int32_t *status) {
  // The first step tested on f and d, as the one-step rule's (see StepTest).
  step_groups<W, kGroups, StepTest::kOnFAndD>(st, orbit);
  while (running_lanes<W, kGroups>(st) > kScalarTailLanes) step_groups<W, kGroups>(st, orbit);
  finish_groups<W, kGroups, kConversion>(st, orbit, true_anomaly, status);
  // The running lanes, in pairs (and one left over) to the kernel.
  Handover from[kScalarTailLanes];
  int32_t at[kScalarTailLanes];
  int32_t n = 0;
  for (int j = 0; j < kGroups; ++j) {
    for (uint32_t tail = lane_bits(st[j].running); tail != 0; tail &= tail - 1) {
      const int k = __builtin_ctz(tail);
      from[n] = {st[j].mean[k], st[j].estimate[k], st[j].steps[k]};
      at[n++] = j * W + k;
    }
  }
  const float e = static_cast<float>(orbit.e);  // exact: the orbit's e is a float's
  for (int32_t i = 0; i < n; i += 2) {
    float nu[2], estimate[2];
    Continued c[2];
    const int32_t pair = n - i < 2 ? n - i : 2;
    continue_avx2(from + i, pair, e, orbit.max_iterations, tolerance, c, estimate, nu);
    for (int32_t k = 0; k < pair; ++k) {
      true_anomaly[at[i + k]] = nu[k];
      status[at[i + k]] = c[k] == Continued::solved   ? int32_t{kSolved}
                          : c[k] == Continued::failed ? int32_t{kFailed}
                                                      : int32_t{kUndecided};
    }
  }
}

// Steps the groups until no lane runs, out of line: for blocks that need
// more than one step where one is the rule (see solve_lanes). It takes a
// copy of the block's state: were the block's own state to have its address
// taken, clang would keep all of it in memory on the common path too
// (docs/performance.md).
template <int W, int kGroups>
__attribute__((noinline)) void step_on(LaneState<W> *st, const Orbit &orbit) {
  while (step_groups<W, kGroups>(st, orbit)) {
  }
}

// How solve_lanes steps a block:
//   kUntilStopped  every group, until at most kScalarTailLanes lanes run,
//                  which the scalar kernel then finishes
//   kOneStep       where nearly every element stops after its first step:
//                  that step written out straight, any further ones out of
//                  line; the block then needs no loop, and the compiler
//                  keeps less state alive across it
//   kTwoSteps      where nearly every element stops within two steps: both
//                  written out straight for every lane, and no more; a block
//                  with a lane still running after them is left unsolved,
//                  for the caller to hand to another driver (no state is
//                  kept for a third step, which would cost the common case)
enum class StepRule { kUntilStopped, kOneStep, kTwoSteps };

// Solves kGroups groups of W mean anomalies on one orbit (its eccentricity
// capped, and within the vector domain) by kRule; false, with *out unset,
// when kTwoSteps leaves a lane running. Lanes from n on are padding: their
// results are never stored, and kUntilStopped does not step them. The
// groups are independent; running them side by side gives the CPU
// independent work while each waits on its own chain of dependent
// operations. Each group's step is one long chain
// (sin/cos, f and d, a division), so the CPU finds the other groups' work
// only if the compiler interleaves them: the vector paths are compiled with
// GCC's pre-allocation scheduler on for that reason (CMakeLists.txt).
//
// kConversion: see finish_lanes (kOffset only within kOffsetFormMaxE).
template <int W, int kGroups, StepRule kRule, Conversion kConversion>
TRUEANOMALY_LANES_INLINE bool solve_lanes(const float *mean_anomalies, int32_t n,
                                          const Orbit &orbit, int32_t tolerance,
                                          BlockResult<W * kGroups> *out) {
  LaneState<W> st[kGroups];
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) start_lanes<W>(mean_anomalies + j * W, &st[j]);
  if constexpr (kRule == StepRule::kUntilStopped) {
    typedef typename Lanes<W>::Int32s I;
#pragma GCC unroll 8
    for (int j = 0; j < kGroups; ++j) st[j].running &= lane_numbers<I>() < n - j * W;
    solve_with_scalar_tail<W, kGroups, kConversion>(st, orbit, tolerance, out->true_anomaly,
                                                    out->status);
    return true;
  } else if constexpr (kRule == StepRule::kOneStep) {
    if (step_groups<W, kGroups, StepTest::kOnFAndD>(st, orbit)) {
      LaneState<W> rest[kGroups];
      memcpy(rest, st, sizeof rest);
      step_on<W, kGroups>(rest, orbit);
      memcpy(st, rest, sizeof rest);
    }
  } else {
    step_groups<W, kGroups, StepTest::kOnFAndD>(st, orbit);
    if (step_groups<W, kGroups>(st, orbit)) {
      // Taking the state's address here, where a block is left (rare),
      // keeps it one array in memory rather than split into registers,
      // which AVX2's 16 registers cannot hold for eight groups either way
      // and which GCC then spills worse; clang instead keeps such a state
      // in memory throughout, and is faster without (docs/performance.md).
#if !defined(__clang__)
      __asm__ volatile("" : : "r"(st) : "memory");
#endif
      return false;
    }
  }
  finish_groups<W, kGroups, kConversion>(st, orbit, out->true_anomaly, out->status);
  return true;
}

// The block driver: the call's elements in blocks of kGroups groups of W
// lanes, each stepped by kRule, with one eccentricity e (capped, within the
// vector domain, and within kOffsetFormMaxE for kConversion == kOffset).
// Blocks are solved ahead of the stores, but outputs are written strictly
// in index order (store_block); the first failure is recorded in the call.
// With kTwoSteps the call may end early at a block left unsolved: the
// result is then the index of its first element, for another driver to go
// on from (nothing from there on has been written); otherwise count.
// Out of line, so that its frame (a block's state, results and spills,
// several KiB with eight groups) is not part of its caller's while the
// straggler driver, which may follow it, runs (trueanomaly.h's stack bound).
template <int W, int kGroups, StepRule kRule, Conversion kConversion>
__attribute__((noinline)) int32_t convert_blocks(Call &call, float e) {
  const Orbit orbit = make_orbit(e, call.max_iterations, call.tolerance);
  const OneEccentricity source{e};
  constexpr int32_t kBlock = W * kGroups;
  const int32_t count = call.count;
  // base is 64-bit: with count near INT32_MAX, base + kBlock would overflow int32_t.
  for (int64_t base = 0; base < count; base += kBlock) {
    const int32_t n = count - base < kBlock ? static_cast<int32_t>(count - base) : kBlock;
    float block[kBlock];
    load_block(call.in, base, n, block);
    BlockResult<kBlock> r;
    if (!solve_lanes<W, kGroups, kRule, kConversion>(block, n, orbit, call.tolerance, &r))
      return static_cast<int32_t>(base);
    if (store_solved_block<kBlock, kRule == StepRule::kTwoSteps>(call, r, base, n, source)) break;
  }
  return count;
}

// Whether a call that one block holds skips convert_blocks's loop. In the
// loop clang hoists the block's constants out and, short of registers,
// spills them, a store and a load each, which a call of one block pays in
// full; GCC leaves them in place, and its one-block calls measured no
// faster without the loop, at e = 0.9 slower (docs/performance.md).
#if defined(__clang__)
constexpr bool kOneBlockWithoutLoop = true;
#else
constexpr bool kOneBlockWithoutLoop = false;
#endif

// convert_blocks for a call that one block holds (count <= W * kGroups, and
// kRule not kTwoSteps), without the loop; a short block's groups loaded by
// load_short_block.
template <int W, int kGroups, StepRule kRule, Conversion kConversion>
__attribute__((noinline)) void convert_one_block(Call &call, float e) {
  static_assert(kRule != StepRule::kTwoSteps, "a block left unsolved has no caller to go on");
  const Orbit orbit = make_orbit(e, call.max_iterations, call.tolerance);
  constexpr int32_t kBlock = W * kGroups;
  float block[kBlock];
  if (call.count == kBlock)
    memcpy(block, call.in, sizeof block);
  else
    load_short_block<W>(call.in, call.count, kGroups, block);
  BlockResult<kBlock> r;
  solve_lanes<W, kGroups, kRule, kConversion>(block, call.count, orbit, call.tolerance, &r);
  store_solved_block<kBlock, false>(call, r, 0, call.count, OneEccentricity{e});
}

// A call that one block of kGroups holds: without the loop where
// kOneBlockWithoutLoop says so or where the call leaves the block short
// (see load_short_block); the outcome as convert_blocks's.
template <int W, int kGroups, StepRule kRule, Conversion kConversion>
inline int32_t convert_within_one_block(Call &call, float e) {
  if constexpr (kRule != StepRule::kTwoSteps) {
    if (kOneBlockWithoutLoop || call.count < W * kGroups) {
      convert_one_block<W, kGroups, kRule, kConversion>(call, e);
      return call.count;
    }
  }
  return convert_blocks<W, kGroups, kRule, kConversion>(call, e);
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_BLOCK_DRIVER_H
