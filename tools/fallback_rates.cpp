// SPDX-License-Identifier: BSD-3-Clause
// How often a vector path hands an element back to the plain solve, per
// sample of inputs: the share of lanes whose rounding test could not decide (or whose
// iterate left the proven domain) among the elements of the sample that
// are solved (those that reach the limit fail on every path alike).
// Built with TRUEANOMALY_BUILD_TOOLS=ON:
//   trueanomaly_fallback_rates [ELEMENTS-PER-SAMPLE] [--path NAME]
// Default: 4 000 000 elements, the widest path this CPU runs. Exit 77 when
// it runs none.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kernels/kernels.h"

namespace {

struct Sample {
  const char *name;
  float m_lo, m_hi, e_lo, e_hi;
  int32_t limit, tolerance;
};

const Sample kSamples[] = {
    {"e = 0, M in [0, 2pi)", 0.0f, 6.2831853f, 0.0f, 0.0f, 100, 0},
    {"e = 0.1", 0.0f, 6.2831853f, 0.1f, 0.1f, 100, 0},
    {"e = 0.5", 0.0f, 6.2831853f, 0.5f, 0.5f, 100, 0},
    {"e = 0.9", 0.0f, 6.2831853f, 0.9f, 0.9f, 100, 0},
    {"e = 0.99", 0.0f, 6.2831853f, 0.99f, 0.99f, 100, 0},
    {"e in [0, 0.99], M in [-2pi, 2pi]", -6.2831853f, 6.2831853f, 0.0f, 0.99f, 100, 0},
    {"e in [-0.99, 0], M in [-2pi, 2pi]", -6.2831853f, 6.2831853f, -0.99f, 0.0f, 100, 0},
    {"e in [0, 0.9], |M| < 1e4", -1e4f, 1e4f, 0.0f, 0.9f, 100, 0},
    {"e in [0, 0.9], tolerance 5", -6.2831853f, 6.2831853f, 0.0f, 0.9f, 100, 5},
    {"e in [0, 0.9], |M| < 1e-3", -1e-3f, 1e-3f, 0.0f, 0.9f, 100, 0},
};

}  // namespace

int main(int argc, char **argv) {
  long n = 4000000;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--path") == 0 && i + 1 < argc) path = argv[++i];
    else n = std::atol(argv[i]);
  }
  const lane_kernels::Kernels *k = nullptr;
  for (const lane_kernels::Kernels *c : lane_kernels::runnable())
    if (path.empty() || path == c->name) k = c;
  if (k == nullptr) {
    std::printf("no such vector path on this CPU: nothing measured\n");
    return 77;
  }
  std::mt19937_64 rng(2024);
  std::printf("%s path, blocks of %zu\n\n", k->name, k->block_size);
  std::printf("| inputs | elements | handed to the plain solve | rate |\n|---|---|---|---|\n");
  std::vector<float> block(k->block_size);
  std::vector<int32_t> status(k->block_size);
  for (const Sample &r : kSamples) {
    std::uniform_real_distribution<float> m(r.m_lo, r.m_hi);
    std::uniform_real_distribution<float> ecc(r.e_lo, r.e_hi);
    long undecided = 0, counted = 0;
    for (long i = 0; i < n; i += static_cast<long>(k->block_size)) {
      const float e = r.e_lo == r.e_hi ? r.e_lo : ecc(rng);
      for (float &x : block) x = m(rng);
      k->block_statuses(block.data(), e, r.limit, r.tolerance, status.data());
      for (int32_t st : status) {
        if (st == lane_kernels::kBlockFailed) continue;
        ++counted;
        undecided += st == lane_kernels::kBlockUndecided;
      }
    }
    std::printf("| %s | %ld | %ld | %.2g |\n", r.name, counted, undecided,
                double(undecided) / double(counted));
  }
  return 0;
}
