// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set (see kernels/lanes.h).
//
// How both array drivers hand results to the caller: a block's results and
// statuses, stored strictly in index order, undecided elements solved again
// by the plain solve, nothing past the first failure unless failures are
// kept as NaN.
#ifndef TRUEANOMALY_DRIVERS_ORDERED_STORE_H
#define TRUEANOMALY_DRIVERS_ORDERED_STORE_H

#include <stdint.h>
#include <string.h>

#include "drivers/call.h"
#include "drivers/rounding_tests.h"
#include "kernels/lanes.h"
#include "solve.h"

namespace trueanomaly_detail {
namespace {

template <int kSize>
struct BlockResult {
  float true_anomaly[kSize];
  int32_t status[kSize];  // LaneStatus
};

// Stores the results of elements base .. base+n-1 of the call in index
// order; undecided elements are solved again by the plain solve from their
// mean anomaly and source.at(index). An element that reaches the limit is
// recorded in the call and ends the store, it and later outputs untouched,
// or with keep_going is stored as NaN and the rest are stored too. True
// when the call must stop there.
template <int kSize, class Source>
inline bool store_block(Call &call, const BlockResult<kSize> &r, int64_t base, int32_t n,
                        const Source &source) {
  for (int32_t k = 0; k < n; ++k) {
    const int64_t index = base + k;
    float value = r.true_anomaly[k];
    bool failed = r.status[k] == kFailed;
    if (r.status[k] == kUndecided)
      failed = !trueanomaly_solve(call.in[index], source.at(index), call.max_iterations,
                                  call.tolerance, &value);
    if (failed) {
      if (call.failed_at(index)) return true;
      value = __builtin_nanf("");
    }
    call.out[index] = value;
  }
  return false;
}

// True when every status of the block is kSolved, read back as the compiler
// chooses or (kByFours) four at a time, each load within one group's store
// so that the CPU forwards it rather than waiting for the stores to reach
// the cache. Which is faster depends on the driver's schedule
// (docs/performance.md): the straggler driver and the two-step blocks read
// by fours, the one-step blocks as the compiler chooses.
typedef Lanes<4>::Int32s FourStatuses;
template <bool kByFours, int kSize>
inline bool all_solved(const BlockResult<kSize> &r) {
  if constexpr (kByFours) {
    static_assert(kSize % 4 == 0, "whole fours");
    FourStatuses all = splat<FourStatuses>(int32_t{-1});
    for (int32_t k = 0; k < kSize; k += 4)
      all &= lanes_at<FourStatuses>(r.status + k) == int32_t{kSolved};
    return !any_lane(~all);
  } else {
    int32_t all = 1;
    for (int32_t k = 0; k < kSize; ++k) all &= r.status[k] == kSolved;
    return all != 0;
  }
}

// Stores a solved block of the call's elements base .. base+n-1: all at
// once when the block is whole and every lane solved, else through
// store_block. True when the call must stop there. kByFours: see
// all_solved.
template <int kSize, bool kByFours = false, class Source>
inline bool store_solved_block(Call &call, const BlockResult<kSize> &r, int64_t base, int32_t n,
                               const Source &source) {
  const bool every_lane_solved = all_solved<kByFours>(r);
  if (n == kSize && every_lane_solved) {
    memcpy(call.out + base, r.true_anomaly, sizeof r.true_anomaly);
    return false;
  }
  return store_block(call, r, base, n, source);
}

// Elements from[0 .. n-1], 0 < n < W * groups, into a block of `groups`
// groups of W, padded with the last element as load_block pads, but a whole
// group at a time, as the solve reads the block back: a group read back from
// several narrower stores (load_block's padding loop) waits for them to
// reach the cache, where one store of its width hands its value on at once;
// calls of a few elements took up to 20 % longer for it (docs/performance.md).
// For calls that leave their one block short (convert_one_block). Out of
// line, and not in the block loops, where only a call's last block is short:
// there it changed the loops' register allocation and slowed long calls.
// The groups are an argument, not a template parameter: one copy per lane
// width (with one per block size, GCC scheduled the unrelated long two-step
// loop differently, 2-3 % slower).
template <int W>
__attribute__((noinline)) void load_short_block(const float *from, int32_t n, int32_t groups,
                                                float *block) {
  typedef typename Lanes<W>::Floats F;
  const F last = splat<F>(from[n - 1]);
  for (int32_t j = 0; j < groups; ++j) {
    const int32_t valid = n - j * W;
    const F group = valid >= W  ? lanes_at<F>(from + j * W)
                    : valid > 0 ? lanes_at_padded<F>(from + j * W, valid)
                                : last;
    memcpy(block + j * W, &group, sizeof group);
  }
}

// Copies elements base .. base+n-1 of `from` into a block, padding a short
// block with its last element: the padding then costs no extra Newton
// steps, and its results are never stored.
template <int kSize>
inline void load_block(const float *from, int64_t base, int32_t n, float (&block)[kSize]) {
  if (n == kSize) {
    memcpy(block, from + base, sizeof block);
  } else {
    for (int32_t k = 0; k < kSize; ++k) block[k] = from[base + (k < n ? k : n - 1)];
  }
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_ORDERED_STORE_H
