// SPDX-License-Identifier: BSD-3-Clause
// The rounding tests' slacks: how far our sin, cos and nu may lie from
// libm's, built from the kernels' bounds and the libm budget
// (kernels/error_budget.h), each checked by a static_assert. A slack may be
// generous (a wider one only sends more elements to the plain solve), never
// too tight.
#ifndef TRUEANOMALY_DRIVERS_SLACKS_H
#define TRUEANOMALY_DRIVERS_SLACKS_H

#include "kernels/atan2.h"
#include "kernels/error_budget.h"
#include "kernels/sincos.h"
#include "kernels/true_anomaly_offset.h"

namespace trueanomaly_detail {

// Largest gap between our sin/cos and libm's that the tests allow: ours
// within kSinCosError of the truth, libm's within kLibmSinCosError; 2^-43
// leaves another factor 4.
constexpr double kSinCosSlack = 0x1p-43;
static_assert(kSinCosError + kLibmSinCosError < kSinCosSlack / 4, "sin/cos slack too tight");

// Largest gap between our nu and libm's. With nu = 2*atan2(y, x) (the
// scalar kernel, solve_one_avx2.cpp): our x = sqrt(1-e)*cos(E/2) and
// y = sqrt(1+e)*sin(E/2) differ from libm's by dx + dy <= (sqrt(1-e) +
// sqrt(1+e)) * kSinCosSlack + 2 ulp (the products, below 2) = kXYSlack; the
// exact point is at least kMinPointRadius from the origin, so unless the
// segment between the two points crosses atan2's branch cut (finish_lanes
// decides nothing near it) the angle moves by at most
// (pi/2) * D / (r - D). Our atan2 adds kAtan2Error and libm's
// kLibmAtan2Error, and nu doubles all three. 2^-36 leaves a factor 2 for
// the rounding of nu +- slack and everything else.
constexpr double kTrueAnomalySlack = 0x1p-36;
constexpr double kXYSlack = 2.0 * kSinCosSlack + 2.0 * kRoundingBelowOne;
static_assert(2.0 * (kPiOver2 * kXYSlack / (kMinPointRadius - kXYSlack) + kAtan2Error +
                     kLibmAtan2Error) < kTrueAnomalySlack / 2,
              "true anomaly slack too tight");

// The same test, for the offset forms of nu (finish_lanes), allows for the
// form's own bound, kOffsetFormError or kOffsetWideFormError, plus libm's
// distance from the exact nu: its x and y each within
// root * (kLibmSinCosError + kRoundingBelowOne) of exact (cos and sin times
// sqrt(1 +- e) < root, the square roots and products rounded), the exact
// point at least r from the origin, so the angle moves by at most
// (pi/2) * D / (r - D) with D = dx + dy; libm's atan2 adds kLibmAtan2Error,
// and nu doubles both.
constexpr double libm_true_anomaly_error(double root, double r) {
  const double xy = 2.0 * root * (kLibmSinCosError + kRoundingBelowOne);  // dx + dy
  return 2.0 * (kPiOver2 * xy / (r - xy) + kLibmAtan2Error);
}
static_assert(kOffsetFormError +
                      libm_true_anomaly_error(kOffsetMaxRootOnePlusE, kOffsetMinPointRadius) <
                  kTrueAnomalySlack / 2,
              "true anomaly slack too tight for the offset form");
static_assert(kOffsetWideFormError + libm_true_anomaly_error(kMaxRootOnePlusE, kMinPointRadius) <
                  kTrueAnomalySlack / 2,
              "true anomaly slack too tight for the wide offset form");

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_SLACKS_H
