// SPDX-License-Identifier: BSD-3-Clause
// The lane kernels behind the vector paths, in every shape the library uses
// and the drivers it can choose, against the plain solve. Each shape is
// compiled with its path's flags (tests/kernels/) and run only where the CPU
// has that path; each path also runs one group of the next wider path's lanes
// in its own registers, so AVX-512's width is checked on AVX2 CPUs too.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "differential.h"
#include "float_bits.h"
#include "kepler_model.h"
#include "kernels/kernels.h"
#include "drivers/choose_driver.h"
#include "solve.h"

namespace {

using namespace trueanomaly_detail;

constexpr float kSentinel = -4321.25f;

struct InputRange {
  const char *name;
  float m_lo, m_hi, e_lo, e_hi;
};

// Eccentricities stay within the vector domain |e| <= 0.99f; dispatch sends
// everything else to the plain solve before the kernels are reached.
const InputRange kRanges[] = {
    {"one orbit", -6.3f, 6.3f, 0.0f, 0.99f},
    {"near parabolic", -6.3f, 6.3f, 0.95f, 0.99f},
    {"negative e", -6.3f, 6.3f, -0.99f, 0.0f},
    {"many orbits", -3e4f, 3e4f, 0.0f, 0.9f},
    {"beyond the reduction bound", -1e8f, 1e8f, 0.0f, 0.99f},
    {"tiny angles", -1e-6f, 1e-6f, 0.0f, 0.9f},
};

struct ShapeOnPath {
  const lane_kernels::Kernels *kernels;
  const lane_kernels::Shape *shape;
};

void PrintTo(const ShapeOnPath &p, std::ostream *os) {
  *os << p.kernels->name << " " << lane_kernels::shape_name(*p.shape);
}

std::vector<ShapeOnPath> every_shape() {
  std::vector<ShapeOnPath> out;
  for (const lane_kernels::Kernels *k : lane_kernels::compiled())
    for (size_t i = 0; i < k->shape_count; ++i) out.push_back({k, &k->shapes[i]});
  return out;
}

// Runs the lane kernel and the plain solve over the same array with one
// eccentricity, limit and tolerance, and compares status, every written
// output and the untouched tail.
void expect_same_as_plain(const lane_kernels::Shape &shape, const std::vector<float> &in, float e,
                          int32_t limit, int32_t tolerance) {
  const int32_t n = static_cast<int32_t>(in.size());
  std::vector<float> plain(in.size(), kSentinel), lanes(in.size(), kSentinel);
  int32_t plain_status = 0;
  for (int32_t i = 0; i < n; ++i) {
    float r;
    if (!trueanomaly_solve(in[size_t(i)], e, limit, tolerance, &r)) {
      plain_status = -1;
      break;
    }
    plain[size_t(i)] = r;
  }
  const int32_t lane_status = shape.convert(in.data(), n, e, lanes.data(), limit, tolerance);
  ASSERT_EQ(lane_status, plain_status) << lane_kernels::shape_name(shape) << " e=" << e
                                       << " limit=" << limit;
  for (size_t i = 0; i < in.size(); ++i)
    ASSERT_TRUE(same_result(plain[i], lanes[i]))
        << lane_kernels::shape_name(shape) << " M=" << in[i] << " e=" << e << " limit=" << limit
        << " tol=" << tolerance << ": " << plain[i] << " vs " << lanes[i];
}

class LaneShape : public ::testing::TestWithParam<ShapeOnPath> {
 protected:
  void SetUp() override {
    if (!lane_kernels::runnable(*GetParam().kernels))
      GTEST_SKIP() << "the " << GetParam().kernels->name << " path is not available on this CPU";
  }
};

// Random arrays in every input range, with limits that fail some elements and
// tolerances of every kind. The one-step driver is forced where further
// steps are common (high e, negative tolerances), so its out-of-line further
// steps are exercised; the array path takes it only where they are rare.
TEST_P(LaneShape, MatchesThePlainSolveOnEveryInputRange) {
  const lane_kernels::Shape &shape = *GetParam().shape;
  std::mt19937_64 rng(static_cast<uint64_t>(shape.lanes * 100 + shape.groups) +
                      static_cast<uint64_t>(shape.driver) * 7u);
  for (const InputRange &r : kRanges) {
    SCOPED_TRACE(r.name);
    const int calls = static_cast<int>(differential::scaled_count(150));
    for (int call = 0; call < calls; ++call) {
      std::uniform_real_distribution<float> m(r.m_lo, r.m_hi), ecc(r.e_lo, r.e_hi);
      std::uniform_int_distribution<int> length(1, 700);
      std::vector<float> in(size_t(length(rng)));
      for (float &x : in) x = m(rng);
      const float e = ecc(rng);
      const int32_t limit = call % 4 == 0 ? 3 : call % 4 == 1 ? 12 : 100;
      const int32_t tolerance = call % 3 == 0 ? 1 : call % 7 == 0 ? -1 : 0;
      expect_same_as_plain(shape, in, e, limit, tolerance);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(LaneShape, ShortBlocksAndFailuresKeepOrder) {
  // At e = 0.99, M = 2 takes one step and M = 0.2 about fifteen: it keeps
  // its block stepping alone, and fails (limit 2 or 8) or is solved (limit
  // 100). Wherever it sits in a block or in a short tail, the outputs and
  // status must be the plain solve's.
  const lane_kernels::Shape &shape = *GetParam().shape;
  std::vector<int32_t> lengths = {1, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 65};
  // Each driver's block edges.
  for (int32_t groups : {shape.groups, shape.block_groups, shape.long_call_groups}) {
    if (groups == 0) continue;
    const int32_t b = shape.lanes * groups;
    for (int32_t n : {b / 2, b / 2 + 1, b - 1, b, b + 1, 2 * b + 1}) lengths.push_back(n);
  }
  for (int32_t limit : {2, 8, 100}) {
    for (int32_t n : lengths) {
      for (int32_t k = 0; k < n; k += 3) {
        std::vector<float> in(size_t(n), 2.0f);
        in[size_t(k)] = 0.2f;
        expect_same_as_plain(*GetParam().shape, in, 0.99f, limit, 0);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// The same for the block driver (e = 0.5, where one step is the rule, and
// 0.9, where short calls step their blocks until every lane stops): a mean
// anomaly in the ten millions, where E's float spacing rounds the first
// step up to 1 and a second step follows, sits at each position of every
// length up to two blocks and one more element, so each block size the
// driver picks for a short call (half, all but one group, all, whole blocks
// and the elements left over) holds it; with limit 2 it fails there, with
// limit 100 it is solved. At 0.9 calls a little longer than short ones
// take two-step blocks fitted to the call: one that needs a third step
// (just above 2^21), in any of them or in the group the left-over elements
// add to the last, hands the rest of the call over at its block.
TEST_P(LaneShape, ShortCallsOfTheBlockDriverKeepOrder) {
  const lane_kernels::Shape &shape = *GetParam().shape;
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<float> quick(0.0f, 6.28f);
  const int32_t block = shape.lanes * std::max(shape.groups, shape.block_groups);
  struct Case {
    float e, from;
    int32_t steps, shortest, most;
  };
  for (const Case &c : {Case{0.5f, 1.0e7f, 2, 1, 2 * block + 1}, Case{0.9f, 1.0e7f, 2, 1, 2 * block + 1},
                        Case{0.9f, 2.0e6f, 3, 60, 4 * block + shape.lanes + 1}}) {
    const float e = c.e;
    float slow = c.from;
    while (model_solve(slow, e, 100, 0).steps < c.steps) slow = std::nextafter(slow, INFINITY);
    for (int32_t limit : {c.steps, 100}) {
      for (int32_t n = c.shortest; n <= c.most; ++n) {
        for (int32_t k = 0; k < n; k += 5) {
          std::vector<float> in(static_cast<size_t>(n));
          for (float &x : in) x = quick(rng);
          in[size_t(k)] = slow;
          expect_same_as_plain(shape, in, e, limit, 0);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// Mean anomalies at e = 0.99 that stop after one step, and ones that take
// 40 to 98 (the model counts the steps).
struct QuickAndSlow {
  std::vector<float> quick, slow;
};

const QuickAndSlow &quick_and_slow() {
  static const QuickAndSlow q = [] {
    QuickAndSlow r;
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<float> m(-6.3f, 6.3f);
    while (r.quick.size() < 64 || r.slow.size() < 8) {
      const float x = m(rng);
      const model_outcome o = model_solve(x, 0.99f, 1000, 0);
      if (o.solved && o.steps == 1 && r.quick.size() < 64) r.quick.push_back(x);
      if (o.solved && o.steps >= 40 && o.steps < 99 && r.slow.size() < 8) r.slow.push_back(x);
    }
    return r;
  }();
  return q;
}

// Elements that take dozens of steps among elements that take one, at block
// and window edges, alone and in a row: a straggler holds back the stores
// behind it, never their order; converted in place or not, with limits that
// let them finish or fail.
TEST_P(LaneShape, LongStragglersKeepOrder) {
  const QuickAndSlow &qs = quick_and_slow();
  const std::vector<std::vector<size_t>> placements = {
      {0}, {31, 32}, {1023, 1024, 1025}, {2047, 2048}, {100, 101, 102, 103, 104, 105, 106, 107},
      {2999}, {500, 1700, 2900}};
  for (const auto &at : placements) {
    std::vector<float> in(3000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = qs.quick[i % qs.quick.size()];
    for (size_t k = 0; k < at.size(); ++k) in[at[k]] = qs.slow[k % qs.slow.size()];
    for (int32_t limit : {100, 45}) {
      SCOPED_TRACE("first straggler at " + std::to_string(at[0]) + ", limit " +
                   std::to_string(limit));
      expect_same_as_plain(*GetParam().shape, in, 0.99f, limit, 0);
      // In place: the written prefix as separately, the rest untouched.
      std::vector<float> separate(in.size(), kSentinel), inplace = in;
      const int32_t n = static_cast<int32_t>(in.size());
      const int32_t status = GetParam().shape->convert(in.data(), n, 0.99f, separate.data(),
                                                       limit, 0);
      ASSERT_EQ(GetParam().shape->convert(inplace.data(), n, 0.99f, inplace.data(), limit, 0),
                status);
      for (size_t i = 0; i < in.size(); ++i)
        ASSERT_TRUE(same_result(inplace[i], separate[i] == kSentinel ? in[i] : separate[i]))
            << "element " << i;
      if (HasFatalFailure()) return;
    }
  }
  // Every element running to the limit: the window full of stragglers.
  std::vector<float> in(3000);
  for (size_t i = 0; i < in.size(); ++i) in[i] = i % 7 == 3 ? NAN : qs.quick[i % qs.quick.size()];
  expect_same_as_plain(*GetParam().shape, in, 0.99f, 30, -1);
}

// Both arrays placed against an inaccessible page, after their last
// element and (separately) before their first: every driver, every length
// class it picks (half a block, all but one group, a block, the long-call
// blocks, more than the straggler window) and a failure at every position
// of a block, converted in place and not, must read and write nothing
// outside [0, count). The vector paths read inputs ahead of the element
// they store, which must change no result.
class GuardedArray {
 public:
  explicit GuardedArray(size_t count) : count_(count) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    data_pages_ = (count * sizeof(float) + page_ - 1) / page_;
    bytes_ = (data_pages_ + 2) * page_;
    void *p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<char *>(p);
    mprotect(base_, page_, PROT_NONE);
    mprotect(base_ + (data_pages_ + 1) * page_, page_, PROT_NONE);
  }
  ~GuardedArray() { munmap(base_, bytes_); }
  GuardedArray(const GuardedArray &) = delete;
  GuardedArray &operator=(const GuardedArray &) = delete;
  // The array's first element right after the lower guard page, or its
  // last right before the upper one.
  float *at(bool against_end) const {
    char *data = base_ + page_;
    return against_end ? reinterpret_cast<float *>(data + data_pages_ * page_) -
                             static_cast<ptrdiff_t>(count_)
                       : reinterpret_cast<float *>(data);
  }

 private:
  size_t count_, page_ = 0, data_pages_ = 0, bytes_ = 0;
  char *base_ = nullptr;
};

TEST_P(LaneShape, ReadsAndWritesNothingOutsideTheArrays) {
  const lane_kernels::Shape &shape = *GetParam().shape;
  int32_t widest = 1;
  std::vector<int32_t> lengths = {1, 2, 511, 512, 513, 700, 2047, 2049, 2500};
  for (int32_t groups : {shape.groups, shape.block_groups, shape.long_call_groups}) {
    if (groups == 0) continue;
    const int32_t b = shape.lanes * groups;
    widest = std::max(widest, b);
    for (int32_t n : {b / 2, b / 2 + 1, b - shape.lanes, b - 1, b, b + 1, 2 * b + 1})
      if (n > 0) lengths.push_back(n);
  }
  // M = 2 and M = -2.5 stop after one step at e = 0.99, M = 0.2 needs a
  // second: with a limit of 2 it fails.
  for (int32_t n : lengths) {
    GuardedArray in_memory(static_cast<size_t>(n)), out_memory(static_cast<size_t>(n));
    std::vector<int32_t> failures = {-1, n - 1};
    for (int32_t k = 0; k < std::min(n, 2 * widest + 1); ++k) failures.push_back(k);
    for (int32_t k = widest; k < n; k += widest + 1) failures.push_back(k);
    for (int32_t fail_at : failures) {
      std::vector<float> mean(static_cast<size_t>(n));
      for (int32_t i = 0; i < n; ++i) mean[size_t(i)] = (i * 7 + n) % 3 ? 2.0f : -2.5f;
      if (fail_at >= 0) mean[size_t(fail_at)] = 0.2f;
      for (bool against_end : {true, false}) {
        for (bool in_place : {false, true}) {
          float *in = in_memory.at(against_end), *out = out_memory.at(against_end);
          std::copy(mean.begin(), mean.end(), in);
          if (in_place) {
            out = in;
          } else {
            std::fill(out, out + n, kSentinel);
          }
          const int32_t status = shape.convert(in, n, 0.99f, out, 2, 0);
          SCOPED_TRACE(lane_kernels::shape_name(shape) + " count " + std::to_string(n) +
                       " failure at " + std::to_string(fail_at) +
                       (against_end ? " (end at the guard)" : " (start at the guard)") +
                       (in_place ? " in place" : ""));
          ASSERT_EQ(status, fail_at >= 0 ? -1 : 0);
          const int32_t written = fail_at >= 0 ? fail_at : n;
          for (int32_t i = 0; i < n; ++i) {
            float want = in_place ? mean[size_t(i)] : kSentinel;
            if (i < written) {
              ASSERT_TRUE(trueanomaly_solve(mean[size_t(i)], 0.99f, 2, 0, &want));
            }
            ASSERT_EQ(float_bits(out[i]), float_bits(want)) << "element " << i;
          }
        }
      }
    }
  }
}

// Calls of 512 elements or more convert stopped blocks two at a time: an
// element that reaches the limit in either block of a pair, or at a pair's
// edges, must end the call exactly there, however the pairs fall.
TEST_P(LaneShape, FailureInsideAPairOfBlocksEndsTheCallThere) {
  const QuickAndSlow &qs = quick_and_slow();
  for (size_t at : {size_t{0}, size_t{31}, size_t{33}, size_t{63}, size_t{64}, size_t{95},
                    size_t{1057}, size_t{2047}, size_t{2080}, size_t{2999}}) {
    SCOPED_TRACE("failure at " + std::to_string(at));
    std::vector<float> in(3000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = qs.quick[i % qs.quick.size()];
    in[at] = qs.slow[at % qs.slow.size()];  // 40 or more steps: fails at 30
    expect_same_as_plain(*GetParam().shape, in, 0.99f, 30, 0);
    if (HasFatalFailure()) return;
  }
}

// First steps decide on f and d themselves. Mean anomalies whose first f
// or d, as the plain solve forms it, lies within 2^-41*|e| of a midpoint
// between floats (a quarter of them within the lanes' slack of it, so the
// two ends round apart and libm's value decides which float it is), for
// each driver's eccentricities, must come out as the plain solve's on
// every shape. Mined once, for all shapes in one test: about 1 s.
struct FirstStepTies {
  float e;
  std::vector<float> mean;
};

const std::vector<FirstStepTies> &first_step_ties() {
  static const std::vector<FirstStepTies> ties = [] {
    std::vector<FirstStepTies> out;
    std::mt19937_64 rng(41);
    std::uniform_real_distribution<float> any_m(0.0f, 6.2831850f);
    const auto near_midpoint = [](double v, double within) {
      const float f = static_cast<float>(v);
      const double up = 0.5 * (double(f) + double(std::nextafter(f, INFINITY)));
      const double down = 0.5 * (double(f) + double(std::nextafter(f, -INFINITY)));
      return std::fabs(v - up) < within || std::fabs(v - down) < within;
    };
    constexpr size_t kEach = 48;
    for (float e : {0.3f, -0.5f, 0.7f, 0.9f}) {
      FirstStepTies t{e, {}};
      const double within = 0x1p-41 * std::fabs(double(e));
      size_t with_f = 0, with_d = 0;
      for (int i = 0; i < 20000000 && (with_f < kEach || with_d < kEach); ++i) {
        const float m = any_m(rng);
        const double M = m, E = m;
        if (with_f < kEach && near_midpoint((E - std::sin(E) * e) - M, within)) {
          t.mean.push_back(m);
          ++with_f;
        } else if (with_d < kEach && near_midpoint(1.0 - std::cos(E) * e, within)) {
          t.mean.push_back(m);
          ++with_d;
        }
      }
      out.push_back(t);
    }
    return out;
  }();
  return ties;
}

TEST(LaneShapes, FirstStepsWithFOrDAtAFloatMidpointMatchThePlainSolve) {
  std::vector<ShapeOnPath> shapes;
  for (const ShapeOnPath &s : every_shape())
    if (lane_kernels::runnable(*s.kernels)) shapes.push_back(s);
  if (shapes.empty()) GTEST_SKIP() << "no vector path on this CPU";
  for (const FirstStepTies &t : first_step_ties()) {
    SCOPED_TRACE("e = " + std::to_string(t.e));
    ASSERT_GE(t.mean.size(), 80u) << "too few near-midpoint inputs found";
    for (const ShapeOnPath &s : shapes) {
      SCOPED_TRACE(std::string(s.kernels->name) + " " + lane_kernels::shape_name(*s.shape));
      expect_same_as_plain(*s.shape, t.mean, t.e, 100, 0);
      if (HasFatalFailure()) return;
    }
  }
}

// The lane tests above force every driver a path can choose, with the
// groups it chooses it with, on that path (tables are compiled for every
// path, so this holds on any CPU), and one group of the next wider path's
// lanes in its registers.
TEST(LaneShapes, EveryVectorImplementationHasItsTable) {
  std::vector<const Implementation *> vector_implementations;
  for (const Implementation *implementation : kImplementations)
    if (implementation != &kPlain) vector_implementations.push_back(implementation);
  std::vector<const Implementation *> tables;
  for (const lane_kernels::Kernels *k : lane_kernels::compiled()) {
    tables.push_back(k->implementation);
    EXPECT_EQ(k->lanes, k->implementation->shape.lanes) << k->name;
  }
  EXPECT_EQ(tables, vector_implementations);
}

TEST(LaneShapes, EveryDriverAPathCanChooseIsForcedOnIt) {
  using lane_kernels::Driver;
  const auto groups_of = [](const lane_kernels::Shape &s) {
    return s.driver == Driver::two_step     ? s.long_call_groups
           : s.driver == Driver::stragglers ? s.groups
                                            : s.block_groups;
  };
  const std::vector<const lane_kernels::Kernels *> tables = lane_kernels::compiled();
  for (size_t t = 0; t < tables.size(); ++t) {
    const lane_kernels::Kernels &k = *tables[t];
    const DriverShape &info = k.implementation->shape;
    const auto forced = [&](Driver driver, int lanes, int groups) {
      for (size_t i = 0; i < k.shape_count; ++i)
        if (k.shapes[i].driver == driver && k.shapes[i].lanes == lanes &&
            groups_of(k.shapes[i]) == groups)
          return true;
      return false;
    };
    SCOPED_TRACE(k.name);
    EXPECT_TRUE(forced(Driver::one_step, info.lanes, info.block_groups));
    EXPECT_TRUE(forced(Driver::until_stopped, info.lanes, info.block_groups));
    EXPECT_TRUE(forced(Driver::stragglers, info.lanes, info.straggler_groups));
    if (info.long_call_groups > 0) {
      EXPECT_TRUE(forced(Driver::one_step, info.lanes, info.long_call_groups));
      EXPECT_TRUE(forced(Driver::two_step, info.lanes, info.long_call_groups));
    }
    EXPECT_TRUE(forced(Driver::chosen, info.lanes, info.block_groups));
    if (t + 1 < tables.size()) {
      EXPECT_TRUE(forced(Driver::chosen, tables[t + 1]->lanes, 1));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PathsAndShapes, LaneShape, ::testing::ValuesIn(every_shape()),
                         [](const auto &info) {
                           return std::string(info.param.kernels->name) + "_" +
                                  lane_kernels::shape_name(*info.param.shape);
                         });
// Off x86-64 no shape is compiled.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(LaneShape);

class LaneKernel : public ::testing::TestWithParam<const lane_kernels::Kernels *> {
 protected:
  void SetUp() override {
    if (!lane_kernels::runnable(*GetParam()))
      GTEST_SKIP() << "the " << GetParam()->name << " path is not available on this CPU";
  }
};

// sincos_far_lanes reads its own stretch of the bits of 2/pi in each lane,
// chosen by the lane's exponent. Every exponent (the first, last and random
// floats of each binade from 2^22 up, both signs) against libm, each
// in-domain lane with the same bits whatever its neighbours hold,
// out-of-domain neighbours finite, and the next wider shape in this path's
// registers bit for bit the same.
// The every-float check (kernels.sincos_every_float) covers every input;
// this one runs with the fast tests.
TEST_P(LaneKernel, EveryExponentMatchesLibmWhateverTheNeighbouringLanesHold) {
  const lane_kernels::Kernels &k = *GetParam();
  const double allowed = kSinCosError + 0x1p-50;
  std::mt19937_64 rng(2022);
  std::vector<double> in_domain;
  for (uint32_t exponent = 127 + 22; exponent <= 127 + 127; ++exponent) {
    const uint32_t first = exponent << 23;
    for (uint32_t fraction : {0u, 0x7fffffu, 1u, uint32_t(rng() & 0x7fffff), uint32_t(rng() & 0x7fffff)})
      for (uint32_t sign : {0u, 0x80000000u})
        in_domain.push_back(float_from_bits(sign | first | fraction));
  }
  const double outside[] = {0.0, -0.0, 1.0, -3.5, 0x1.fffffep21, 0x1p-149, 0x1.0000001p30,
                            1e300, -DBL_MAX, INFINITY, -INFINITY, NAN, 0x1p128, -0x1p200};

  std::vector<double> s(in_domain.size()), c(in_domain.size());
  k.sincos_far(in_domain.data(), in_domain.size(), s.data(), c.data());
  for (size_t i = 0; i < in_domain.size(); ++i) {
    ASSERT_LE(std::fabs(s[i] - std::sin(in_domain[i])), allowed) << "sin " << in_domain[i];
    ASSERT_LE(std::fabs(c[i] - std::cos(in_domain[i])), allowed) << "cos " << in_domain[i];
  }

  // The same inputs with an out-of-domain value at every third position.
  std::vector<double> mixed;
  std::vector<size_t> from;  // index into in_domain, or SIZE_MAX
  for (size_t i = 0; i < in_domain.size(); ++i) {
    if (i % 3 == 0) {
      mixed.push_back(outside[(i / 3) % (sizeof outside / sizeof outside[0])]);
      from.push_back(SIZE_MAX);
    }
    mixed.push_back(in_domain[i]);
    from.push_back(i);
  }
  std::vector<double> ms(mixed.size()), mc(mixed.size()), ws(mixed.size()), wc(mixed.size());
  k.sincos_far(mixed.data(), mixed.size(), ms.data(), mc.data());
  k.sincos_far_wider(mixed.data(), mixed.size(), ws.data(), wc.data());
  for (size_t i = 0; i < mixed.size(); ++i) {
    if (from[i] == SIZE_MAX) {
      EXPECT_TRUE(std::isfinite(ms[i]) && std::isfinite(mc[i])) << "outside the domain: " << mixed[i];
    } else {
      EXPECT_EQ(double_bits(ms[i]), double_bits(s[from[i]])) << "sin " << mixed[i];
      EXPECT_EQ(double_bits(mc[i]), double_bits(c[from[i]])) << "cos " << mixed[i];
    }
    EXPECT_EQ(double_bits(ws[i]), double_bits(ms[i])) << "wider shape, sin " << mixed[i];
    EXPECT_EQ(double_bits(wc[i]), double_bits(mc[i])) << "wider shape, cos " << mixed[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, LaneKernel, ::testing::ValuesIn(lane_kernels::compiled()),
                         [](const auto &info) { return std::string(info.param->name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(LaneKernel);

// finish_lanes's conversions against nu in long double (64-bit
// significand, far inside the bounds): the block driver's offset form for
// |e| <= 0.7f, the straggler driver's wide one for |e| <= 0.99f, with k - 1
// for the call and per lane. Eccentricities across each range (0, -0, the
// ends, tiny ones), E within one turn, far out to 2^23, and beside every cut
// at (2j+1)*2*pi where nu wraps: within the form's bound wherever
// finish_lanes could decide, and decidable wherever nu is clearly off the
// cut.
TEST_P(LaneKernel, OffsetFormsAreWithinTheirBoundsOfTheTrueAnomaly) {
  const lane_kernels::Kernels &k = *GetParam();
  std::vector<float> E = {0.0f, -0.0f, 0x1p-149f, 0x1p23f, -0x1p23f};
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<float> one_turn(-12.6f, 12.6f);
  for (int i = 0; i < 3000; ++i) E.push_back(one_turn(rng));
  for (int i = 0; i < 1000; ++i) {  // uniform in bit pattern up to 2^23
    const float x = float_from_bits(static_cast<uint32_t>(rng() % 0x4b000001u));
    E.push_back(i % 2 ? x : -x);
  }
  for (double j : {-4.0, -3.0, -2.0, -1.0, 0.0, 1.0, 2.0, 3.0, 333332.0, -333333.0}) {
    float at = static_cast<float>((2.0 * j + 1.0) * 6.283185307179586);
    for (int n = 0; n < 8; ++n) at = std::nextafter(at, -INFINITY);
    for (int n = 0; n < 17; ++n, at = std::nextafter(at, INFINITY)) E.push_back(at);
  }

  struct Form {
    lane_kernels::OffsetForm form;
    float max_e;
    double bound;
    const char *name;
  };
  const Form forms[] = {
      {lane_kernels::OffsetForm::narrow, kOffsetFormMaxE, kOffsetFormError, "narrow"},
      {lane_kernels::OffsetForm::wide, 0.99f, kOffsetWideFormError, "wide"},
      {lane_kernels::OffsetForm::wide_per_lane, 0.99f, kOffsetWideFormError, "wide_per_lane"}};
  std::vector<double> nu(E.size());
  for (const Form &form : forms) {
    std::uniform_real_distribution<float> any_e(-form.max_e, form.max_e);
    std::vector<float> eccentricities = {0.0f, -0.0f, form.max_e, -form.max_e,
                                         std::nextafter(form.max_e, 0.0f), 1e-30f, -1e-30f,
                                         0.1f, 0.5f, -0.5f, 0.7f, -0.7f};
    for (int i = 0; i < 24; ++i) eccentricities.push_back(any_e(rng));
    double worst = 0.0;
    for (float e : eccentricities) {
      k.offset_form(E.data(), E.size(), e, form.form, nu.data());
      const long double root_1pe = sqrtl(1.0L + e), root_1me = sqrtl(1.0L - e);
      for (size_t i = 0; i < E.size(); ++i) {
        const long double h = static_cast<long double>(E[i]) / 2;
        const long double exact = 2 * atan2l(root_1pe * sinl(h), root_1me * cosl(h));
        const bool decidable =
            std::fabs(static_cast<float>(nu[i] - kTrueAnomalySlack)) < kBranchCutLimit;
        if (fabsl(exact) < 6.2831L) {
          ASSERT_TRUE(decidable) << form.name << " E=" << E[i] << " e=" << e << ": " << nu[i]
                                 << ", exact " << static_cast<double>(exact);
        }
        if (!decidable) continue;
        const double error = static_cast<double>(fabsl(nu[i] - exact));
        worst = std::fmax(worst, error);
        ASSERT_LE(error, form.bound) << form.name << " E=" << E[i] << " e=" << e << ": "
                                     << nu[i] << ", exact " << static_cast<double>(exact);
      }
    }
    RecordProperty(std::string("largest_error_log2_") + form.name,
                   std::to_string(std::log2(worst)));
  }
}

// The lanes test steps with one float comparison against a per-call
// threshold; it must agree with the plain solve's integer test everywhere,
// above all at the edges of float precision and of int32_t.
TEST(VectorLanes, StepThresholdAgreesWithTheIntegerStepTest) {
  std::vector<int32_t> tolerances = {INT32_MIN, INT32_MIN + 1, -2, -1, 0, 1, 2, 3,
                                     (1 << 24) - 2, (1 << 24) - 1, 1 << 24, (1 << 24) + 1,
                                     (1 << 24) + 3, 1 << 30, INT32_MAX - 128, INT32_MAX - 1,
                                     INT32_MAX};
  std::mt19937_64 rng(9);
  for (int i = 0; i < 200; ++i) tolerances.push_back(static_cast<int32_t>(rng()));
  for (int32_t t : tolerances) {
    const float threshold = step_threshold(t);
    std::vector<float> steps = {0.0f, 0.5f, 1.0f, 2147483648.0f, 4294967296.0f, INFINITY, NAN,
                                std::nextafter(2147483648.0f, 0.0f)};
    float near = static_cast<float>(static_cast<double>(t) + 1.0);
    for (int k = 0; k < 3; ++k) near = std::nextafter(near, -INFINITY);
    for (int k = 0; k < 7; ++k, near = std::nextafter(near, INFINITY)) steps.push_back(near);
    for (float step : steps) {
      for (float signed_step : {step, -step}) {
        const float magnitude = std::fabs(signed_step);
        EXPECT_EQ(magnitude >= threshold, step_exceeds_tolerance(signed_step, t))
            << "tolerance " << t << " step " << signed_step;
      }
    }
  }
}

}  // namespace
