// The C++ header: scalar form, range overloads, argument guards and the
// chunking of sizes one C call cannot take.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "trueanomaly.hpp"

namespace {

namespace ta = libtrueanomaly;

constexpr float kUntouched = -12345.5f;

uint32_t bits(float x) {
  uint32_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// What one C call gives; the reference for every overload.
std::vector<float> c_reference(const std::vector<float>& in, float e, int32_t limit, int32_t tol) {
  std::vector<float> out(in.size(), kUntouched);
  EXPECT_EQ(trueanomaly_array(in.data(), static_cast<int32_t>(in.size()), e, out.data(), limit, tol), 0);
  return out;
}

void expect_same_bits(const float* a, const std::vector<float>& b) {
  for (size_t i = 0; i < b.size(); ++i) EXPECT_EQ(bits(a[i]), bits(b[i])) << "element " << i;
}

const std::vector<float> kMeans = {-7.0f, -1.55f, -1.0f, 0.0f, -0.0f, 0.5f, 1.0f, 2.0f, 3.0f, 7.0f};
// Element 2 needs a second step, so a limit of 2 fails there.
const std::vector<float> kHard = {2.0f, 2.5f, 0.2f, 1.0f};

// Ranges are views over float only; outputs must be writable lvalues.
static_assert(std::is_constructible_v<ta::input_range, const std::vector<float>&>);
static_assert(std::is_constructible_v<ta::input_range, std::array<float, 3>&>);
static_assert(std::is_constructible_v<ta::input_range, ta::output_range>);
static_assert(!std::is_constructible_v<ta::output_range, const std::vector<float>&>);
static_assert(!std::is_constructible_v<ta::input_range, const std::vector<double>&>);
static_assert(!std::is_constructible_v<ta::input_range, const std::vector<int>&>);

TEST(CppScalar, TellsFailureApartFromMinusOneRadian) {
  const std::optional<float> minus_one = ta::true_anomaly(-1.0f, 0.0f, 100, 0);
  ASSERT_TRUE(minus_one.has_value());
  EXPECT_EQ(*minus_one, -1.0f);
  EXPECT_FALSE(ta::true_anomaly(0.5f, 0.99f, 3, 1).has_value());
  EXPECT_FALSE(ta::true_anomaly(0.0f, 0.0f, 1, 0).has_value());
  EXPECT_EQ(ta::true_anomaly(1.0f, 0.5f, 100, 0), 2.0993011f);
  for (float m : kMeans)
    for (float e : {0.0f, 0.5f, 0.99f, 1.5f})
      EXPECT_EQ(bits(*ta::true_anomaly(m, e, 100, 0)), bits(trueanomaly(m, e, 100, 0)))
          << "M=" << m << " e=" << e;
}

TEST(CppRanges, EveryOverloadGivesTheArrayEntrysBits) {
  const auto ref = c_reference(kMeans, 0.9f, 100, 0);

  std::vector<float> v_out(kMeans.size(), kUntouched);
  EXPECT_EQ(ta::convert(kMeans, 0.9f, v_out, 100, 0), ta::status::ok);
  expect_same_bits(v_out.data(), ref);

  std::array<float, 10> a_in{}, a_out{};
  std::copy(kMeans.begin(), kMeans.end(), a_in.begin());
  EXPECT_EQ(ta::convert(a_in, 0.9f, a_out, 100, 0), ta::status::ok);
  expect_same_bits(a_out.data(), ref);

  float c_out[10];
  EXPECT_EQ(ta::convert(kMeans.data(), kMeans.size(), 0.9f, c_out, 100, 0), ta::status::ok);
  expect_same_bits(c_out, ref);

  float c_in_place[10];
  std::copy(kMeans.begin(), kMeans.end(), c_in_place);
  EXPECT_EQ(ta::convert_in_place(c_in_place, 0.9f, 100, 0), ta::status::ok);
  expect_same_bits(c_in_place, ref);

  // A longer output: only the first in.size() elements are written.
  std::vector<float> longer(kMeans.size() + 2, kUntouched);
  EXPECT_EQ(ta::convert(kMeans, 0.9f, longer, 100, 0), ta::status::ok);
  expect_same_bits(longer.data(), ref);
  EXPECT_EQ(longer[kMeans.size()], kUntouched);
  EXPECT_EQ(longer[kMeans.size() + 1], kUntouched);
}

TEST(CppRanges, FailureWritesOnlyTheElementsBeforeIt) {
  std::vector<float> out(kHard.size(), kUntouched);
  EXPECT_EQ(ta::convert(kHard, 0.99f, out, 2, 0), ta::status::iteration_limit);
  EXPECT_EQ(out[0], 3.10508943f);
  EXPECT_EQ(out[1], 3.11935544f);
  EXPECT_EQ(bits(out[2]), bits(kUntouched));
  EXPECT_EQ(bits(out[3]), bits(kUntouched));

  std::vector<float> in_place = kHard;
  EXPECT_EQ(ta::convert_in_place(in_place, 0.99f, 2, 0), ta::status::iteration_limit);
  EXPECT_EQ(in_place[0], 3.10508943f);
  EXPECT_EQ(in_place[2], 0.2f);
  EXPECT_EQ(in_place[3], 1.0f);
}

TEST(CppRanges, RefusesUnsafeArgumentsWithoutTouchingAnything) {
  std::vector<float> buffer = {1.0f, 2.0f, 3.0f, 4.0f, kUntouched};
  const std::vector<float> before = buffer;
  std::vector<float> short_out(2, kUntouched);
  EXPECT_EQ(ta::convert(kHard, 0.5f, short_out, 100, 0), ta::status::invalid_argument);
  EXPECT_EQ(short_out, std::vector<float>(2, kUntouched));
  // Overlapping but not the same array: out starts one element later.
  EXPECT_EQ(ta::convert(buffer.data(), 4, 0.5f, buffer.data() + 1, 100, 0),
            ta::status::invalid_argument);
  EXPECT_EQ(ta::convert(buffer.data() + 1, 4, 0.5f, buffer.data(), 100, 0),
            ta::status::invalid_argument);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(ta::convert(nullptr, 3, 0.5f, buffer.data(), 100, 0), ta::status::invalid_argument);
  EXPECT_EQ(ta::convert(buffer.data(), 3, 0.5f, nullptr, 100, 0), ta::status::invalid_argument);
  EXPECT_EQ(buffer, before);
  // Adjacent arrays do not overlap; nothing at all is fine with any address.
  EXPECT_EQ(ta::convert(buffer.data(), 2, 0.5f, buffer.data() + 2, 100, 0), ta::status::ok);
  EXPECT_EQ(ta::convert(nullptr, 0, 0.5f, nullptr, 0, 0), ta::status::ok);
  EXPECT_EQ(ta::convert(ta::input_range{}, 0.5f, ta::output_range{}, 0, 0), ta::status::ok);
}

// Sizes above INT32_MAX go through the same loop as these small chunks.
TEST(CppChunking, ChunksGiveOneCallsResultsAndStopAtTheFirstFailure) {
  std::vector<float> in;
  for (int i = 0; i < 10; ++i) in.push_back(0.3f * static_cast<float>(i) - 1.2f);
  const auto ref = c_reference(in, 0.5f, 100, 0);
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{10}, size_t{64}}) {
    std::vector<float> out(in.size(), kUntouched);
    EXPECT_EQ(ta::detail::convert_chunked(in.data(), in.size(), 0.5f, out.data(), 100, 0, chunk),
              ta::status::ok);
    expect_same_bits(out.data(), ref);
  }

  // Element 7 fails (limit 2, e = 0.99, it needs a second step); with chunks
  // of 3 the failure is in the third chunk.
  std::vector<float> mixed = {2.0f, 2.5f, 2.0f, 2.5f, 2.0f, 2.5f, 2.0f, 0.2f, 2.0f, 2.5f};
  std::vector<float> out(mixed.size(), kUntouched);
  EXPECT_EQ(ta::detail::convert_chunked(mixed.data(), mixed.size(), 0.99f, out.data(), 2, 0, 3),
            ta::status::iteration_limit);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(out[i], i % 2 ? 3.11935544f : 3.10508943f) << i;
  for (size_t i = 7; i < out.size(); ++i) EXPECT_EQ(bits(out[i]), bits(kUntouched)) << i;
}

}  // namespace
