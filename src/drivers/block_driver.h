// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// The block driver: blocks of K groups of W lanes, each block stepped until
// its lanes stop (or by the one- and two-step rules), converted and stored
// in index order.
#ifndef TRUEANOMALY_DRIVERS_BLOCK_DRIVER_H
#define TRUEANOMALY_DRIVERS_BLOCK_DRIVER_H

#include <stdint.h>

#include "drivers/ordered_store.h"
#include "drivers/rounding_tests.h"

namespace trueanomaly_detail {
namespace {

// One step of every group; true while any lane still runs.
template <int W, int K, StepTest kTest = StepTest::kOnEstimate, class Orbits>
TRUEANOMALY_LANES_INLINE bool step_groups(LaneState<W> *st, const Orbits &orbits) {
  bool running = false;
#pragma GCC unroll 8
  for (int j = 0; j < K; ++j) {
    iterate_lanes<W, Reduction::kNear, kTest>(&st[j], orbits[j]);
    running |= any_lane(st[j].running);
  }
  return running;
}

// Steps the groups until no lane runs.
template <int W, int K, class Orbits>
TRUEANOMALY_LANES_INLINE void step_until_stopped(LaneState<W> *st, const Orbits &orbits) {
  while (step_groups<W, K>(st, orbits)) {
  }
}

// The same, out of line, for blocks that need more than one step where one
// is the rule (see solve_lanes).
template <int W, int K, class Orbits>
__attribute__((noinline)) void step_on(LaneState<W> *st, const Orbits &orbits) {
  step_until_stopped<W, K>(st, orbits);
}

// How solve_lanes steps a block:
//   kUntilStopped  every group, until no lane runs
//   kOneStep       where nearly every element stops after its first step:
//                  that step written out straight, any further ones out of
//                  line; the block then needs no loop, and the compiler
//                  keeps less state alive across it (about 8 % faster at
//                  e <= 0.5, 4 % slower at e = 0.9 where nearly every block
//                  takes two steps)
//   kTwoSteps      where nearly every element stops within two steps: both
//                  written out straight for every lane, and no more; a block
//                  with a lane still running after them is left unsolved,
//                  for the caller to hand to another driver (no state is
//                  kept for a third step, which would cost the common case)
enum class StepRule { kUntilStopped, kOneStep, kTwoSteps };

// Solves K groups of W mean anomalies, group j with orbits[j] (one
// eccentricity for all, or one per lane; capped, and within
// eccentricity_in_vector_domain), by kRule; false, with *out unset, when
// kTwoSteps leaves a lane running. The groups are independent; running
// them side by side gives the CPU independent work while each waits on its
// own chain of dependent operations. Each group's step is one long chain
// (sin/cos, f and d, a division), so the CPU finds the other groups' work only
// if the compiler interleaves them: the vector paths are compiled with GCC's
// pre-allocation scheduler on for that reason (CMakeLists.txt).
//
// kConversion: see finish_lanes (kOffset only for one eccentricity within
// kOffsetFormMaxE).
template <int W, int K, StepRule kRule, Conversion kConversion, class Orbits>
TRUEANOMALY_LANES_INLINE bool solve_lanes(const float *mean_anomalies, const Orbits &orbits,
                                          BlockResult<W * K> *out) {
  LaneState<W> st[K];
#pragma GCC unroll 8
  for (int j = 0; j < K; ++j) start_lanes<W>(mean_anomalies + j * W, &st[j]);
  if constexpr (kRule == StepRule::kUntilStopped) {
    step_until_stopped<W, K>(st, orbits);
  } else if constexpr (kRule == StepRule::kOneStep) {
    if (step_groups<W, K, StepTest::kOnFAndD>(st, orbits)) step_on<W, K>(st, orbits);
  } else {
    step_groups<W, K, StepTest::kOnFAndD>(st, orbits);
    if (step_groups<W, K>(st, orbits)) {
      // Taking the state's address here, where a block is left (rare),
      // keeps it one array in memory rather than split into registers. On
      // AVX2, whose 16 registers cannot hold eight groups' state either
      // way, the compiler's own spilling measured 10-11 % slower at
      // 0.8 <= e <= 0.9 (slower than the straggler driver); on AVX-512
      // both measured the same.
      __asm__ volatile("" : : "r"(st) : "memory");
      return false;
    }
  }
#pragma GCC unroll 8
  for (int j = 0; j < K; ++j)
    finish_lanes<W, kConversion>(st[j].estimate, st[j].status, orbits[j],
                                 out->true_anomaly + j * W, out->status + j * W);
  return true;
}

// The array conversion on blocks of K groups of W lanes stepped by kRule,
// one eccentricity (capped, within eccentricity_in_vector_domain, and within
// kOffsetFormMaxE for kConversion == kOffset). Blocks are solved ahead of the
// stores, but outputs are written strictly in index order (see store_block).
// Returns the index of the first element that reached the limit, or count.
// With kTwoSteps the call may end early at a block left unsolved:
// *unsolved is then the index of its first element, for another driver to
// go on from (nothing from there on has been written), and count otherwise.
template <int W, int K, StepRule kRule, Conversion kConversion>
inline int32_t convert_blocks(const float *in, int32_t count, float e, float *out,
                              int32_t max_iterations, int32_t tolerance, bool keep_going,
                              int32_t *unsolved = nullptr) {
  const Orbit orbit = make_orbit(e, max_iterations, tolerance);
  constexpr int32_t B = W * K;
  int32_t first_failure = count;
  // base is 64-bit: with count near INT32_MAX, base + B would overflow int32_t.
  for (int64_t base = 0; base < count; base += B) {
    const int32_t n = count - base < B ? static_cast<int32_t>(count - base) : B;
    float block[B];
    load_block(in, base, n, block);
    BlockResult<B> r;
    if (!solve_lanes<W, K, kRule, kConversion>(block, SameOrbit{orbit}, &r)) {
      *unsolved = static_cast<int32_t>(base);
      return first_failure;
    }
    if (store_solved_block<B, kRule == StepRule::kTwoSteps>(
            r, block, [e](int32_t) { return e; }, n, base, count, max_iterations, tolerance,
            keep_going, out, &first_failure))
      break;
  }
  if (unsolved) *unsolved = count;
  return first_failure;
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_BLOCK_DRIVER_H
