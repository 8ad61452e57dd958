// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set: included only by the files made from
// kernels_path.cpp.in, each compiled with one vector path's flags. The lane
// kernels instantiated for kernels.h, with the shapes taken from paths.h.
#ifndef TRUEANOMALY_TESTS_KERNELS_PER_PATH_H
#define TRUEANOMALY_TESTS_KERNELS_PER_PATH_H

#include <string.h>

#include <array>

#include "kernels/kernels.h"
#include "drivers/choose_driver.h"

namespace lane_kernels {
namespace {

using namespace trueanomaly_detail;

// The two sin/cos kernels, as types to instantiate sincos_array with.
struct NearKernel {
  template <int W, class D>
  __attribute__((always_inline)) static void run(D x, D *s, D *c) { sincos_lanes<W>(x, s, c); }
};
struct FarKernel {
  template <int W, class D>
  __attribute__((always_inline)) static void run(D x, D *s, D *c) { sincos_far_lanes<W>(x, s, c); }
};

// A short last vector is padded with zeros, whose results are dropped.
template <int W, class Kernel = NearKernel>
void sincos_array(const double *x, size_t n, double *sin_x, double *cos_x) {
  typedef typename Lanes<W>::d D;
  size_t i = 0;
  for (; i + W <= n; i += W) {
    D v, s, c;
    memcpy(&v, x + i, sizeof v);
    Kernel::template run<W>(v, &s, &c);
    memcpy(sin_x + i, &s, sizeof s);
    memcpy(cos_x + i, &c, sizeof c);
  }
  if (i < n) {
    D v = splat<D>(0.0), s, c;
    memcpy(&v, x + i, (n - i) * sizeof(double));
    Kernel::template run<W>(v, &s, &c);
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

template <int W>
void offset_form_array(const float *E, size_t n, float e, OffsetForm form, double *nu) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::f F;
  const Orbit orbit = make_orbit(e, 2, 0);
  const LaneOrbit<W> lane_orbit = make_lane_orbit<W>(splat<F>(e), 2, 1.0f);
  for (size_t i = 0; i < n; i += W) {
    const size_t m = n - i < W ? n - i : W;
    F v = splat<F>(0.0f);
    memcpy(&v, E + i, m * sizeof(float));
    const D x = widen<D>(v);
    D sc, ss;
    half_angle_products<W>(x / 2.0, &sc, &ss);
    const D a =
        form == OffsetForm::narrow ? true_anomaly_offset_lanes<W>(x, sc, ss, orbit.k_minus_1)
        : form == OffsetForm::wide ? wide_offset_nu<W>(x, sc, ss, orbit)
                                   : wide_offset_nu<W>(x, sc, ss, lane_orbit);
    memcpy(nu + i, &a, m * sizeof(double));
  }
}

template <int W>
void offset_turns_array(const float *E, size_t n, double *w) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::f F;
  for (size_t i = 0; i < n; i += W) {
    const size_t m = n - i < W ? n - i : W;
    F v = splat<F>(0.0f);
    memcpy(&v, E + i, m * sizeof(float));
    const D turned = offset_turns_lanes<W>(widen<D>(v));
    memcpy(w + i, &turned, m * sizeof(double));
  }
}

template <int W, int K>
int32_t one_step_driver(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  if (max_iterations <= 1) return -1;
  // Forced for any e: the offset form where it is proven, the wide one
  // elsewhere.
  const int32_t done =
      e >= -kOffsetFormMaxE && e <= kOffsetFormMaxE
          ? convert_blocks<W, K, StepRule::kOneStep, Conversion::kOffset>(
                in, count, e, out, max_iterations, tolerance, false)
          : convert_blocks<W, K, StepRule::kOneStep, Conversion::kOffsetWide>(
                in, count, e, out, max_iterations, tolerance, false);
  return array_status(done, count);
}

// Forced for any e and tolerance, handing over to the straggler driver as
// the path does.
template <int W, int K, int KT>
int32_t two_step_driver(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  if (max_iterations <= 1) return -1;
  return array_status(convert_two_step_blocks<W, K, KT>(in, count, e, out, max_iterations,
                                                        tolerance, false),
                      count);
}

template <int W, int K>
int32_t straggler_driver(const float *in, int32_t count, float e, float *out,
                         int32_t max_iterations, int32_t tolerance) {
  if (max_iterations <= 1) return -1;
  return array_status(convert_with_stragglers<W, K>(in, count, OneEccentricity{e}, out,
                                                     max_iterations, tolerance, false),
                      count);
}

template <int W, int K>
void block_statuses(const float *mean_anomalies, float e, int32_t max_iterations,
                    int32_t tolerance, int32_t *status) {
  static_assert(int32_t{kSolved} == int32_t{kBlockSolved} &&
                    int32_t{kFailed} == int32_t{kBlockFailed} &&
                    int32_t{kUndecided} == int32_t{kBlockUndecided},
                "kernels.h names the lanes' statuses");
  const Orbit orbit = make_orbit(e, max_iterations, tolerance);
  BlockResult<W * K> r;
  if (one_step_rule_applies(e, tolerance))
    solve_lanes<W, K, StepRule::kOneStep, Conversion::kOffset>(mean_anomalies, SameOrbit{orbit},
                                                               &r);
  else
    solve_lanes<W, K, StepRule::kUntilStopped, Conversion::kOffsetWide>(mean_anomalies,
                                                                       SameOrbit{orbit}, &r);
  memcpy(status, r.status, sizeof r.status);
}

template <size_t N, size_t M>
constexpr std::array<Shape, N + M> joined(const std::array<Shape, N> &a,
                                          const std::array<Shape, M> &b) {
  std::array<Shape, N + M> out{};
  for (size_t i = 0; i < N; ++i) out[i] = a[i];
  for (size_t i = 0; i < M; ++i) out[N + i] = b[i];
  return out;
}

// The shapes of the path at index I of kPaths: each driver it can choose,
// forced, and one group of the next wider path's lanes where there is one.
template <size_t I>
struct ShapesOf {
  static constexpr PathInfo own = kPaths[I];
  static constexpr int kLongCallGroups = own.long_call_groups > 0 ? own.long_call_groups : 8;
  static constexpr bool kHasWider = I + 1 < kPathCount;
  static constexpr PathInfo wider = kHasWider ? kPaths[I + 1] : kPaths[I];
  static constexpr std::array<Shape, 6> own_shapes = {{
      {own.lanes, own.groups, own.block_groups, own.long_call_groups, Driver::chosen,
       &convert_array_lanes<own.lanes, own.groups, own.block_groups, own.long_call_groups>},
      {own.lanes, 1, 1, 1, Driver::chosen, &convert_array_lanes<own.lanes, 1, 1, 1>},
      {own.lanes, own.groups, own.block_groups, own.long_call_groups, Driver::one_step,
       &one_step_driver<own.lanes, own.block_groups>},
      // The block drivers as calls of 512 elements or more run them, at
      // any length; on every path, whether or not it chooses them.
      {own.lanes, own.groups, kLongCallGroups, own.long_call_groups, Driver::one_step,
       &one_step_driver<own.lanes, kLongCallGroups>},
      {own.lanes, own.groups, own.block_groups, own.long_call_groups, Driver::stragglers,
       &straggler_driver<own.lanes, own.groups>},
      {own.lanes, own.groups, own.block_groups, kLongCallGroups, Driver::two_step,
       &two_step_driver<own.lanes, own.groups, kLongCallGroups>},
  }};
  static constexpr std::array<Shape, kHasWider ? 1 : 0> wider_shapes = [] {
    std::array<Shape, kHasWider ? 1 : 0> out{};
    if constexpr (kHasWider)
      out[0] = {wider.lanes, 1, 1, 1, Driver::chosen, &convert_array_lanes<wider.lanes, 1, 1, 1>};
    return out;
  }();
  static constexpr auto all = joined(own_shapes, wider_shapes);
};

}  // namespace
}  // namespace lane_kernels

// Defines lane_kernels::kernels_<path>, the table of kernels.h for that path.
#define TRUEANOMALY_DEFINE_LANE_KERNELS(path_name)                                         \
  namespace lane_kernels {                                                                 \
  using Shapes_##path_name = ShapesOf<static_cast<size_t>(Path::path_name)>;              \
  extern const Kernels kernels_##path_name = {                                             \
      Path::path_name,                                                                     \
      #path_name,                                                                          \
      Shapes_##path_name::own.lanes,                                                       \
      &sincos_array<Shapes_##path_name::own.lanes>,                                        \
      &sincos_array<Shapes_##path_name::own.lanes, FarKernel>,                             \
      &sincos_array<Shapes_##path_name::wider.lanes, FarKernel>,                           \
      &atan2_array<Shapes_##path_name::own.lanes>,                                         \
      &offset_form_array<Shapes_##path_name::own.lanes>,                                   \
      &offset_turns_array<Shapes_##path_name::own.lanes>,                                  \
      Shapes_##path_name::all.data(),                                                      \
      Shapes_##path_name::all.size(),                                                      \
      Shapes_##path_name::own.lanes * Shapes_##path_name::own.groups,                      \
      &block_statuses<Shapes_##path_name::own.lanes, Shapes_##path_name::own.groups>};     \
  }

#endif  // TRUEANOMALY_TESTS_KERNELS_PER_PATH_H
