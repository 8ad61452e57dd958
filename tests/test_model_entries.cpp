// SPDX-License-Identifier: BSD-3-Clause
// The public entries of the shared library against the independent model in
// tests/model: random inputs in every regime, then the near-tie corpus.
#include <gtest/gtest.h>

#include <cinttypes>

#include "differential.h"
#include "trueanomaly.h"

namespace {

using namespace differential;

// Per entry; with the array paths this gives over 10^7 inputs per test run.
constexpr uint64_t kDefaultInputs = 3'600'000;

class EntriesVsModel : public ::testing::TestWithParam<Regime> {};

TEST_P(EntriesVsModel, ScalarEntryMatchesBitForBit) {
  const Regime regime = GetParam();
  const uint64_t total = inputs_per_target(kDefaultInputs) / std::size(kRegimes);
  Inputs gen(seed(100 + static_cast<uint64_t>(regime)));
  int reported = 0;
  for (uint64_t i = 0; i < total;) {
    const Config c = gen.config(regime);
    for (int k = 0; k < 16 && i < total; ++k, ++i) {
      const float m = gen.mean(regime);
      const float got = trueanomaly(m, c.eccentricity, c.limit, c.tolerance);
      const float want = model_scalar(m, c.eccentricity, c.limit, c.tolerance);
      if (!same_result(got, want)) {
        ADD_FAILURE() << std::hexfloat << "M " << m << " e " << c.eccentricity << " limit "
                      << c.limit << " tolerance " << c.tolerance << ": got " << got
                      << ", model " << want;
        if (++reported == 10) return;
      }
    }
  }
  std::printf("scalar entry, %s: %" PRIu64 " inputs\n", name(regime), total);
}

TEST_P(EntriesVsModel, ArrayEntryMatchesBitForBit) {
  const Regime regime = GetParam();
  const uint64_t total = inputs_per_target(kDefaultInputs) / std::size(kRegimes);
  const ArrayRun run =
      run_random_arrays(trueanomaly_array, regime, total, seed(200 + static_cast<uint64_t>(regime)));
  for (const std::string& diff : run.differences) ADD_FAILURE() << diff;
  std::printf("array entry, %s: %" PRIu64 " inputs in %" PRIu64 " calls\n", name(regime),
              run.inputs, run.calls);
}

INSTANTIATE_TEST_SUITE_P(Regimes, EntriesVsModel, ::testing::ValuesIn(kRegimes),
                         [](const auto& info) { return std::string(name(info.param)); });

TEST(NearTieCorpus, EntriesMatchTheModel) {
  const auto corpus = load_corpus(TRUEANOMALY_CORPUS_PATH);
  ASSERT_GE(corpus.size(), 300u) << "corpus missing or short: " << TRUEANOMALY_CORPUS_PATH;
  int reported = 0;
  for (const CorpusEntry& x : corpus) {
    const Config c{x.eccentricity, x.limit, x.tolerance};
    const float got = trueanomaly(x.mean, x.eccentricity, x.limit, x.tolerance);
    const float want = model_scalar(x.mean, x.eccentricity, x.limit, x.tolerance);
    std::string diff;
    if (!same_result(got, want)) {
      std::ostringstream s;
      s << std::hexfloat << "scalar entry: got " << got << ", model " << want;
      diff = s.str();
    }
    // The same input in every position of an array, separately and in place.
    const std::vector<float> in(35, x.mean);
    for (int32_t count : {1, 35})
      for (bool in_place : {false, true})
        if (diff.empty()) diff = compare_array(trueanomaly_array, in, count, c, in_place);
    if (!diff.empty()) {
      ADD_FAILURE() << std::hex << "corpus entry " << float_bits(x.mean) << " "
                    << float_bits(x.eccentricity) << std::dec << " " << x.limit << " "
                    << x.tolerance << ": " << diff;
      if (++reported == 10) return;
    }
  }
  std::printf("near-tie corpus: %zu inputs\n", corpus.size());
}

}  // namespace
