// SPDX-License-Identifier: BSD-3-Clause
// The benchmark's reference and comparison: if either were wrong, the speed-up
// it reports would compare the library with something else.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "float_bits.h"
#include "inputs.h"
#include "libm_loop.h"
#include "trueanomaly.h"

namespace {

float from_bits(uint32_t u) { return float_from_bits(u); }

// The libm loop is the library's pattern to the bit, also where it is easy to
// get wrong: wild iterations near e = 0.99, negative and large mean
// anomalies, non-default tolerances, limits at the N - 1 boundary, NaN.
TEST(LibmLoop, MatchesTheArrayEntryElementForElement) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> mean(-30.0f, 30.0f), ecc(-0.99f, 0.99f);
  for (int32_t limit : {0, 1, 2, 3, 5, 100}) {
    for (int32_t tolerance : {-1, 0, 1, 4}) {
      for (int round = 0; round < 40; ++round) {
        const float e = round % 4 == 0 ? 0.99f : ecc(rng);
        float m = mean(rng);
        if (round == 1) m = NAN;
        float expected = -7.0f, got = -7.0f;
        const int32_t status = trueanomaly_array(&m, 1, e, &expected, limit, tolerance);
        ASSERT_EQ(bench::libm_solve(m, e, limit, tolerance, &got), status == 0)
            << "M=" << m << " e=" << e << " limit=" << limit << " tol=" << tolerance;
        ASSERT_EQ(bench::first_difference(&got, &expected, 1), -1)
            << "M=" << m << " e=" << e << " limit=" << limit << " tol=" << tolerance;
        float out = -7.0f;
        ASSERT_EQ(bench::libm_loop(&m, 1, e, &out, limit, tolerance), status);
      }
    }
  }
}

TEST(Inputs, UniformInRangeReproducibleAndAllSolved) {
  const bench::InputSet a = bench::make_inputs(0.99f, 20000, 100, 0, 4);
  const bench::InputSet b = bench::make_inputs(0.99f, 20000, 100, 0, 4);
  ASSERT_EQ(a.mean_anomalies, b.mean_anomalies);
  EXPECT_GT(a.draws, a.mean_anomalies.size());  // a few are dropped at 0.99
  double sum = 0.0;
  for (float m : a.mean_anomalies) {
    ASSERT_GE(m, 0.0f);
    ASSERT_LT(static_cast<double>(m), 2.0 * M_PI);
    sum += m;
  }
  EXPECT_NEAR(sum / 20000.0, M_PI, 0.05);
  std::vector<float> out(a.mean_anomalies.size());
  ASSERT_EQ(trueanomaly_array(a.mean_anomalies.data(), 20000, 0.99f, out.data(), 100, 0), 0);
  EXPECT_EQ(bench::first_difference(out.data(), a.reference.data(), out.size()), -1);
  EXPECT_EQ(bench::make_inputs(0.5f, 1000, 100, 0, 4).draws, 1000u);
}

TEST(FirstDifference, ComparesBitsNotValues) {
  const float nan_a = from_bits(0x7fc00000u), nan_b = from_bits(0xffc00001u);
  const std::vector<float> x{1.0f, 0.0f, nan_a, 2.0f};
  EXPECT_EQ(bench::first_difference(x.data(), x.data(), x.size()), -1);
  EXPECT_EQ(bench::first_difference(x.data(), std::vector<float>{1.0f, -0.0f, nan_a, 2.0f}.data(), 4), 1);
  EXPECT_EQ(bench::first_difference(x.data(), std::vector<float>{1.0f, 0.0f, nan_b, 2.0f}.data(), 4), -1);
  EXPECT_EQ(bench::first_difference(x.data(), std::vector<float>{1.0f, 0.0f, nan_a, std::nextafter(2.0f, 3.0f)}.data(), 4), 3);
  EXPECT_EQ(bench::first_difference(x.data(), std::vector<float>{1.0f, 0.0f, 5.0f, 2.0f}.data(), 4), 2);
}

}  // namespace
