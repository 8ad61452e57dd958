// SPDX-License-Identifier: BSD-3-Clause
// The whole turns the block driver's conversion removes from E
// (offset_turns_lanes, kernels/true_anomaly_offset.h), at every float it can
// be given beyond one turn: every float E with 2*pi < |E| <= 2^23, both
// signs (3.4e8 inputs), on every vector path this CPU runs. Below 2*pi the
// turn count is 0 and the result is E itself.
//
// For each E the result w must lie within 2^-51 + 2^-60 of
// E - m*kFourPiHi - m*kFourPiLo for the m it removed, computed in long double
// (64-bit significand: E - m*kFourPiHi exactly, m*kFourPiLo to 2^-75; the
// rest of 4*pi, under |m| * 2^-84.8 < 2^-64, is left to the derivation),
// and m must be the nearest whole turn: |w| <= 2*pi + 2^-40 (at a cut
// (2*j+1)*2*pi either neighbour will do; the conversion never decides there).
//
//   trueanomaly_exhaustive_offset_turns [--threads N]
// TRUEANOMALY_KERNEL_STRIDE=S visits every S-th float instead (for runs
// under an emulator); the output says so. Exit status 0: within bounds;
// 1: not; 77: no vector path on this CPU (skipped).
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "float_bits.h"
#include "kernels/kernels.h"
#include "kernels/true_anomaly_offset.h"

namespace {

using lane_kernels::Kernels;

constexpr long double kFourPi = 12.566370614359172953850573533118011536788677597500L;
constexpr long double kAllowed = 0x1p-51L + 0x1p-60L;
constexpr long double kTurnSlop = 0x1p-40L;

struct Worst {
  long double diff = 0, turn = 0;  // largest |w - reference| and |w| - 2*pi
  float diff_at = 0, turn_at = 0;
  void merge(const Worst &o) {
    if (o.diff > diff) diff = o.diff, diff_at = o.diff_at;
    if (o.turn > turn) turn = o.turn, turn_at = o.turn_at;
  }
};

// Floats by bit pattern, first .. last (inclusive), every stride-th, both signs.
Worst check_range(const Kernels &k, uint32_t first, uint32_t last, uint64_t stride) {
  constexpr size_t kChunk = 4096;
  std::vector<float> E(kChunk);
  std::vector<double> w(kChunk);
  Worst worst;
  worst.turn = -INFINITY;
  uint64_t bits = first;
  while (bits <= last) {
    size_t n = 0;
    for (; n + 1 < kChunk && bits <= last; bits += stride) {
      E[n++] = float_from_bits(static_cast<uint32_t>(bits));
      E[n++] = -float_from_bits(static_cast<uint32_t>(bits));
    }
    k.offset_turns(E.data(), n, w.data());
    for (size_t i = 0; i < n; ++i) {
      const long double e = E[i];
      const long double m = rintl((e - w[i]) / kFourPi);
      const long double reference = (e - m * trueanomaly_detail::kFourPiHi) -
                                    m * static_cast<long double>(trueanomaly_detail::kFourPiLo);
      const long double diff = fabsl(w[i] - reference);
      const long double turn = fabsl(w[i]) - kFourPi / 2;
      if (!(diff <= worst.diff)) worst.diff = diff, worst.diff_at = E[i];  // NaN counts too
      if (!(turn <= worst.turn)) worst.turn = turn, worst.turn_at = E[i];
    }
  }
  return worst;
}

}  // namespace

int main(int argc, char **argv) {
  unsigned threads = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = static_cast<unsigned>(std::max(1, atoi(argv[++i])));
    } else {
      fprintf(stderr, "usage: %s [--threads N]\n", argv[0]);
      return 2;
    }
  }
  const uint64_t stride = lane_kernels::stride_from_environment();

  const std::vector<const Kernels *> paths = lane_kernels::runnable();
  if (paths.empty()) {
    printf("no vector path on this CPU: nothing to check (skipped)\n");
    return 77;
  }
  // The first float above 2*pi, and 2^23.
  const uint32_t first = float_bits(static_cast<float>(2.0 * 3.14159265358979323846)) + 1;
  const uint32_t last = float_bits(0x1p23f);
  printf("offset_turns_lanes at every float 2*pi < |E| <= 2^23 (%llu inputs per path)\n",
         static_cast<unsigned long long>(2 * ((uint64_t{last} - first) / stride + 1)));
  if (stride > 1)
    printf("** SAMPLED: every %llu-th float only (TRUEANOMALY_KERNEL_STRIDE)\n",
           static_cast<unsigned long long>(stride));
  bool ok = true;
  for (const Kernels *k : paths) {
    std::vector<Worst> part(threads);
    std::vector<std::thread> pool;
    const uint64_t count = (uint64_t{last} - first) / stride + 1;
    for (unsigned t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        const uint64_t lo = count * t / threads, hi = count * (t + 1) / threads;
        if (lo < hi)
          part[t] = check_range(*k, static_cast<uint32_t>(first + lo * stride),
                                static_cast<uint32_t>(first + (hi - 1) * stride), stride);
      });
    for (std::thread &t : pool) t.join();
    Worst worst;
    worst.turn = -INFINITY;
    for (const Worst &w : part) worst.merge(w);
    const bool within = worst.diff <= kAllowed && worst.turn <= kTurnSlop;
    printf("  %-6s max |w - (E - 4*pi*m)| = 2^%.2f at E = %a; "
           "max |w| - 2*pi = %.3Lg at E = %a: %s\n",
           k->name, worst.diff > 0 ? static_cast<double>(log2l(worst.diff)) : -INFINITY,
           static_cast<double>(worst.diff_at), worst.turn, static_cast<double>(worst.turn_at),
           within ? "within bounds" : "OUT OF BOUNDS");
    ok &= within;
  }
  return ok ? 0 : 1;
}
