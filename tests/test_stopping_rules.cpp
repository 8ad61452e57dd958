// SPDX-License-Identifier: BSD-3-Clause
// The integer stopping test, the iteration limit and the tolerance.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "float_bits.h"
#include "solve.h"
#include "trueanomaly.h"

namespace {

using trueanomaly_detail::step_exceeds_tolerance;

TEST(StepTest, TruncatesTowardZeroAndComparesMagnitude) {
  EXPECT_FALSE(step_exceeds_tolerance(0.999999f, 0));
  EXPECT_FALSE(step_exceeds_tolerance(-0.999999f, 0));
  EXPECT_TRUE(step_exceeds_tolerance(1.0f, 0));
  EXPECT_TRUE(step_exceeds_tolerance(-1.0f, 0));
  EXPECT_FALSE(step_exceeds_tolerance(2.9f, 2));
  EXPECT_TRUE(step_exceeds_tolerance(-3.0f, 2));
  EXPECT_FALSE(step_exceeds_tolerance(0.0f, 0));
  EXPECT_FALSE(step_exceeds_tolerance(-0.0f, 0));
}

TEST(StepTest, NegativeToleranceIsNeverMetByANumber) {
  EXPECT_TRUE(step_exceeds_tolerance(0.0f, -1));
  EXPECT_TRUE(step_exceeds_tolerance(-0.0f, -1));
  EXPECT_TRUE(step_exceeds_tolerance(0.5f, INT32_MIN));
}

TEST(StepTest, LargeStepsExceedEveryTolerance) {
  const float two31 = 2147483648.0f;
  for (float step : {two31, -two31, 2.0f * two31, INFINITY, -INFINITY, FLT_MAX}) {
    EXPECT_TRUE(step_exceeds_tolerance(step, INT32_MAX)) << step;
    EXPECT_TRUE(step_exceeds_tolerance(step, 0)) << step;
  }
  // The largest float below 2^31 fits, and INT32_MAX is above it.
  const float below = std::nextafter(two31, 0.0f);
  EXPECT_FALSE(step_exceeds_tolerance(below, INT32_MAX));
  EXPECT_FALSE(step_exceeds_tolerance(-below, INT32_MAX));
  EXPECT_TRUE(step_exceeds_tolerance(-below, 2147483519));
  EXPECT_FALSE(step_exceeds_tolerance(-below, 2147483520));
}

TEST(StepTest, NaNIsWithinEveryTolerance) {
  for (int32_t tolerance : {INT32_MIN, -1, 0, INT32_MAX}) {
    EXPECT_FALSE(step_exceeds_tolerance(NAN, tolerance));
    EXPECT_FALSE(step_exceeds_tolerance(-NAN, tolerance));
  }
}

TEST(Limit, OneOrLessFailsWhateverTheInput) {
  for (int32_t limit : {INT32_MIN, -1, 0, 1}) {
    EXPECT_EQ(float_bits(trueanomaly(0.0f, 0.0f, limit, 0)), float_bits(-1.0f));
    EXPECT_EQ(float_bits(trueanomaly(NAN, 0.5f, limit, INT32_MAX)), float_bits(-1.0f));
    float out = 3.0f;
    const float in = 0.0f;
    EXPECT_EQ(trueanomaly_array(&in, 1, 0.0f, &out, limit, 0), -1);
    EXPECT_EQ(out, 3.0f);
  }
}

TEST(Limit, TwoSucceedsExactlyWhenTheFirstStepPasses) {
  // M = 1, e = 0.9 takes two steps with tolerance 0, one with tolerance 1.
  EXPECT_EQ(float_bits(trueanomaly(1.0f, 0.9f, 2, 0)), float_bits(-1.0f));
  EXPECT_EQ(float_bits(trueanomaly(1.0f, 0.9f, 2, 1)), float_bits(2.98286128f));
  EXPECT_EQ(float_bits(trueanomaly(1.0f, 0.9f, 3, 0)), float_bits(2.82867527f));
  EXPECT_EQ(float_bits(trueanomaly(1.0f, 0.9f, INT32_MAX, 0)), float_bits(2.82867527f));
}

TEST(Tolerance, NegativeToleranceRunsToTheLimit) {
  EXPECT_EQ(float_bits(trueanomaly(1.0f, 0.5f, 100, -1)), float_bits(-1.0f));
  EXPECT_EQ(float_bits(trueanomaly(1.0f, 0.5f, 100, INT32_MIN)), float_bits(-1.0f));
}

TEST(Tolerance, HugeToleranceEndsAfterOneStep) {
  for (float e : {-0.99f, -0.5f, 0.0f, 0.5f, 0.9f, 0.99f, 1.5f}) {
    for (float m : {-1e6f, -3.0f, 0.1f, 1.0f, 2.5f, 1e6f}) {
      const float a = trueanomaly(m, e, 2, 1000000);
      EXPECT_TRUE(a != -1.0f || m == -1.0f) << m << " " << e;
      EXPECT_EQ(float_bits(a), float_bits(trueanomaly(m, e, 2, INT32_MAX)));
    }
  }
}

TEST(Tolerance, WholeRadianSteps) {
  // Tolerance 0 stops at the first step below one radian, not at zero: at
  // e = 0.99, M = 0.5 the second step is already below 1 radian, and with a
  // tolerance of 1 the first step (below 2 radians) ends it.
  EXPECT_EQ(float_bits(trueanomaly(-1.55f, 0.99f, 100, 0)), float_bits(-3.07858443f));
  EXPECT_EQ(float_bits(trueanomaly(-1.55f, 0.99f, 100, 1)), float_bits(-3.09921384f));
}

}  // namespace
