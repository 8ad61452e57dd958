// SPDX-License-Identifier: BSD-3-Clause
// The C++ header: scalar form, range overloads, argument guards and the
// chunking of sizes one C call cannot take.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "float_bits.h"
#include "trueanomaly.hpp"

namespace {

namespace ta = libtrueanomaly;

constexpr float kUntouched = -12345.5f;
const std::vector<float> kMeans = {-7.0f, -1.55f, -1.0f, -0.0f, 0.5f, 1.0f, 2.0f, 3.0f, 7.0f};
// With e = 0.99 and a limit of 2, element 2 needs a second step and fails.
const std::vector<float> kHard = {2.0f, 2.5f, 0.2f, 1.0f};

uint32_t bits(float x) { return float_bits(x); }

// got[0 .. in.size() - 1] hold, bit for bit, what one C call gives.
void expect_c_results(const float* got, const std::vector<float>& in, float e) {
  std::vector<float> want(in.size());
  ASSERT_EQ(trueanomaly_array(in.data(), static_cast<int32_t>(in.size()), e, want.data(), 100, 0), 0);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(bits(got[i]), bits(want[i])) << "element " << i;
}

// Ranges are views over float only; outputs must be writable lvalues.
static_assert(std::is_constructible_v<ta::input_range, const std::vector<float>&>);
static_assert(std::is_constructible_v<ta::input_range, ta::output_range>);
static_assert(!std::is_constructible_v<ta::output_range, const std::vector<float>&>);
static_assert(!std::is_constructible_v<ta::input_range, const std::vector<double>&>);

TEST(CppScalar, TellsFailureApartFromMinusOneRadian) {
  EXPECT_EQ(ta::true_anomaly(-1.0f, 0.0f, 100, 0), std::optional<float>(-1.0f));
  EXPECT_EQ(ta::true_anomaly(0.5f, 0.99f, 3, 1), std::nullopt);
  EXPECT_EQ(ta::true_anomaly(0.0f, 0.0f, 1, 0), std::nullopt);
  EXPECT_EQ(ta::true_anomaly(1.0f, 0.9f, 2, 1), std::optional<float>(2.98286128f));
}

TEST(CppRanges, EveryOverloadGivesTheArrayEntrysBits) {
  std::vector<float> vec(kMeans.size() + 1, kUntouched);  // longer than the input
  EXPECT_EQ(ta::convert(kMeans, 0.9f, vec, 100, 0), ta::status::ok);
  expect_c_results(vec.data(), kMeans, 0.9f);
  EXPECT_EQ(vec.back(), kUntouched);

  std::array<float, 9> arr{};
  float c_arr[9];
  std::copy(kMeans.begin(), kMeans.end(), arr.begin());
  EXPECT_EQ(ta::convert(arr, 0.9f, c_arr, 100, 0), ta::status::ok);
  expect_c_results(c_arr, kMeans, 0.9f);
  EXPECT_EQ(ta::convert_in_place(arr, 0.9f, 100, 0), ta::status::ok);
  expect_c_results(arr.data(), kMeans, 0.9f);
}

TEST(CppRanges, FailureWritesOnlyTheElementsBeforeIt) {
  std::vector<float> out(kHard.size(), kUntouched), in_place = kHard;
  EXPECT_EQ(ta::convert(kHard, 0.99f, out, 2, 0), ta::status::iteration_limit);
  EXPECT_EQ(out, (std::vector<float>{3.10508943f, 3.11935544f, kUntouched, kUntouched}));
  EXPECT_EQ(ta::convert_in_place(in_place, 0.99f, 2, 0), ta::status::iteration_limit);
  EXPECT_EQ(in_place, (std::vector<float>{3.10508943f, 3.11935544f, 0.2f, 1.0f}));
}

TEST(CppRanges, RefusesUnsafeArgumentsWithoutTouchingAnything) {
  std::vector<float> buffer = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  const std::vector<float> before = buffer;
  std::vector<float> short_out(2, kUntouched);
  EXPECT_EQ(ta::convert(kHard, 0.5f, short_out, 100, 0), ta::status::invalid_argument);
  EXPECT_EQ(short_out, std::vector<float>(2, kUntouched));
  // Overlapping without being the same array, either way round.
  EXPECT_EQ(ta::convert(buffer.data(), 4, 0.5f, buffer.data() + 1, 100, 0), ta::status::invalid_argument);
  EXPECT_EQ(ta::convert(buffer.data() + 1, 4, 0.5f, buffer.data(), 100, 0), ta::status::invalid_argument);
  EXPECT_EQ(ta::convert(nullptr, 3, 0.5f, buffer.data(), 100, 0), ta::status::invalid_argument);
  EXPECT_EQ(buffer, before);
  // Adjacent arrays do not overlap; nothing at all is fine with any address.
  EXPECT_EQ(ta::convert(buffer.data(), 2, 0.5f, buffer.data() + 2, 100, 0), ta::status::ok);
  EXPECT_EQ(ta::convert(nullptr, 0, 0.5f, nullptr, 0, 0), ta::status::ok);
}

// Sizes above INT32_MAX go through the same loop as these small chunks.
TEST(CppChunking, ChunksGiveOneCallsResultsAndStopAtTheFirstFailure) {
  for (size_t chunk : {size_t{1}, size_t{4}, size_t{9}, size_t{64}}) {
    std::vector<float> out(kMeans.size());
    EXPECT_EQ(ta::detail::convert_chunked(kMeans.data(), kMeans.size(), 0.5f, out.data(), 100, 0, chunk),
              ta::status::ok);
    expect_c_results(out.data(), kMeans, 0.5f);
  }
  // Element 7 fails; with chunks of 3 that is in the third chunk.
  const std::vector<float> in = {2.0f, 2.5f, 2.0f, 2.5f, 2.0f, 2.5f, 2.0f, 0.2f, 2.0f, 2.5f};
  std::vector<float> out(in.size(), kUntouched);
  EXPECT_EQ(ta::detail::convert_chunked(in.data(), in.size(), 0.99f, out.data(), 2, 0, 3),
            ta::status::iteration_limit);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(out[i], i % 2 ? 3.11935544f : 3.10508943f) << i;
  for (size_t i = 7; i < out.size(); ++i) EXPECT_EQ(bits(out[i]), bits(kUntouched)) << i;
}

}  // namespace
