// SPDX-License-Identifier: BSD-3-Clause
// Both entries from several threads at once, on shared inputs and separate
// outputs: results equal a single-threaded run. Built with
// -DTRUEANOMALY_SANITIZE=thread this is the data-race check.
#include <gtest/gtest.h>

#include <thread>

#include "differential.h"
#include "trueanomaly.h"

namespace {

using namespace differential;

TEST(Threads, ConcurrentCallsOnSharedInputsAgreeWithOneThread) {
  Inputs gen(seed(600));
  std::vector<float> shared(4096);
  const Regime regimes[] = {Regime::circle, Regime::high_e, Regime::negative_e, Regime::straying};
  for (size_t i = 0; i < shared.size(); ++i) shared[i] = gen.mean(regimes[i % std::size(regimes)]);
  const float eccentricities[] = {0.0f, 0.5f, 0.97f, 1.2f, -0.6f};

  // Reference, one thread; every element of these orbits converges.
  std::vector<std::vector<float>> reference;
  for (float e : eccentricities) {
    std::vector<float> out(shared.size());
    ASSERT_EQ(trueanomaly_array(shared.data(), static_cast<int32_t>(shared.size()), e,
                                out.data(), 1000, 0), 0);
    reference.push_back(out);
  }

  constexpr size_t kThreads = 4;
  std::vector<std::string> problems(kThreads);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      std::vector<float> out(shared.size()), in_place;
      for (int round = 0; round < 3; ++round)
        for (size_t k = 0; k < std::size(eccentricities); ++k) {
          const float e = eccentricities[(k + t) % std::size(eccentricities)];
          const auto& want = reference[(k + t) % std::size(eccentricities)];
          const int32_t n = static_cast<int32_t>(shared.size());
          if (trueanomaly_array(shared.data(), n, e, out.data(), 1000, 0) != 0)
            problems[t] = "array entry failed";
          in_place = shared;
          if (trueanomaly_array(in_place.data(), n, e, in_place.data(), 1000, 0) != 0)
            problems[t] = "in-place array entry failed";
          for (size_t i = 0; i < shared.size(); i += (t % 2 ? 1u : 3u)) {
            const float scalar = trueanomaly(shared[i], e, 1000, 0);
            if (!same_result(out[i], want[i]) || !same_result(in_place[i], want[i]) ||
                !same_result(scalar, want[i]))
              problems[t] = "element " + std::to_string(i) + " differs";
          }
        }
    });
  for (auto& th : threads) th.join();
  for (size_t t = 0; t < kThreads; ++t) EXPECT_EQ(problems[t], "") << "thread " << t;
}

}  // namespace
