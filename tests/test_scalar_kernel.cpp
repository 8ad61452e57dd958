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
#include "solve.h"
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

// The kernel taking over elements from vector lanes (continue_avx2): from
// every state the solve passes through with another step to come, one
// element alone and two side by side (their chains of different lengths),
// the model's outcome for the whole solve, or undecided (the plain solve
// then redoes the element): rarely where the vector drivers hand elements
// over, always outside the kernel's domain. States with an estimate past
// 2^22 or infinite are among them.
TEST(ScalarKernel, TakingOverAnyStateMatchesTheModel) {
  SKIP_WITHOUT_THE_KERNEL();
  using trueanomaly_detail::Continued;
  using trueanomaly_detail::Handover;
  struct State {
    Handover from;
    model_outcome expected;
  };
  Inputs gen(seed(800));
  uint64_t states = 0, undecided = 0;
  int reported = 0;
  for (Regime r : kRegimes)
    for (size_t i = 0; i < scaled_count(1000); ++i) {
      const Config c = gen.config(r);
      const float e = model_capped_eccentricity(c.eccentricity);
      std::vector<State> taken;
      for (int k = 0; k < 4; ++k) {
        const float m = gen.mean(r);
        const model_outcome expected = model_solve(m, e, c.limit, c.tolerance);
        float estimate = m;
        for (int32_t n = 1; n < c.limit; ++n) {
          const float previous = estimate;
          estimate = trueanomaly_detail::newton_step(estimate, m, e);
          if (!trueanomaly_detail::step_exceeds_tolerance(estimate - previous, c.tolerance)) break;
          taken.push_back({{m, estimate, n}, expected});
        }
      }
      for (size_t at = 0; at < taken.size(); ++at)
        for (int32_t n : {1, 2}) {
          if (at + static_cast<size_t>(n) > taken.size()) continue;
          Handover from[2] = {taken[at].from, taken[at + static_cast<size_t>(n) - 1].from};
          Continued outcome[2];
          float estimate[2], nu[2];
          trueanomaly_detail::continue_avx2(from, n, e, c.limit, c.tolerance, outcome, estimate,
                                            nu);
          for (int32_t k = 0; k < n; ++k) {
            const model_outcome& want = taken[at + static_cast<size_t>(k)].expected;
            // The rate counts the vector domain's eccentricities, the only
            // ones handed over, and not the raw bits' subnormal means,
            // whose steps the rounding tests rarely decide.
            const bool counted = std::fabs(e) <= 0.99f && r != Regime::raw_bits;
            states += counted;
            if (outcome[k] == Continued::undecided) {
              undecided += counted;
              continue;
            }
            const bool right = outcome[k] == Continued::solved
                                   ? want.solved && same_result(nu[k], want.value)
                                   : !want.solved;
            if (!right && reported++ < 10)
              ADD_FAILURE() << std::hexfloat << "M " << from[k].mean_anomaly << " e " << e
                            << " limit " << c.limit << " tolerance " << c.tolerance
                            << ", taken over after step " << from[k].steps << " at "
                            << from[k].estimate << " (" << n << " side by side): "
                            << (outcome[k] == Continued::solved ? "solved " : "failed ")
                            << nu[k] << ", model " << (want.solved ? "solved " : "failed ")
                            << want.value;
          }
        }
    }
  // Enough states to mean something, and the kernel deciding nearly all.
  EXPECT_GE(states, scaled_count(1000));
  EXPECT_LE(undecided * 100, states) << undecided << " of " << states << " undecided";
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
