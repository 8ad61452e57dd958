// SPDX-License-Identifier: BSD-3-Clause
// Every implementation the library has (src/implementation.h), forced one at a time,
// against the independent model: random arrays in every regime, the
// near-tie corpus, and arrays that end at an unmapped page. Paths this CPU
// cannot run are skipped, visibly.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdlib>
#include <tuple>

#include "differential.h"
#include "implementations.h"

namespace {

using namespace differential;
constexpr uint64_t kDefaultInputs = 10'000'000;  // per path

// The array entry's semantics on one forced implementation; its
// convert_array expects a positive count and a capped eccentricity (the
// entry checks and caps).
ArrayCall forced(Path p) {
  return [p](const float* in, int32_t count, float e, float* out, int32_t limit, int32_t tol) {
    if (count <= 0) return int32_t{0};
    return p->convert_array(in, count, model_capped_eccentricity(e), out, limit, tol);
  };
}

#define SKIP_UNLESS_AVAILABLE(path) \
  if (!available(path)) GTEST_SKIP() << "array path " << name(path) << " is not available on this CPU"

class PathVsModel : public ::testing::TestWithParam<std::tuple<Path, Regime>> {};

TEST_P(PathVsModel, RandomArraysMatchBitForBit) {
  const auto [path, regime] = GetParam();
  SKIP_UNLESS_AVAILABLE(path);
  const uint64_t total = inputs_per_target(kDefaultInputs) / std::size(kRegimes);
  const ArrayRun run = run_random_arrays(
      forced(path), regime, total,
      seed(300 + 10 * index_of(path) + static_cast<uint64_t>(regime)));
  for (const std::string& diff : run.differences) ADD_FAILURE() << "path " << name(path) << ": " << diff;
  std::printf("array path %s, %s: %" PRIu64 " inputs in %" PRIu64 " calls\n", name(path),
              name(regime), run.inputs, run.calls);
}

INSTANTIATE_TEST_SUITE_P(
    PathsAndRegimes, PathVsModel,
    ::testing::Combine(::testing::ValuesIn(every_implementation()), ::testing::ValuesIn(kRegimes)),
    [](const auto& info) {
      return std::string(name(std::get<0>(info.param))) + "_" + name(std::get<1>(info.param));
    });

class PathCheck : public ::testing::TestWithParam<Path> {};

// Each corpus input fills a whole array (every lane of a vector path, and the
// tail), separately and in place.
TEST_P(PathCheck, NearTieCorpusMatches) {
  const Path path = GetParam();
  SKIP_UNLESS_AVAILABLE(path);
  const auto corpus = load_corpus(TRUEANOMALY_CORPUS_PATH);
  ASSERT_GE(corpus.size(), 300u) << "corpus missing or short: " << TRUEANOMALY_CORPUS_PATH;
  const ArrayCall call = forced(path);
  int reported = 0;
  for (const CorpusEntry& x : corpus) {
    const std::vector<float> in(35, x.mean);
    for (int32_t count : {1, 7, 35})
      for (bool in_place : {false, true}) {
        const std::string diff =
            compare_array(call, in, count, {x.eccentricity, x.limit, x.tolerance}, in_place);
        if (!diff.empty()) {
          ADD_FAILURE() << "path " << name(path) << ": " << diff;
          if (++reported == 10) return;
        }
      }
  }
}

// Arrays that end exactly where an inaccessible page begins: a path that
// reads or writes past `count` crashes here instead of passing silently.
// Failing elements are placed at every position, with inputs that solve
// and inputs that run into the limit mixed.
TEST_P(PathCheck, StaysInsideTheArrays) {
  const Path path = GetParam();
  SKIP_UNLESS_AVAILABLE(path);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto map = [&] {
    void* p = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(p, MAP_FAILED);
    EXPECT_EQ(mprotect(static_cast<char*>(p) + page, page, PROT_NONE), 0);
    return static_cast<char*>(p);
  };
  char* in_region = map();
  char* out_region = map();
  float* const in_end = reinterpret_cast<float*>(in_region + page);
  float* const out_end = reinterpret_cast<float*>(out_region + page);
  const ArrayCall call = forced(path);
  Inputs gen(seed(400 + index_of(path)));
  for (int32_t count = 1; count <= 80; ++count) {
    for (int32_t fail_at = -1; fail_at < count; ++fail_at) {
      float* in = in_end - count;
      float* out = out_end - count;
      // M = 0.2 at e = 0.99 needs a second step: a limit of 2 fails on it,
      // while M = 2 and M = -2.5 pass after one step.
      for (int32_t i = 0; i < count; ++i) {
        in[i] = (gen.bits() & 1) ? 2.0f : -2.5f;
        out[i] = sentinel(static_cast<size_t>(i));
      }
      if (fail_at >= 0) in[fail_at] = 0.2f;
      const std::vector<float> copy(in, in + count);
      for (bool in_place : {false, true}) {
        if (in_place) std::copy(copy.begin(), copy.end(), out);
        const int32_t status = call(in_place ? out : in, count, 0.99f, out, 2, 0);
        ASSERT_EQ(status, fail_at >= 0 ? -1 : 0) << count << " " << fail_at;
        const int32_t written = fail_at >= 0 ? fail_at : count;
        for (int32_t i = 0; i < count; ++i) {
          const float untouched = in_place ? copy[static_cast<size_t>(i)] : sentinel(static_cast<size_t>(i));
          const float want = i < written ? model_scalar(copy[static_cast<size_t>(i)], 0.99f, 2, 0) : untouched;
          ASSERT_EQ(float_bits(out[i]), float_bits(want))
              << name(path) << " count " << count << " fail at " << fail_at << " element " << i
              << (in_place ? " in place" : "");
        }
      }
    }
  }
  munmap(in_region, 2 * page);
  munmap(out_region, 2 * page);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathCheck, ::testing::ValuesIn(every_implementation()),
                         [](const auto& info) { return std::string(name(info.param)); });

// The list the dispatcher, tests, fuzzer and benchmark iterate holds the
// paths CMake built (cmake/VectorPaths.cmake), in the same order.
TEST(Dispatch, TheListOfImplementationsIsThePathsTheBuildCompiled) {
  std::string listed;
  for (Path p : every_implementation()) listed += (listed.empty() ? "" : ",") + std::string(name(p));
  EXPECT_EQ(listed, TRUEANOMALY_BUILT_PATHS);
}

// A path this CPU cannot run is skipped, and a CPU check that wrongly says
// "not available" would skip it too. So CI says which path each machine
// (or emulated CPU) must get, in TRUEANOMALY_EXPECT_PATH, and this test
// holds the dispatcher to it: the best path is that one, it and every
// narrower path are available, no wider one is.
TEST(Dispatch, ChoosesThePathThisMachineShouldGet) {
  const char* expected = std::getenv("TRUEANOMALY_EXPECT_PATH");
  const Path best = &trueanomaly_detail::best_implementation();
  if (!expected || !*expected)
    GTEST_SKIP() << "TRUEANOMALY_EXPECT_PATH is not set (plain, avx2 or avx512); this CPU gets "
                 << name(best);
  EXPECT_STREQ(name(best), expected) << "the dispatcher chose " << name(best);
  for (Path p : every_implementation())
    EXPECT_EQ(available(p), index_of(p) <= index_of(best)) << name(p);
  std::printf("dispatcher's choice: %s (expected %s)\n", name(best), expected);
}

// The scalar entry's solve is chosen by the same CPU check: the kernel
// (compiled with the AVX2 path's flags) wherever the AVX2 path runs.
TEST(Dispatch, ScalarEntryGetsTheKernelThisMachineShouldGet) {
  const char* expected = std::getenv("TRUEANOMALY_EXPECT_PATH");
  const trueanomaly_detail::SolveOneFn solve_one = trueanomaly_detail::best_implementation().solve_one;
  const char* runs = solve_one == trueanomaly_detail::kPlain.solve_one ? "plain" : "avx2";
  if (!expected || !*expected)
    GTEST_SKIP() << "TRUEANOMALY_EXPECT_PATH is not set; this CPU's scalar entry runs the "
                 << runs << " solve";
  const Path want = implementation_named(std::string(expected) == "plain" ? "plain" : "avx2");
  ASSERT_NE(want, nullptr);
  EXPECT_EQ(solve_one, want->solve_one) << "the scalar entry runs the " << runs << " solve";
  std::printf("scalar entry's solve: %s (expected %s)\n", runs, name(want));
}

}  // namespace
