// SPDX-License-Identifier: BSD-3-Clause
// Published worked examples, bit for bit, and the step counts behind them.
#include <gtest/gtest.h>

#include <cmath>

#include "float_bits.h"
#include "trueanomaly.h"

namespace {

struct Example {
  float mean_anomaly, eccentricity;
  int32_t limit, tolerance;
  float expected;  // -1.0f with ok == false: the limit was reached
  bool ok;
  int32_t steps;  // the final step count n
};

const Example kExamples[] = {
    {0.5f, 0.0f, 100, 0, 0.5f, true, 1},
    {1.0f, 0.1f, 100, 0, 1.17984021f, true, 1},
    {1.0f, 0.5f, 100, 0, 2.0993011f, true, 1},
    {-1.0f, 0.5f, 100, 0, -2.0993011f, true, 1},
    {2.0f, 0.5f, 100, 0, 2.68497467f, true, 1},
    {1.0f, 0.9f, 100, 0, 2.82867527f, true, 2},
    {1.0f, 0.9f, 2, 1, 2.98286128f, true, 1},
    {3.0f, 0.9f, 100, 0, 3.12451029f, true, 1},
    {0.5f, 0.99f, 100, 0, 2.99281645f, true, 3},
    {0.5f, 0.995f, 100, 0, 2.99281645f, true, 3},
    {0.5f, 0.99f, 3, 1, -1.0f, false, 3},
    {0.5f, 0.99f, 4, 1, 2.99281645f, true, 3},
    {-1.55f, 0.99f, 100, 0, -3.07858443f, true, 2},
    {-1.55f, 0.99f, 100, 1, -3.09921384f, true, 1},
    {7.0f, 0.0f, 100, 0, -5.56637049f, true, 1},
};

class WorkedExample : public ::testing::TestWithParam<Example> {};

TEST_P(WorkedExample, ScalarAndArrayGiveThePublishedBits) {
  const Example& x = GetParam();
  EXPECT_EQ(float_bits(trueanomaly(x.mean_anomaly, x.eccentricity, x.limit, x.tolerance)),
            float_bits(x.expected));
  float out = 42.0f;
  EXPECT_EQ(trueanomaly_array(&x.mean_anomaly, 1, x.eccentricity, &out, x.limit, x.tolerance),
            x.ok ? 0 : -1);
  EXPECT_EQ(float_bits(out), float_bits(x.ok ? x.expected : 42.0f));
}

// A solve that ends after n steps needs a limit of n + 1: the limit is tested
// right after each step, before that step's stopping test.
TEST_P(WorkedExample, LimitNeedsOneMoreThanTheStepCount) {
  const Example& x = GetParam();
  const float with_room = trueanomaly(x.mean_anomaly, x.eccentricity, x.steps + 1, x.tolerance);
  EXPECT_EQ(float_bits(with_room), float_bits(x.ok ? x.expected : with_room));
  float out = 42.0f;
  EXPECT_EQ(trueanomaly_array(&x.mean_anomaly, 1, x.eccentricity, &out, x.steps, x.tolerance), -1);
  EXPECT_EQ(float_bits(out), float_bits(42.0f));
  EXPECT_EQ(trueanomaly_array(&x.mean_anomaly, 1, x.eccentricity, &out, x.steps + 1, x.tolerance), 0);
}

INSTANTIATE_TEST_SUITE_P(Published, WorkedExample, ::testing::ValuesIn(kExamples),
                         [](const auto& row) { return "row" + std::to_string(row.index); });

TEST(WorkedArray, NonFiniteInputsAreSolvedAsNaN) {
  const float in[] = {1.0f, NAN, INFINITY, 2.0f};
  float out[4] = {0, 0, 0, 0};
  ASSERT_EQ(trueanomaly_array(in, 4, 0.5f, out, 10, 0), 0);
  EXPECT_EQ(float_bits(out[0]), float_bits(2.0993011f));
  EXPECT_TRUE(std::isnan(out[1]));
  EXPECT_TRUE(std::isnan(out[2]));
  EXPECT_EQ(float_bits(out[3]), float_bits(2.68497467f));
}

TEST(WorkedArray, StopsAtTheFirstElementThatNeedsASecondStep) {
  const float in[] = {2.0f, 2.5f, 0.2f, 1.0f};
  float out[4] = {-7.0f, -7.0f, -7.0f, -7.0f};
  ASSERT_EQ(trueanomaly_array(in, 4, 0.99f, out, 2, 0), -1);
  EXPECT_EQ(float_bits(out[0]), float_bits(3.10508943f));
  EXPECT_EQ(float_bits(out[1]), float_bits(3.11935544f));
  EXPECT_EQ(float_bits(out[2]), float_bits(-7.0f));
  EXPECT_EQ(float_bits(out[3]), float_bits(-7.0f));
}

}  // namespace
