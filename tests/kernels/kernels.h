// SPDX-License-Identifier: BSD-3-Clause
// The library's lane kernels and drivers (src/kernels/, src/drivers/) as
// tests and tools call them: compiled once per vector implementation, with
// its instruction-set flags, in kernels_<name>.cpp (tests/CMakeLists.txt),
// and reached only through these tables after a CPU check.
// Nothing else in a test program is compiled for a wider instruction set
// than the build's own, so a program runs (and skips what it cannot check)
// on any x86-64 CPU.
#ifndef TRUEANOMALY_TESTS_KERNELS_H
#define TRUEANOMALY_TESTS_KERNELS_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "dispatch.h"
#include "implementation.h"

namespace lane_kernels {

using trueanomaly_detail::ConvertFn;
using trueanomaly_detail::Implementation;

// Which driver a shape runs: the one the array path would choose for the
// call, or one of them forced, whatever e and the tolerance.
enum class Driver { chosen, one_step, until_stopped, two_step, stragglers };

// One instantiation of the array conversion: W lanes, K groups a block in
// the straggler driver, KB in the block driver, KL in both block drivers
// on calls of 512 elements or more (0: as on shorter calls, and no
// two-step block driver).
struct Shape {
  int lanes, groups, block_groups, long_call_groups;
  Driver driver;
  ConvertFn convert;
};

// "4x4" (both drivers 4 groups), "4x5_4x4" (the block driver 5, the
// straggler driver 4), "4x5_one_step", "4x8_one_step", "4x5_until_stopped", "4x8_two_step",
// "4x4_stragglers".
std::string shape_name(const Shape &s);

enum class OffsetForm { narrow, wide, wide_per_lane };

struct Kernels {
  const Implementation *implementation;  // the one whose flags these are compiled with
  const char *name;                      // its name
  int lanes;                             // its width
  // sincos_lanes and atan2_lanes over arrays of any length n.
  void (*sincos)(const double *x, size_t n, double *sin_x, double *cos_x);
  // sincos_far_lanes likewise, in the path's own width and in the next
  // wider path's (AVX-512's 8 lanes in AVX2 halves), as the shapes below.
  void (*sincos_far)(const double *x, size_t n, double *sin_x, double *cos_x);
  void (*sincos_far_wider)(const double *x, size_t n, double *sin_x, double *cos_x);
  void (*atan2)(const double *y, const double *x, size_t n, double *angle);
  // finish_lanes's conversions over n floats E with one eccentricity: nu
  // before rounding, from half_angle_products of E/2, as finish_lanes forms
  // it, by the block driver's true_anomaly_offset_lanes (|e| <=
  // kOffsetFormMaxE) or the straggler driver's true_anomaly_offset_wide_lanes
  // (|e| <= 0.99f), k - 1 from the call's orbit or per lane.
  void (*offset_form)(const float *E, size_t n, float e, OffsetForm form, double *nu);
  // Its whole turns, offset_turns_lanes: E - 4*pi*round(E/(4*pi)) of n floats.
  void (*offset_turns)(const float *E, size_t n, double *w);
  // The path's own shape, one group of it, each driver forced, and one
  // group of the next wider path's lanes in this path's registers (so that
  // width is checked on CPUs without the wider path too; one group, as the
  // groups' logic does not depend on the width, and four groups of it
  // compiled in halves would double the build's longest compilation).
  const Shape *shapes;
  size_t shape_count;
  // One block of the path's own shape (block_size mean anomalies) solved as
  // the path solves it, with the driver it would choose: each lane's status,
  // kSolved, kFailed or kUndecided (handed to the plain solve), as in
  // drivers/rounding_tests.h. For tools/fallback_rates.cpp.
  size_t block_size;
  void (*block_statuses)(const float *mean_anomalies, float eccentricity, int32_t max_iterations,
                         int32_t tolerance, int32_t *status);
};

// The lane statuses of block_statuses.
enum BlockStatus : int32_t { kBlockSolved = 1, kBlockFailed = 2, kBlockUndecided = 3 };

// Every table this build compiled (one per vector path), whether or not this
// CPU can run it.
std::vector<const Kernels *> compiled();

// True when this CPU can run `k` (the library's own CPU check).
inline bool runnable(const Kernels &k) { return trueanomaly_detail::available(*k.implementation); }

// The compiled tables this CPU can run, narrowest first.
std::vector<const Kernels *> runnable();

// TRUEANOMALY_KERNEL_STRIDE for the every-float checks: visit every S-th
// input (runs under an emulator); 1 when unset or below 1.
inline uint64_t stride_from_environment() {
  const char *s = getenv("TRUEANOMALY_KERNEL_STRIDE");
  const unsigned long long stride = s && *s ? strtoull(s, nullptr, 10) : 1;
  return stride < 1 ? 1 : stride;
}

}  // namespace lane_kernels

#endif  // TRUEANOMALY_TESTS_KERNELS_H
