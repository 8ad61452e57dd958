// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set: included only by kernels_<name>.cpp, each compiled
// with one vector implementation's flags. The lane kernels instantiated for
// kernels.h, with the implementation's driver shape.
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
  typedef typename Lanes<W>::Doubles D;
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
  typedef typename Lanes<W>::Doubles D;
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
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
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
  typedef typename Lanes<W>::Doubles D;
  typedef typename Lanes<W>::Floats F;
  for (size_t i = 0; i < n; i += W) {
    const size_t m = n - i < W ? n - i : W;
    F v = splat<F>(0.0f);
    memcpy(&v, E + i, m * sizeof(float));
    const D turned = offset_turns_lanes<W>(widen<D>(v));
    memcpy(w + i, &turned, m * sizeof(double));
  }
}

// A forced driver's status for the array entry: 0, or -1 at a failure.
inline int32_t status_of(const Call &call) { return call.first_failure == call.count ? 0 : -1; }

template <int W, int kGroups>
int32_t one_step_driver(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  if (max_iterations <= 1) return -1;
  Call call = Call::over(in, count, out, max_iterations, tolerance, false);
  // Forced for any e: the offset form where it is proven, the wide one
  // elsewhere.
  if (e >= -kOffsetFormMaxE && e <= kOffsetFormMaxE)
    convert_blocks<W, kGroups, StepRule::kOneStep, Conversion::kOffset>(call, e);
  else
    convert_blocks<W, kGroups, StepRule::kOneStep, Conversion::kOffsetWide>(call, e);
  return status_of(call);
}

// The short calls' blocks, stepped until every lane stops, forced for any e
// and length.
template <int W, int kGroups>
int32_t until_stopped_driver(const float *in, int32_t count, float e, float *out,
                             int32_t max_iterations, int32_t tolerance) {
  if (max_iterations <= 1) return -1;
  Call call = Call::over(in, count, out, max_iterations, tolerance, false);
  convert_blocks<W, kGroups, StepRule::kUntilStopped, Conversion::kOffsetWide>(call, e);
  return status_of(call);
}

// Forced for any e, tolerance and length (blocks fitted to the call below
// kLongCallMinCount, long-call blocks from there on), handing over to the
// straggler driver as the path does.
template <int W, int kStragglerGroups, int kBlockGroups, int kLongCallGroups>
int32_t two_step_driver(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  if (max_iterations <= 1) return -1;
  Call call = Call::over(in, count, out, max_iterations, tolerance, false);
  convert_two_step_blocks<W, kStragglerGroups, kBlockGroups, kLongCallGroups>(call, e);
  return status_of(call);
}

template <int W, int kGroups>
int32_t straggler_driver(const float *in, int32_t count, float e, float *out,
                         int32_t max_iterations, int32_t tolerance) {
  if (max_iterations <= 1) return -1;
  Call call = Call::over(in, count, out, max_iterations, tolerance, false);
  convert_with_stragglers<W, kGroups>(call, OneEccentricity{e});
  return status_of(call);
}

template <int W, int kGroups>
void block_statuses(const float *mean_anomalies, float e, int32_t max_iterations,
                    int32_t tolerance, int32_t *status) {
  static_assert(int32_t{kSolved} == int32_t{kBlockSolved} &&
                    int32_t{kFailed} == int32_t{kBlockFailed} &&
                    int32_t{kUndecided} == int32_t{kBlockUndecided},
                "kernels.h names the lanes' statuses");
  const Orbit orbit = make_orbit(e, max_iterations, tolerance);
  BlockResult<W * kGroups> r;
  if (one_step_rule_applies(e, tolerance))
    solve_lanes<W, kGroups, StepRule::kOneStep, Conversion::kOffset>(mean_anomalies, W * kGroups,
                                                                     orbit, tolerance, &r);
  else
    solve_lanes<W, kGroups, StepRule::kUntilStopped, Conversion::kOffsetWide>(
        mean_anomalies, W * kGroups, orbit, tolerance, &r);
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

// The table of kernels.h for an implementation of shape kOwn, and one group
// of kWiderLanes lanes (the next wider implementation's; 0: none) in this
// implementation's registers.
template <const DriverShape &kOwn, int kWiderLanes>
struct KernelsFor {
  static constexpr int W = kOwn.lanes, kStraggler = kOwn.straggler_groups,
                       kBlock = kOwn.block_groups, kLongCall = kOwn.long_call_groups;
  // The long calls' groups, forced on a path that has none too.
  static constexpr int kLongCallGroups = kLongCall > 0 ? kLongCall : 8;
  static constexpr size_t kWiderShapes = kWiderLanes > 0 ? 1 : 0;
  static constexpr int kFarLanes = kWiderLanes > 0 ? kWiderLanes : W;
  // Each driver it can choose, forced.
  static constexpr std::array<Shape, 7> own_shapes = {{
      {W, kStraggler, kBlock, kLongCall, Driver::chosen,
       &convert_array_lanes<W, kStraggler, kBlock, kLongCall>},
      {W, 1, 1, 1, Driver::chosen, &convert_array_lanes<W, 1, 1, 1>},
      {W, kStraggler, kBlock, kLongCall, Driver::one_step, &one_step_driver<W, kBlock>},
      // The block drivers as calls of 512 elements or more run them, at
      // any length; on every path, whether or not it chooses them.
      {W, kStraggler, kLongCallGroups, kLongCall, Driver::one_step,
       &one_step_driver<W, kLongCallGroups>},
      {W, kStraggler, kBlock, kLongCall, Driver::until_stopped,
       &until_stopped_driver<W, kBlock>},
      {W, kStraggler, kBlock, kLongCall, Driver::stragglers, &straggler_driver<W, kStraggler>},
      {W, kStraggler, kBlock, kLongCallGroups, Driver::two_step,
       &two_step_driver<W, kStraggler, kBlock, kLongCallGroups>},
  }};
  static constexpr std::array<Shape, kWiderShapes> wider_shapes = [] {
    std::array<Shape, kWiderShapes> out{};
    if constexpr (kWiderLanes > 0)
      out[0] = {kWiderLanes, 1, 1, 1, Driver::chosen, &convert_array_lanes<kWiderLanes, 1, 1, 1>};
    return out;
  }();
  static constexpr auto all = joined(own_shapes, wider_shapes);

  // A constant: the table is static data, with no initialising code, which
  // would be compiled for this instruction set and run at startup on any
  // CPU.
  static constexpr Kernels table(const Implementation *implementation, const char *name) {
    return {implementation,
            name,
            W,
            &sincos_array<W>,
            &sincos_array<W, FarKernel>,
            &sincos_array<kFarLanes, FarKernel>,
            &atan2_array<W>,
            &offset_form_array<W>,
            &offset_turns_array<W>,
            all.data(),
            all.size(),
            static_cast<size_t>(W * kStraggler),
            &block_statuses<W, kStraggler>};
  }
};

}  // namespace
}  // namespace lane_kernels

#endif  // TRUEANOMALY_TESTS_KERNELS_PER_PATH_H
