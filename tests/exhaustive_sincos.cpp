// SPDX-License-Identifier: BSD-3-Clause
// The vector sin and cos against the system libm's sin and cos at every
// input the array paths can give them, on every vector path this CPU runs.
//
// The paths call sincos_lanes on E, a float with |E| <= 2^22 (kReduceMax),
// and on E/2 for a float |E| <= 2^23, halved exactly in double. The check
// visits
//   every float x with |x| <= 2^22, both signs (2.5e9 inputs), and
//   x/2 for every float x with |x| < 2^-124, both signs (3.4e7 inputs):
// halving a float of larger magnitude gives a normal float of at most 2^22,
// which the first set holds already. sincos_far_lanes takes the rest: E
// with |E| > 2^22, and E/2 for |E| > 2^23, itself a float above 2^22. The
// check visits
//   every 15th float x with 2^22 < |x| <= FLT_MAX by bit pattern, both signs
//     alternating (1.2e8 inputs; with --full every one, 1.8e9 inputs, some
//     170 s more of one core: libm's sin and cos of such x cost about 90 ns),
//   and the floats hardest for its reduction, both signs: for each exponent
//     the 64 whose x*2/pi is nearest an integer (reduced argument near 0) and
//     the 64 nearest a half-integer (near +-pi/4, where the quadrant
//     changes), with the 4 floats on either side of each (tests/far_extremes.h,
//     with frac(2^q * 2/pi) from the reduction's own bits of 2/pi; 2.4e5
//     inputs).
//
// Each difference |ours - libm| must stay within kSinCosError + 2^-50 (our
// bound plus the 4 ulp budgeted for libm), the sum the rounding test's slack
// kSinCosSlack = 2^-43 is built on; a larger one, or a non-finite result,
// fails. The largest differences are printed with where they occur.
//
//   trueanomaly_exhaustive_sincos [--threads N] [--full]
// TRUEANOMALY_KERNEL_STRIDE=S visits every S-th input of each set instead,
// and the hardest floats of every S-th exponent (for runs under an
// emulator); the output says so. Exit status 0: within
// bounds; 1: not; 77: no vector path on this CPU (skipped).
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "far_extremes.h"
#include "float_bits.h"
#include "kernels/kernels.h"
#include "drivers/slacks.h"

namespace {

using lane_kernels::Kernels;

constexpr double kAllowed = trueanomaly_detail::kSinCosError + 0x1p-50;
static_assert(kAllowed < trueanomaly_detail::kSinCosSlack / 4,
              "the allowed difference is what the slack is built on");

constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kTopBits = 0x4a800000u;    // 2^22
constexpr uint32_t kHalvedBits = 0x01800000u;  // 2^-124: below it, x/2 may not be a float
constexpr uint32_t kMaxBits = 0x7f7fffffu;     // FLT_MAX
constexpr size_t kChunk = 4096;
static_assert(trueanomaly_detail::kReduceMax == 0x1p22 && trueanomaly_detail::kFarReduceMin == 0x1p22,
              "the sets meet where the two kernels' domains do");

struct Worst {
  double diff = 0, at = 0;
  uint64_t nonfinite = 0;
  double first_nonfinite = 0;
  void note(double ours, double libm, double x) {
    if (!isfinite(ours)) {
      if (nonfinite++ == 0) first_nonfinite = x;
      return;
    }
    const double d = fabs(ours - libm);
    if (d > diff) diff = d, at = x;
  }
  void merge(const Worst &o) {
    if (o.diff > diff) diff = o.diff, at = o.at;
    if (o.nonfinite && !nonfinite) first_nonfinite = o.first_nonfinite;
    nonfinite += o.nonfinite;
  }
};

struct PathResult {
  Worst sin, cos;
};

double float_value(uint32_t bits) { return float_from_bits(bits); }

typedef void (*SinCosFn)(const double *x, size_t n, double *sin_x, double *cos_x);

// A set of inputs, each input once, and the kernel of a path that takes them.
struct InputSet {
  std::string name;
  uint64_t size;
  std::function<double(uint64_t)> at;  // the input of index i < size
  SinCosFn Kernels::*kernel;
  uint64_t stride;  // every stride-th input, times TRUEANOMALY_KERNEL_STRIDE
                    // (0: every input; the set is sampled another way)
};

// Patterns 0 .. kTopBits, then the halved set, each positive (even i) and
// negative (odd i).
constexpr uint64_t kNearFloats = 2 * (uint64_t{kTopBits} + 1);
double near_input(uint64_t i) {
  const uint32_t sign = (i & 1) ? kSignBit : 0;
  if (i < kNearFloats) return float_value(static_cast<uint32_t>(i >> 1) | sign);
  return float_value(static_cast<uint32_t>((i - kNearFloats) >> 1) | sign) / 2.0;
}

// Patterns kTopBits + 1 .. kMaxBits, positive (even i) and negative (odd i).
double far_input(uint64_t i) {
  const uint32_t sign = (i & 1) ? kSignBit : 0;
  return float_value((kTopBits + 1 + static_cast<uint32_t>(i >> 1)) | sign);
}

constexpr uint64_t kFarStride = 15;  // odd: both signs in turn
constexpr size_t kHardKeep = 64;
constexpr int kHardAround = 4;

// The floats hardest for the far reduction (see the top of this file), in
// the domain 2^22 < |x| <= FLT_MAX, both signs.
std::vector<double> far_hard_inputs(int row_stride) {
  using namespace far_extremes;
  Fixed128 fractions[kRows];
  fractions_from_bits(trueanomaly_detail::kTwoOverPiBits, fractions);
  const Extremes ex = find(fractions, kHardKeep, row_stride);
  std::vector<double> out;
  for (const auto *kind : {&ex.integer, &ex.half})
    for (const Extreme &e : *kind)
      for (int off = -kHardAround; off <= kHardAround; ++off) {
        const int64_t bits = int64_t{float_bits(static_cast<float>(e.x))} + off;
        if (bits <= kTopBits || bits > kMaxBits) continue;
        out.push_back(float_value(static_cast<uint32_t>(bits)));
        out.push_back(-out.back());
      }
  return out;
}

// Checks the inputs [begin, end) of `set` (every stride-th) on each path.
void check_range(const InputSet &set, uint64_t stride, uint64_t begin, uint64_t end,
                 const std::vector<const Kernels *> &paths, std::vector<PathResult> *out) {
  std::vector<double> x(kChunk), s_libm(kChunk), c_libm(kChunk), s(kChunk), c(kChunk);
  out->assign(paths.size(), PathResult{});
  for (uint64_t i = begin; i < end;) {
    size_t n = 0;
    for (; n < kChunk && i < end; ++n, i += stride) x[n] = set.at(i);
    for (size_t k = 0; k < n; ++k) {
      s_libm[k] = sin(x[k]);
      c_libm[k] = cos(x[k]);
    }
    for (size_t p = 0; p < paths.size(); ++p) {
      (paths[p]->*set.kernel)(x.data(), n, s.data(), c.data());
      PathResult &r = (*out)[p];
      for (size_t k = 0; k < n; ++k) {
        r.sin.note(s[k], s_libm[k], x[k]);
        r.cos.note(c[k], c_libm[k], x[k]);
      }
    }
  }
}

// One set over `threads` threads in interleaved slices, so each thread gets
// as many costly inputs as the other; the results per path, merged.
std::vector<PathResult> check_set(const InputSet &set, uint64_t stride, unsigned threads,
                                  const std::vector<const Kernels *> &paths) {
  std::vector<std::vector<PathResult>> results(threads);
  std::vector<std::thread> pool;
  const uint64_t slices = 1024;
  for (unsigned t = 0; t < threads; ++t)
    pool.emplace_back([&, t] {
      std::vector<PathResult> mine(paths.size()), part;
      const uint64_t span = set.size / slices + 1;
      for (uint64_t slice = t; slice < slices; slice += threads) {
        // Slice boundaries rounded up to the stride, so every stride-th input is visited once.
        const auto align = [&](uint64_t v) { return (v + stride - 1) / stride * stride; };
        const uint64_t begin = align(std::min(set.size, slice * span));
        const uint64_t end = std::min(set.size, (slice + 1) * span);
        if (begin >= end) continue;
        check_range(set, stride, begin, end, paths, &part);
        for (size_t p = 0; p < paths.size(); ++p) {
          mine[p].sin.merge(part[p].sin);
          mine[p].cos.merge(part[p].cos);
        }
      }
      results[t] = mine;
    });
  for (std::thread &t : pool) t.join();
  std::vector<PathResult> total(paths.size());
  for (const auto &r : results)
    for (size_t p = 0; p < paths.size(); ++p) {
      total[p].sin.merge(r[p].sin);
      total[p].cos.merge(r[p].cos);
    }
  return total;
}

bool report(const char *path, const char *func, const Worst &w) {
  const bool ok = w.nonfinite == 0 && w.diff <= kAllowed;
  printf("  %-6s %s: max |ours - libm| = 2^%.2f (%.3e) at x = %a (%.17g)\n", path, func,
         w.diff > 0 ? log2(w.diff) : -INFINITY, w.diff, w.at, w.at);
  if (w.nonfinite)
    printf("  ** %llu non-finite results, the first at x = %a\n",
           static_cast<unsigned long long>(w.nonfinite), w.first_nonfinite);
  if (w.diff > kAllowed) printf("  ** above the allowed 2^%.2f\n", log2(kAllowed));
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  unsigned threads = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
  bool full = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = static_cast<unsigned>(std::max(1, atoi(argv[++i])));
    } else if (strcmp(argv[i], "--full") == 0) {
      full = true;
    } else {
      fprintf(stderr, "usage: %s [--threads N] [--full]\n", argv[0]);
      return 2;
    }
  }
  const uint64_t stride = lane_kernels::stride_from_environment();

  const std::vector<const Kernels *> paths = lane_kernels::runnable();
  if (paths.empty()) {
    printf("no vector path on this CPU: nothing to check (skipped)\n");
    return 77;
  }
  std::string names;
  for (const Kernels *k : paths) names += std::string(names.empty() ? "" : ", ") + k->name;
  printf("sin and cos of the lane kernels against libm sin and cos, paths %s\n", names.c_str());
  if (stride > 1)
    printf("** SAMPLED: every %llu-th input only (TRUEANOMALY_KERNEL_STRIDE)\n",
           static_cast<unsigned long long>(stride));
  printf("allowed: kSinCosError + 2^-50 = 2^%.2f; the rounding test's slack is 2^%.0f\n",
         log2(kAllowed), log2(trueanomaly_detail::kSinCosSlack));
  fflush(stdout);

  const auto hard_start = std::chrono::steady_clock::now();
  // Sampled: the hardest floats of every stride-th exponent only.
  const std::vector<double> hard =
      far_hard_inputs(static_cast<int>(std::min<uint64_t>(stride, far_extremes::kRows)));
  const double hard_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - hard_start).count();
  const uint64_t far_stride = full ? 1 : kFarStride;
  const std::string far_name =
      full ? "sincos_far_lanes: every float 2^22 < |x| <= FLT_MAX"
           : "sincos_far_lanes: every " + std::to_string(kFarStride) +
                 "th float 2^22 < |x| <= FLT_MAX by bit pattern (--full: every one)";
  const InputSet sets[] = {
      {"sincos_lanes: every float |x| <= 2^22 and x/2 for every float |x| < 2^-124",
       kNearFloats + 2 * uint64_t{kHalvedBits}, near_input, &Kernels::sincos, 1},
      {far_name, 2 * uint64_t{kMaxBits - kTopBits}, far_input, &Kernels::sincos_far, far_stride},
      {"sincos_far_lanes: per exponent the " + std::to_string(kHardKeep) +
           " floats nearest odd and the " + std::to_string(kHardKeep) +
           " nearest even multiples of pi/4, and " + std::to_string(kHardAround) +
           " floats either side of each",
       hard.size(), [&hard](uint64_t i) { return hard[i]; }, &Kernels::sincos_far, 0},
  };

  printf("(the hardest floats for the far reduction found in %.1f s)\n", hard_seconds);
  bool ok = true;
  double total_seconds = hard_seconds;
  uint64_t total_inputs = 0;
  for (const InputSet &set : sets) {
    printf("%s\n", set.name.c_str());
    fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const uint64_t set_stride = set.stride ? stride * set.stride : 1;
    const std::vector<PathResult> results = check_set(set, set_stride, threads, paths);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (size_t p = 0; p < paths.size(); ++p) {
      ok &= report(paths[p]->name, "sin", results[p].sin);
      ok &= report(paths[p]->name, "cos", results[p].cos);
    }
    const uint64_t inputs = (set.size + set_stride - 1) / set_stride;
    printf("  %llu inputs per path in %.1f s\n", static_cast<unsigned long long>(inputs), seconds);
    total_seconds += seconds;
    total_inputs += inputs;
  }
  printf("%llu inputs per path in %.1f s on %u threads: %s\n",
         static_cast<unsigned long long>(total_inputs), total_seconds, threads,
         ok ? "all within the allowed difference" : "FAILED");
  return ok ? 0 : 1;
}
