// SPDX-License-Identifier: BSD-3-Clause
// The inputs of the exactness proof, each named once: what libm is assumed
// to deliver, the vector domain and what follows from it, the parts of pi/2
// the reductions use, the branch-cut limit, and the bounds that the scripts
// in tools/ compute (polynomial errors, the wide offset form's slopes). The
// kernels' bounds (kernels/*.h) and the rounding tests' slacks
// (drivers/slacks.h) are built from these in static_asserts; nothing else
// holds one of these numbers. docs/exactness.md gives the argument.
//
// Plain constants, shared by every translation unit whatever its
// instruction set.
#ifndef TRUEANOMALY_KERNELS_ERROR_BUDGET_H
#define TRUEANOMALY_KERNELS_ERROR_BUDGET_H

namespace trueanomaly_detail {

// ---- libm ------------------------------------------------------------------
// The system's sin, cos and atan2 are assumed within 4 ulp of the truth
// (glibc's own testing shows about 0.55 ulp; it proves nothing). For sin and
// cos, whose values are at most 1, that is below 2^-50 absolute; for atan2,
// at most pi, below 2^-49.
constexpr double kLibmSinCosError = 0x1p-50;
constexpr double kLibmAtan2Error = 0x1p-49;
// One rounding below 1 (the square roots of 1 +- e, the products with
// them): at most half an ulp, 2^-53, counted here as 2^-52 for both.
constexpr double kRoundingBelowOne = 0x1p-52;

// ---- The vector domain -----------------------------------------------------
// The vector paths and the scalar kernel take eccentricities with
// |e| <= kVectorMaxE (after the cap); everything else goes to the plain
// solve. It keeps the slope 1 - e*cos(E) at least 1 - kVectorMaxE > 0.0099
// and the point (sqrt(1-e)*cos(E/2), sqrt(1+e)*sin(E/2)) at least
// kMinPointRadius from the origin (its distance is at least sqrt(1 - |e|)),
// with sqrt(1 + |e|) below kMaxRootOnePlusE.
constexpr float kVectorMaxE = 0.99f;
constexpr double kMinPointRadius = 0.0999999;
constexpr double kMaxRootOnePlusE = 1.42;
static_assert(kMinPointRadius * kMinPointRadius <= 1.0 - double{kVectorMaxE},
              "sqrt(1 - |e|) >= kMinPointRadius");
static_assert(kMaxRootOnePlusE * kMaxRootOnePlusE >= 1.0 + double{kVectorMaxE},
              "sqrt(1 + |e|) < kMaxRootOnePlusE");

// The block driver's offset form is proven for |e| <= kOffsetFormMaxE, where
// the point is at least kOffsetMinPointRadius from the origin and
// sqrt(1 + |e|) < kOffsetMaxRootOnePlusE.
constexpr float kOffsetFormMaxE = 0.7f;
constexpr double kOffsetMinPointRadius = 0.547;
constexpr double kOffsetMaxRootOnePlusE = 1.31;
static_assert(kOffsetMinPointRadius * kOffsetMinPointRadius <= 1.0 - double{kOffsetFormMaxE},
              "sqrt(1 - |e|) >= kOffsetMinPointRadius");
static_assert(kOffsetMaxRootOnePlusE * kOffsetMaxRootOnePlusE >= 1.0 + double{kOffsetFormMaxE},
              "sqrt(1 + |e|) < kOffsetMaxRootOnePlusE");

// ---- pi --------------------------------------------------------------------
// Cody-Waite reduction, pi/2 = kPiOver2Hi + kPiOver2Lo + tail:
//   kPiOver2Hi: the first 31 significant bits of pi/2, a multiple of 2^-30,
//     so k*kPiOver2Hi is exact for |k| < 2^22 (31 + 22 bits <= 53);
//   kPiOver2Lo: pi/2 - kPiOver2Hi rounded to double;
//   tail = pi/2 - kPiOver2Hi - kPiOver2Lo, |tail| < 2^-87.8.
constexpr double kPiOver2Hi = 0x1.921fb544p+0;
constexpr double kPiOver2Lo = 0x1.0b4611a626331p-34;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;  // 2/pi rounded to double
// pi/4, pi/2 and pi rounded to double.
constexpr double kPiOver4 = 0x1.921fb54442d18p-1;
constexpr double kPiOver2 = 0x1.921fb54442d18p+0;
constexpr double kPi = 0x1.921fb54442d18p+1;

// ---- The branch cut --------------------------------------------------------
// nu = 2*atan2(y, x) jumps by 4*pi where (x, y) crosses the negative x axis.
// A result is decided only where |nu| < kBranchCutLimit, more than 7.7e-7
// below 2*pi (the float just below 2*pi's float), i.e. with (x, y) at least
// kMinPointRadius * sin(3.85e-7) > 2^-25 from that axis, far more than the
// distance between our point and libm's.
constexpr float kBranchCutLimit = 6.2831845f;
static_assert(double{kBranchCutLimit} < 2.0 * kPi - 7.7e-7, "below the cut by 7.7e-7 at least");

// ---- Polynomial errors ------------------------------------------------------
// Largest error of each polynomial, as its coefficients are rounded to
// double, on its range, over a 20001-point grid, rounded up (see each
// polynomial in kernels/). Printed by tools/fit_polynomials.py, whose
// --check (a ctest) fails unless this block is what it prints.
constexpr double kSinPolyError = 0x1.0000000000000p-46;         // 2^-46.0
constexpr double kCosPolyError = 0x1.bdb8cdadbe112p-51;         // 2^-50.2
constexpr double kAtanPolyError = 0x1.bdb8cdadbe112p-50;        // 2^-49.2
constexpr double kAtanOffsetPolyError = 0x1.9fdf8bcce534cp-43;  // 2^-42.3

// ---- The wide offset form's constants (tools/offset_form_slopes.py) --------
// Over |e| <= kVectorMaxE and every half-angle, on a grid (see
// kernels/true_anomaly_offset.h): the sensitivity of the angle to s and c
// below kOffsetSlopeSinCos, to k - 1 (relative) below kOffsetSlopeK, the
// quotient's denominator at least kOffsetMinDenominator, |t| below
// kOffsetMaxT. The grid's figures, rounded up with room for the grid.
constexpr double kOffsetSlopeSinCos = 22.0;
constexpr double kOffsetSlopeK = 6.6;
constexpr double kOffsetMinDenominator = 0.0708;
constexpr double kOffsetMaxT = 1.745;

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_KERNELS_ERROR_BUDGET_H
