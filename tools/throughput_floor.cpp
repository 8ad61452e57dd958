// SPDX-License-Identifier: BSD-3-Clause
// The measured side of tools/throughput_floor.sh: for each vector
// implementation this CPU runs, its array conversion's cycles per element
// at e = 0.5 and 0.99 on 2^20 draws that converge, with the mean number of
// Newton steps per element at each, and the core's cycle time measured on a
// chain of dependent additions (one cycle each on every x86-64 core, and
// eight to a loop iteration so that a busy SMT sibling sharing the front
// end does not slow the chain).
// Built with TRUEANOMALY_BUILD_TOOLS=ON:
//   trueanomaly_throughput_floor [ELEMENTS]      default 2^20
// Exit 77 when the CPU runs no vector implementation.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "dispatch.h"
#include "solve.h"

namespace {

using trueanomaly_detail::Implementation;

double ns_per_cycle() {
  constexpr int kIterations = 25000000, kAdditions = 8 * kIterations;
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    uint64_t x = 1;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kIterations; ++i)
      __asm__ volatile(
          "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
          "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0"
          : "+r"(x));
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / kAdditions);
  }
  return best;
}

// The Newton steps the solve takes on one element, by its own pattern.
int newton_steps(float mean_anomaly, float e) {
  float estimate = mean_anomaly, previous;
  int steps = 0;
  do {
    previous = estimate;
    estimate = trueanomaly_detail::newton_step(estimate, mean_anomaly, e);
    ++steps;
  } while (trueanomaly_detail::step_exceeds_tolerance(estimate - previous, 0));
  return steps;
}

}  // namespace

int main(int argc, char **argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1 << 20;
  if (count <= 0) return 2;
  std::vector<const Implementation *> vector_paths;
  for (const Implementation *implementation : trueanomaly_detail::kImplementations)
    if (implementation->shape.lanes > 1 && trueanomaly_detail::available(*implementation))
      vector_paths.push_back(implementation);
  if (vector_paths.empty()) {
    std::puts("this CPU runs no vector implementation");
    return 77;
  }
  const double cycle = ns_per_cycle();
  std::printf("core: %.3f ns per cycle (%.2f GHz)\n", cycle, 1.0 / cycle);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<float> draw(0.0f, 6.2831853f);
  for (float e : {0.5f, 0.99f}) {
    std::vector<float> in, out(static_cast<size_t>(count));
    double steps = 0;
    float unused;
    while (static_cast<int>(in.size()) < count) {
      const float m = draw(rng);
      if (!trueanomaly_detail::trueanomaly_solve(m, e, 100, 0, &unused)) continue;
      in.push_back(m);
      steps += newton_steps(m, e);
    }
    for (const Implementation *path : vector_paths) {
      double best = 1e30;
      for (int round = 0; round < 25; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        if (path->convert_array(in.data(), count, e, out.data(), 100, 0) != 0) return 1;
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / count);
      }
      std::printf("%s e = %.2f: %.2f ns, %.1f cycles per element; %.3f Newton steps per element\n",
                  path->name, e, best, best / cycle, steps / count);
    }
  }
  return 0;
}
