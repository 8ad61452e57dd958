// SPDX-License-Identifier: BSD-3-Clause
// The scalar entry's kernel (src/solve_one_avx2.cpp), called directly
// whatever the dispatcher picks, against the plain solve and the independent
// model: random inputs in every regime, the near-tie corpus, the edges of
// its domain, and every rounding mode with and without FTZ/DAZ. Skipped,
// visibly, where the CPU lacks the AVX2 path (the kernel's requirement).
#include <fenv.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <climits>
#include <cmath>

#include "differential.h"
#include "dispatch.h"
#include "solve_one.h"

#if TRUEANOMALY_VECTOR_PATHS
#include <xmmintrin.h>

namespace {

using namespace differential;
// Like the scalar entry's differential test, per test run.
constexpr uint64_t kDefaultInputs = 3'600'000;

#define SKIP_WITHOUT_THE_KERNEL()                                \
  if (!trueanomaly_detail::available(trueanomaly_detail::kAvx2)) \
  GTEST_SKIP() << "the scalar kernel needs the AVX2 path, which this CPU lacks"

// One input (eccentricity as a caller gives it) through the kernel, against
// the plain solve and the model under the current floating-point state.
// Empty when all three agree.
std::string differs(float m, float e, int32_t limit, int32_t tolerance) {
  const float capped = model_capped_eccentricity(e);
  const float got = trueanomaly_detail::solve_one_avx2(m, capped, limit, tolerance);
  const float plain = trueanomaly_detail::solve_one_plain(m, capped, limit, tolerance);
  const float model = model_scalar(m, e, limit, tolerance);
  if (same_result(got, plain) && same_result(got, model)) return {};
  std::ostringstream why;
  why << std::hexfloat << "M " << m << " e " << e << " limit " << limit << " tolerance "
      << tolerance << ": kernel " << got << ", plain solve " << plain << ", model " << model;
  return why.str();
}

class ScalarKernelVsModel : public ::testing::TestWithParam<Regime> {};

TEST_P(ScalarKernelVsModel, RandomInputsMatchBitForBit) {
  SKIP_WITHOUT_THE_KERNEL();
  const Regime regime = GetParam();
  const uint64_t total = inputs_per_target(kDefaultInputs) / std::size(kRegimes);
  Inputs gen(seed(600 + static_cast<uint64_t>(regime)));
  int reported = 0;
  for (uint64_t i = 0; i < total;) {
    const Config c = gen.config(regime);
    for (int k = 0; k < 16 && i < total; ++k, ++i) {
      const std::string diff = differs(gen.mean(regime), c.eccentricity, c.limit, c.tolerance);
      if (!diff.empty()) {
        ADD_FAILURE() << diff;
        if (++reported == 10) return;
      }
    }
  }
  std::printf("scalar kernel, %s: %" PRIu64 " inputs\n", name(regime), total);
}

INSTANTIATE_TEST_SUITE_P(Regimes, ScalarKernelVsModel, ::testing::ValuesIn(kRegimes),
                         [](const auto& info) { return std::string(name(info.param)); });

TEST(ScalarKernel, NearTieCorpusMatches) {
  SKIP_WITHOUT_THE_KERNEL();
  const auto corpus = load_corpus(TRUEANOMALY_CORPUS_PATH);
  ASSERT_GE(corpus.size(), 300u) << "corpus missing or short: " << TRUEANOMALY_CORPUS_PATH;
  int reported = 0;
  for (const CorpusEntry& x : corpus) {
    const std::string diff = differs(x.mean, x.eccentricity, x.limit, x.tolerance);
    if (!diff.empty()) {
      ADD_FAILURE() << "corpus entry: " << diff;
      if (++reported == 10) return;
    }
  }
}

// Each side of every bound the kernel tests for itself: |M| at 2^22 (where
// the far reduction takes over) and at FLT_MAX, |e| at 0.99f, the smallest
// and non-finite inputs, true anomalies near the branch cut at +-2pi, limits
// around the first step, tolerances at their extremes.
TEST(ScalarKernel, EdgesOfItsDomainMatch) {
  SKIP_WITHOUT_THE_KERNEL();
  std::vector<float> means = {0.0f, -0.0f, 1e-45f, -1e-45f, 1e-38f, 1.0f, -2.5f,
                              INFINITY, -INFINITY, NAN, 1e30f, -3e9f, FLT_MAX, -FLT_MAX};
  for (float edge : {4194304.0f, 6.28318548f, 3.14159274f})
    for (float sign : {1.0f, -1.0f}) {
      float m = sign * edge;
      for (int k = 0; k < 4; ++k) m = std::nextafter(m, 0.0f);
      for (int k = 0; k < 8; ++k, m = std::nextafter(m, sign * INFINITY)) means.push_back(m);
    }
  std::vector<float> eccentricities = {0.0f, -0.0f, 0.5f, -0.5f, 0.9f, 1.5f, NAN, 1e-40f};
  for (float sign : {1.0f, -1.0f}) {
    const float edge = sign * 0.99f;
    for (float e : {std::nextafter(edge, 0.0f), edge, std::nextafter(edge, sign * INFINITY)})
      eccentricities.push_back(e);
  }
  int reported = 0;
  for (float m : means)
    for (float e : eccentricities)
      for (int32_t limit : {INT32_MIN, 0, 1, 2, 3, 100})
        for (int32_t tolerance : {INT32_MIN, -1, 0, 1, INT32_MAX}) {
          const std::string diff = differs(m, e, limit, tolerance);
          if (!diff.empty()) {
            ADD_FAILURE() << diff;
            if (++reported == 10) return;
          }
        }
}

// Outside the default MXCSR the kernel must hand every call to the plain
// solve, whose results follow the caller's rounding mode and FTZ/DAZ; the
// model, built for that, gives them under the same state.
TEST(ScalarKernel, EveryRoundingModeAndFlushToZeroMatchTheModel) {
  SKIP_WITHOUT_THE_KERNEL();
  std::vector<std::pair<float, Config>> batch;
  Inputs gen(seed(700));
  for (Regime r : kRegimes)
    for (size_t i = 0; i < scaled_count(2000); ++i) {
      const Config c = gen.config(r);
      batch.push_back({gen.mean(r), c});
    }
  for (uint32_t bits : {0x00000001u, 0x00400000u, 0x807fffffu}) {  // subnormal means
    batch.push_back({float_from_bits(bits), {0.5f, 100, 0}});
    batch.push_back({1.0f, {float_from_bits(bits), 100, 0}});
  }
  const unsigned csr = _mm_getcsr();
  for (int mode : {FE_TONEAREST, FE_TOWARDZERO, FE_UPWARD, FE_DOWNWARD})
    for (unsigned ftz_daz : {0u, 0x8040u}) {
      std::string first;
      size_t differ = 0;
      fesetround(mode);
      _mm_setcsr((_mm_getcsr() & ~0x8040u) | ftz_daz);
      for (const auto& [m, c] : batch) {
        std::string diff = differs(m, c.eccentricity, c.limit, c.tolerance);
        if (!diff.empty() && differ++ == 0) first = std::move(diff);
      }
      _mm_setcsr(csr);
      fesetround(FE_TONEAREST);
      EXPECT_EQ(differ, 0u) << "rounding mode " << mode << (ftz_daz ? ", FTZ/DAZ" : "") << ": "
                            << first;
    }
}

}  // namespace

#else  // no vector paths: no kernel, nothing to test

TEST(ScalarKernel, NotBuiltOffX86_64) { GTEST_SKIP() << "the scalar kernel is x86-64 code"; }

#endif
