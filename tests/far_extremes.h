// SPDX-License-Identifier: BSD-3-Clause
// The hardest floats for the far reduction (src/kernels/reduce_far.h), for
// tests/exhaustive_sincos.cpp and tools/measure_kernels.cpp.
//
// A float x >= 2^22 is m * 2^q with m an integer in [2^23, 2^24) and q in
// [-1, 104], and x*2/pi = m * 2^q * 2/pi. Its distance to the nearest
// integer (the reduced argument near 0: x near a multiple of pi/2) and to
// the nearest half-integer (reduced argument near +-pi/4, where the quadrant
// changes) depends only on m * f_q mod 1, f_q = frac(2^q * 2/pi). For each q
// every m is visited with f_q as a 128-bit fraction (m * 2^-128 < 2^-104 of
// accumulated error, far below the distances ranked), keeping the `keep` m
// nearest an integer and the `keep` nearest a half-integer: 8.9e8 additions
// of 128 bits, about a second and a half.
#ifndef TRUEANOMALY_TESTS_FAR_EXTREMES_H
#define TRUEANOMALY_TESTS_FAR_EXTREMES_H

#include <math.h>
#include <stddef.h>
#include <stdint.h>

#include <utility>
#include <vector>

namespace far_extremes {

__extension__ typedef unsigned __int128 Fixed128;  // a fraction of 1, in units of 2^-128

constexpr int kFirstQ = -1, kLastQ = 104, kRows = kLastQ - kFirstQ + 1;

struct Extreme {
  double x;         // m * 2^q, a float
  double distance;  // from x*2/pi to the nearest integer (or half-integer)
};

struct Extremes {
  std::vector<Extreme> integer, half;  // `keep` per q each
};

inline double to_double(Fixed128 v) {
  return ldexp(static_cast<double>(static_cast<uint64_t>(v >> 64)), -64) +
         ldexp(static_cast<double>(static_cast<uint64_t>(v)), -128);
}

// frac(2^q * 2/pi) for q = kFirstQ .. kLastQ from a bit string S of 256
// bits, most significant first: three zero bits, then the bits of 2/pi after
// the binary point (as src/kernels/reduce_far.h holds them). The fraction of
// row a = q + 1 starts at bit a + 2 of S.
inline void fractions_from_bits(const uint64_t (&s)[4], Fixed128 (&out)[kRows]) {
  const Fixed128 high = (Fixed128{s[0]} << 64) | s[1], low = (Fixed128{s[2]} << 64) | s[3];
  for (int a = 0; a < kRows; ++a) {
    const int p = a + 2;  // 2 .. 107
    out[a] = (high << p) | (low >> (128 - p));
  }
}

// The `keep` smallest distances offered, with their m, ascending.
struct Nearest {
  size_t keep;
  std::vector<std::pair<Fixed128, uint64_t>> best;
  Fixed128 worst_kept = ~Fixed128{0};
  void offer(Fixed128 d, uint64_t m) {
    if (d >= worst_kept) return;
    auto at = best.begin();
    while (at != best.end() && at->first <= d) ++at;
    best.insert(at, {d, m});
    if (best.size() > keep) best.pop_back();
    if (best.size() == keep) worst_kept = best.back().first;
  }
};

// fractions[q + 1] = frac(2^q * 2/pi) in units of 2^-128. Every
// row_stride-th exponent only where the checks are sampled (under an
// emulator the scan would cost minutes).
inline Extremes find(const Fixed128 (&fractions)[kRows], size_t keep, int row_stride = 1) {
  Extremes out;
  const Fixed128 half = Fixed128{1} << 127;
  for (int q = kFirstQ; q <= kLastQ; q += row_stride) {
    const Fixed128 step = fractions[q - kFirstQ];
    Nearest integer{keep, {}}, halfway{keep, {}};
    Fixed128 acc = step * (uint64_t{1} << 23);  // m * f_q mod 1
    for (uint64_t m = uint64_t{1} << 23; m < uint64_t{1} << 24; ++m, acc += step) {
      const Fixed128 h = acc ^ half;  // acc - 1/2 mod 1
      integer.offer(acc < half ? acc : -acc, m);
      halfway.offer(h < half ? h : -h, m);
    }
    for (const auto &b : integer.best)
      out.integer.push_back({ldexp(static_cast<double>(b.second), q), to_double(b.first)});
    for (const auto &b : halfway.best)
      out.half.push_back({ldexp(static_cast<double>(b.second), q), to_double(b.first)});
  }
  return out;
}

}  // namespace far_extremes

#endif  // TRUEANOMALY_TESTS_FAR_EXTREMES_H
