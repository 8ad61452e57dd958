// SPDX-License-Identifier: BSD-3-Clause
// The eccentricity cap, signed zeros, non-finite inputs and unreduced angles.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "float_bits.h"
#include "solve.h"
#include "trueanomaly.h"

namespace {

using trueanomaly_detail::cap_eccentricity;

const float kMeans[] = {-7.0f, -3.0f, -1.0f, -0.2f, 0.2f, 0.5f, 1.0f, 2.0f, 3.1f, 6.0f, 100.0f};

TEST(Cap, AboveNinetyNineHundredthsGivesTheResultsOfPointNineNine) {
  EXPECT_EQ(float_bits(cap_eccentricity(0.99f)), float_bits(0.99f));
  EXPECT_EQ(float_bits(cap_eccentricity(std::nextafter(0.99f, 1.0f))), float_bits(0.99f));
  EXPECT_EQ(float_bits(cap_eccentricity(std::nextafter(0.99f, 0.0f))),
            float_bits(std::nextafter(0.99f, 0.0f)));
  EXPECT_EQ(float_bits(cap_eccentricity(INFINITY)), float_bits(0.99f));
  EXPECT_TRUE(std::isnan(cap_eccentricity(NAN)));
  for (float m : kMeans) {
    const float ref = trueanomaly(m, 0.99f, 100, 0);
    for (float e : {1.0f, 1.5f, 0.995f, 1e30f, INFINITY}) {
      EXPECT_EQ(float_bits(trueanomaly(m, e, 100, 0)), float_bits(ref)) << m << " " << e;
      float out = 0.0f;
      trueanomaly_array(&m, 1, e, &out, 100, 0);
      float ref_out = 0.0f;
      trueanomaly_array(&m, 1, 0.99f, &ref_out, 100, 0);
      EXPECT_EQ(float_bits(out), float_bits(ref_out));
    }
  }
}

TEST(Cap, NoLowerBound) {
  EXPECT_EQ(float_bits(cap_eccentricity(-0.995f)), float_bits(-0.995f));
  EXPECT_EQ(float_bits(cap_eccentricity(-5.0f)), float_bits(-5.0f));
  // Below -1 the conversion takes the square root of a negative number.
  EXPECT_TRUE(std::isnan(trueanomaly(1.0f, -1.5f, 100, 1000)));
  // -0.995 is used as given: the orbit is mirrored, not capped to -0.99.
  EXPECT_NE(float_bits(trueanomaly(0.5f, -0.995f, 100, 1000)),
            float_bits(trueanomaly(0.5f, -0.99f, 100, 1000)));
  EXPECT_EQ(float_bits(trueanomaly(0.5f, -0.995f, 100, 1000)),
            float_bits(-trueanomaly(-0.5f, -0.995f, 100, 1000)));
}

TEST(SignedZero, MeanAnomalyZeroKeepsItsSign) {
  for (float e : {0.0f, 0.3f, 0.9f, 0.99f}) {
    EXPECT_EQ(float_bits(trueanomaly(0.0f, e, 2, 0)), float_bits(0.0f)) << e;
    EXPECT_EQ(float_bits(trueanomaly(-0.0f, e, 2, 0)), float_bits(-0.0f)) << e;
  }
}

TEST(NonFinite, NaNOrInfiniteInputsGiveNaNWithALimitOfTwo) {
  EXPECT_TRUE(std::isnan(trueanomaly(NAN, 0.5f, 2, 0)));
  EXPECT_TRUE(std::isnan(trueanomaly(INFINITY, 0.5f, 2, 0)));
  EXPECT_TRUE(std::isnan(trueanomaly(-INFINITY, 0.0f, 2, -5)));
  EXPECT_TRUE(std::isnan(trueanomaly(1.0f, NAN, 2, 0)));
  EXPECT_TRUE(std::isnan(trueanomaly(NAN, 0.5f, 2, INT32_MIN)));
}

TEST(Angles, ZeroEccentricityGivesMMovedByMultiplesOfFourPi) {
  EXPECT_EQ(float_bits(trueanomaly(-1.0f, 0.0f, 100, 0)), float_bits(-1.0f));
  EXPECT_EQ(float_bits(trueanomaly(7.0f, 0.0f, 100, 0)), float_bits(-5.56637049f));
  for (float m = -6.25f; m <= 6.25f; m += 0.125f)
    EXPECT_NEAR(trueanomaly(m, 0.0f, 2, 0), m, 4e-6f) << m;
}

TEST(Angles, ResultsStayWithinTwoPi) {
  const float two_pi = 6.28318548f;
  for (float e : {-0.99f, 0.0f, 0.5f, 0.99f})
    for (float m = -1e4f; m <= 1e4f; m += 37.3f) {
      const float nu = trueanomaly(m, e, 200, 0);
      EXPECT_TRUE(nu == -1.0f || (nu >= -two_pi && nu <= two_pi)) << m << " " << e;
    }
}

}  // namespace
