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

#include "drivers/rounding_tests.h"
#include "kernels/lanes.h"
#include "solve.h"

namespace trueanomaly_detail {
namespace {

template <int W>
struct BlockResult {
  float true_anomaly[W];
  int32_t status[W];  // LaneStatus
};

// Stores the first n results of a solved block in index order; undecided
// elements are solved again by the plain solve from their mean anomaly,
// with eccentricity_of(k). An element that reaches the limit ends the
// store, it and later outputs untouched, or with keep_going is stored as
// NaN and the rest are stored too. Returns the index of the first such
// element, or n.
template <int B, class EccentricityOf>
inline int32_t store_block(const BlockResult<B> &r, const float *mean, EccentricityOf eccentricity_of,
                           int32_t n, int32_t max_iterations, int32_t tolerance, bool keep_going,
                           float *out) {
  int32_t first_failure = n;
  for (int32_t k = 0; k < n; ++k) {
    float value = r.true_anomaly[k];
    bool failed = r.status[k] == kFailed;
    if (r.status[k] == kUndecided)
      failed = !trueanomaly_solve(mean[k], eccentricity_of(k), max_iterations, tolerance, &value);
    if (failed) {
      if (!keep_going) return k;
      if (first_failure == n) first_failure = k;
      value = __builtin_nanf("");
    }
    out[k] = value;
  }
  return first_failure;
}

// True when every status of the block is kSolved, read back as the compiler
// chooses or (kByFours) four at a time. Four at a time, each load lies within
// one group's store, so the CPU forwards it rather than waiting for the
// stores to reach the cache: 2-5 % faster in the straggler driver, 4 % in
// the two-step block driver (its eight groups the compiler reads back in
// loads that span two groups' stores); in the one-step block driver the
// same change measured 2-3 % slower (the compiler's schedule of the whole
// block moves), so that one keeps the default.
typedef Lanes<4>::i FourStatuses;
template <bool kByFours, int B>
inline bool all_solved(const BlockResult<B> &r) {
  if constexpr (kByFours) {
    static_assert(B % 4 == 0, "whole fours");
    FourStatuses all = splat<FourStatuses>(int32_t{-1});
    for (int32_t k = 0; k < B; k += 4)
      all &= lanes_at<FourStatuses>(r.status + k) == int32_t{kSolved};
    return !any_lane(~all);
  } else {
    int32_t all = 1;
    for (int32_t k = 0; k < B; ++k) all &= r.status[k] == kSolved;
    return all != 0;
  }
}

// Stores a solved block of the call's elements base .. base+n-1 (all B at
// once when every lane solved, else through store_block) and folds its
// first failure into the call's *first_failure (count while none); true when
// the call must stop there. kByFours: see all_solved.
template <int B, bool kByFours = false, class EccentricityOf>
inline bool store_solved_block(const BlockResult<B> &r, const float *block,
                               EccentricityOf eccentricity_of, int32_t n, int64_t base,
                               int32_t count, int32_t max_iterations, int32_t tolerance,
                               bool keep_going, float *out, int32_t *first_failure) {
  const bool every_lane_solved = all_solved<kByFours>(r);
  if (n == B && every_lane_solved) {
    memcpy(out + base, r.true_anomaly, sizeof r.true_anomaly);
    return false;
  }
  const int32_t k = store_block(r, block, eccentricity_of, n, max_iterations, tolerance,
                                keep_going, out + base);
  if (k == n) return false;
  if (*first_failure == count) *first_failure = static_cast<int32_t>(base + k);
  return !keep_going;
}

// Copies elements base .. base+n-1 of `from` into a block of B, padding a
// short block with its last element: the padding then costs no extra Newton
// steps, and its results are never stored.
template <int B>
inline void load_block(const float *from, int64_t base, int32_t n, float (&block)[B]) {
  if (n == B) {
    memcpy(block, from + base, sizeof block);
  } else {
    for (int32_t k = 0; k < B; ++k) block[k] = from[base + (k < n ? k : n - 1)];
  }
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_ORDERED_STORE_H
