// How often the vectorised path hands an element back to the plain solve,
// per regime: the share of lanes whose rounding test could not decide (or
// whose iterate left the proven domain) among the elements of the regime.
//
//   g++ -O2 -mavx2 -mfma -ffp-contract=off -fno-fast-math -Wno-psabi -std=c++17 \
//       -Isrc tools/fallback_rates.cpp -o /tmp/fallback_rates
//   /tmp/fallback_rates [elements per regime]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "kepler_lanes.h"

using namespace trueanomaly_detail;

namespace {

struct Regime {
  const char *name;
  float m_lo, m_hi, e_lo, e_hi;
  int32_t limit, tolerance;
};

const Regime kRegimes[] = {
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
  const long n = argc > 1 ? atol(argv[1]) : 4000000;
  std::mt19937_64 rng(2024);
  std::printf("| regime | elements | handed to the plain solve | rate |\n|---|---|---|---|\n");
  for (const Regime &r : kRegimes) {
    std::uniform_real_distribution<float> m(r.m_lo, r.m_hi);
    std::uniform_real_distribution<float> ecc(r.e_lo, r.e_hi);
    long undecided = 0, counted = 0;
    float block[8];
    for (long i = 0; i < n; i += 8) {
      const float e = r.e_lo == r.e_hi ? r.e_lo : ecc(rng);
      for (float &x : block) x = m(rng);
      BlockResult<8> out;
      solve_lanes<4, 2, false>(block, make_orbit(e, r.limit, r.tolerance), &out);
      for (int k = 0; k < 8; ++k) {
        if (out.status[k] == kFailed) continue;  // fails on every path alike
        ++counted;
        undecided += out.status[k] == kUndecided;
      }
    }
    std::printf("| %s | %ld | %ld | %.2g |\n", r.name, counted, undecided,
                double(undecided) / double(counted));
  }
  return 0;
}
