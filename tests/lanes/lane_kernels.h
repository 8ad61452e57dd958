// The library's lane kernels (src/vec_math.h, src/kepler_lanes.h) as tests and
// tools call them: compiled once per vector path, with that path's
// instruction-set flags, in lane_kernels_<path>.cpp, and reached only through
// these tables after a CPU check. Nothing else in a test program is compiled
// for a wider instruction set than the build's own, so a program runs (and
// skips what it cannot check) on any x86-64 CPU.
#ifndef TRUEANOMALY_TESTS_LANE_KERNELS_H
#define TRUEANOMALY_TESTS_LANE_KERNELS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "array_paths.h"

namespace lane_kernels {

// The array conversion on lanes, with the array entry's contract (see
// convert_array in array_paths.h).
using ConvertFn = int32_t (*)(const float *in, int32_t count, float eccentricity, float *out,
                              int32_t max_iterations, int32_t tolerance);

// One instantiation of the block driver: W lanes, K groups a block.
struct Shape {
  const char *name;  // "4x4", or "4x4_one_step" for the forced one-step driver
  int lanes, groups;
  bool one_step;     // the one-step driver whatever e and the tolerance
  ConvertFn convert;
};

struct Kernels {
  trueanomaly_detail::Path path;  // the path whose flags these are compiled with
  const char *name;               // "avx2", "avx512"
  int lanes;                      // the width that path uses
  // sincos_lanes and atan2_lanes over arrays of any length n.
  void (*sincos)(const double *x, size_t n, double *sin_x, double *cos_x);
  void (*atan2)(const double *y, const double *x, size_t n, double *angle);
  const Shape *shapes;
  size_t shape_count;
};

// Every table this build compiled, whether or not this CPU can run it.
std::vector<const Kernels *> compiled();

// True when this CPU can run `k` (the library's own CPU check).
inline bool runnable(const Kernels &k) { return trueanomaly_detail::path_available(k.path); }

// The compiled tables this CPU can run, narrowest first.
std::vector<const Kernels *> runnable();

}  // namespace lane_kernels

#endif  // TRUEANOMALY_TESTS_LANE_KERNELS_H
