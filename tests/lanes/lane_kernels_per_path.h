// Compiled once per vector path, with that path's instruction-set flags
// (lane_kernels_<path>.cpp): the lane kernels instantiated for lane_kernels.h.
// TRUEANOMALY_LANE_KERNELS_TABLE names the table; W is the path's width.
#ifndef TRUEANOMALY_TESTS_LANE_KERNELS_PER_PATH_H
#define TRUEANOMALY_TESTS_LANE_KERNELS_PER_PATH_H

#include <string.h>

#include "kepler_lanes.h"
#include "lane_kernels.h"

namespace lane_kernels {
namespace {

using namespace trueanomaly_detail;

template <int W>
void sincos_array(const double *x, size_t n, double *sin_x, double *cos_x) {
  typedef typename Lanes<W>::d D;
  size_t i = 0;
  for (; i + W <= n; i += W) {
    D v, s, c;
    memcpy(&v, x + i, sizeof v);
    sincos_lanes<W>(v, &s, &c);
    memcpy(sin_x + i, &s, sizeof s);
    memcpy(cos_x + i, &c, sizeof c);
  }
  if (i < n) {
    D v = splat<D>(0.0), s, c;
    memcpy(&v, x + i, (n - i) * sizeof(double));
    sincos_lanes<W>(v, &s, &c);
    memcpy(sin_x + i, &s, (n - i) * sizeof(double));
    memcpy(cos_x + i, &c, (n - i) * sizeof(double));
  }
}

template <int W>
void atan2_array(const double *y, const double *x, size_t n, double *angle) {
  typedef typename Lanes<W>::d D;
  for (size_t i = 0; i < n; i += W) {
    const size_t m = n - i < W ? n - i : W;
    D vy = splat<D>(0.0), vx = splat<D>(1.0);
    memcpy(&vy, y + i, m * sizeof(double));
    memcpy(&vx, x + i, m * sizeof(double));
    const D a = atan2_lanes<W>(vy, vx);
    memcpy(angle + i, &a, m * sizeof(double));
  }
}

template <int W, int K>
constexpr Shape chosen_driver(const char *name) {
  return {name, W, K, false, &convert_array_lanes<W, K>};
}

template <int W, int K>
int32_t one_step_driver(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  return convert_blocks<W, K, true>(in, count, e, out, max_iterations, tolerance);
}

template <int W, int K>
constexpr Shape forced_one_step(const char *name) {
  return {name, W, K, true, &one_step_driver<W, K>};
}

}  // namespace
}  // namespace lane_kernels

#endif  // TRUEANOMALY_TESTS_LANE_KERNELS_PER_PATH_H
