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

namespace trueanomaly_detail {
namespace {

// One step of every group; true while any lane still runs.
template <int W, int kGroups, StepTest kTest = StepTest::kOnEstimate>
TRUEANOMALY_LANES_INLINE bool step_groups(LaneState<W> *st, const Orbit &orbit) {
  bool running = false;
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) {
    iterate_lanes<W, Reduction::kNear, kTest>(&st[j], orbit);
    running |= any_lane(st[j].running);
  }
  return running;
}

// Steps the groups until no lane runs.
template <int W, int kGroups>
TRUEANOMALY_LANES_INLINE void step_until_stopped(LaneState<W> *st, const Orbit &orbit) {
  while (step_groups<W, kGroups>(st, orbit)) {
  }
}

// The same, out of line, for blocks that need more than one step where one
// is the rule (see solve_lanes). It takes a copy of the block's state: were
// the block's own state to have its address taken, clang would keep all of
// it in memory on the common path too (docs/performance.md).
template <int W, int kGroups>
__attribute__((noinline)) void step_on(LaneState<W> *st, const Orbit &orbit) {
  step_until_stopped<W, kGroups>(st, orbit);
}

// How solve_lanes steps a block:
//   kUntilStopped  every group, until no lane runs
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
// when kTwoSteps leaves a lane running. The groups are independent; running
// them side by side gives the CPU independent work while each waits on its
// own chain of dependent operations. Each group's step is one long chain
// (sin/cos, f and d, a division), so the CPU finds the other groups' work
// only if the compiler interleaves them: the vector paths are compiled with
// GCC's pre-allocation scheduler on for that reason (CMakeLists.txt).
//
// kConversion: see finish_lanes (kOffset only within kOffsetFormMaxE).
template <int W, int kGroups, StepRule kRule, Conversion kConversion>
TRUEANOMALY_LANES_INLINE bool solve_lanes(const float *mean_anomalies, const Orbit &orbit,
                                          BlockResult<W * kGroups> *out) {
  LaneState<W> st[kGroups];
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j) start_lanes<W>(mean_anomalies + j * W, &st[j]);
  if constexpr (kRule == StepRule::kUntilStopped) {
    step_until_stopped<W, kGroups>(st, orbit);
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
#pragma GCC unroll 8
  for (int j = 0; j < kGroups; ++j)
    finish_lanes<W, kConversion>(st[j].estimate, st[j].status, orbit, out->true_anomaly + j * W,
                                 out->status + j * W);
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
    if (!solve_lanes<W, kGroups, kRule, kConversion>(block, orbit, &r))
      return static_cast<int32_t>(base);
    if (store_solved_block<kBlock, kRule == StepRule::kTwoSteps>(call, r, base, n, source)) break;
  }
  return count;
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_BLOCK_DRIVER_H
