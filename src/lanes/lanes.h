// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set: every header in src/lanes/ is compiled once for each
// vector path, by src/path_<name>.cpp with that path's flags (and by the
// test and tool files of tests/lanes/). Its functions live in an anonymous
// namespace, so each instruction set's copy stays apart.
//
// W lanes of doubles (and of the floats and integers that go with them) as
// GCC/Clang vector extensions, and the few operations the kernels build on.
// The kernels are compiled with -ffp-contract=off: a multiply is fused with
// an addition only where mul_add asks for it, the same on every compiler.
#ifndef TRUEANOMALY_LANES_LANES_H
#define TRUEANOMALY_LANES_LANES_H

#include <immintrin.h>
#include <stdint.h>
#include <string.h>

namespace trueanomaly_detail {
namespace {

template <int W>
struct Lanes {
  typedef double d __attribute__((vector_size(8 * W)));
  typedef float f __attribute__((vector_size(4 * W)));
  typedef int64_t l __attribute__((vector_size(8 * W)));
  typedef uint64_t u __attribute__((vector_size(8 * W)));
  typedef int32_t i __attribute__((vector_size(4 * W)));
};

template <class V, class T>
inline V splat(T x) {
  V v;
  for (unsigned k = 0; k < sizeof(V) / sizeof(T); ++k) v[k] = x;
  return v;
}

// The same bits read as another type of the same size: float lanes as int32
// lanes, doubles as int64, a lane vector as the intrinsics' type. The one
// way the kernels reinterpret bits.
template <class To, class From>
__attribute__((always_inline)) inline To same_bits(From x) {
  static_assert(sizeof(To) == sizeof(From), "sizes differ");
  return __builtin_bit_cast(To, x);
}

// |x| of float lanes, by clearing the sign bit (NaN stays NaN, so any
// comparison with it is false).
template <class F>
__attribute__((always_inline)) inline F abs_lanes(F x) {
  typedef int32_t I __attribute__((vector_size(sizeof(F))));
  return same_bits<F>(same_bits<I>(x) & INT32_MAX);
}

// a*b + c, fused (one rounding) where the target has FMA, else two roundings.
// The kernels' bounds allow for two. Vectors wider than the target's
// registers are fused piece by piece.
template <class D>
__attribute__((always_inline)) inline D mul_add(D a, D b, D c) {
#if defined(__AVX512F__)
  if constexpr (sizeof(D) == sizeof(__m512d))
    return same_bits<D>(_mm512_fmadd_pd(same_bits<__m512d>(a), same_bits<__m512d>(b),
                                        same_bits<__m512d>(c)));
#endif
#if defined(__FMA__)
  if constexpr (sizeof(D) == sizeof(__m256d))
    return same_bits<D>(_mm256_fmadd_pd(same_bits<__m256d>(a), same_bits<__m256d>(b),
                                        same_bits<__m256d>(c)));
  if constexpr (sizeof(D) > sizeof(__m256d)) {
    constexpr unsigned n = sizeof(D) / sizeof(__m256d);
    __m256d x[n], y[n], z[n];
    memcpy(x, &a, sizeof a);
    memcpy(y, &b, sizeof b);
    memcpy(z, &c, sizeof c);
    for (unsigned k = 0; k < n; ++k) x[k] = _mm256_fmadd_pd(x[k], y[k], z[k]);
    memcpy(&a, x, sizeof a);
    return a;
  }
#endif
  return a * b + c;  // not contracted: -ffp-contract=off
}

// sqrt of double lanes: IEEE square roots are correctly rounded, so each
// lane equals the scalar sqrt of that lane. (The AVX-512 form is zero-masked
// with every lane selected, as in widen and narrow below.)
template <class D>
__attribute__((always_inline)) inline D sqrt_lanes(D x) {
#if defined(__AVX512F__)
  if constexpr (sizeof(D) == sizeof(__m512d))
    return same_bits<D>(_mm512_maskz_sqrt_pd(__mmask8(0xff), same_bits<__m512d>(x)));
#endif
#if defined(__AVX__)
  if constexpr (sizeof(D) == sizeof(__m256d))
    return same_bits<D>(_mm256_sqrt_pd(same_bits<__m256d>(x)));
#endif
  for (unsigned k = 0; k < sizeof(D) / sizeof(double); ++k) x[k] = __builtin_sqrt(x[k]);
  return x;
}

// Adding kRoundShifter = 1.5*2^52 to a double v with |v| < 2^51 rounds v to
// an integer n (to nearest, ties to even): the sum lies in [2^52, 2^53),
// where the doubles are the integers. Subtracting it again gives n exactly,
// and n's low bits, two's complement, are the low bits of the sum's.
constexpr double kRoundShifter = 0x1.8p52;

// Float lanes to double and back (rounding to nearest: the caller's mode is
// checked before any vector path runs), as single instructions where GCC
// would otherwise split the conversion in halves. The AVX-512 forms are the
// zero-masked intrinsics with every lane selected: the same instruction as
// the plain ones, whose "undefined" pass-through register GCC 12 reports as
// used uninitialized.
template <class D, class F>
__attribute__((always_inline)) inline D widen(F x) {
#if defined(__AVX512F__)
  if constexpr (sizeof(F) == sizeof(__m256))
    return same_bits<D>(_mm512_maskz_cvtps_pd(__mmask8(0xff), same_bits<__m256>(x)));
#endif
#if defined(__AVX__)
  if constexpr (sizeof(F) == sizeof(__m128)) return same_bits<D>(_mm256_cvtps_pd(same_bits<__m128>(x)));
#endif
  return __builtin_convertvector(x, D);
}

template <class F, class D>
__attribute__((always_inline)) inline F narrow(D x) {
#if defined(__AVX512F__)
  if constexpr (sizeof(D) == sizeof(__m512d))
    return same_bits<F>(_mm512_maskz_cvtpd_ps(__mmask8(0xff), same_bits<__m512d>(x)));
#endif
#if defined(__AVX__)
  if constexpr (sizeof(D) == sizeof(__m256d)) return same_bits<F>(_mm256_cvtpd_ps(same_bits<__m256d>(x)));
#endif
  return __builtin_convertvector(x, F);
}

// c[0] + c[1]*z + ... + c[4]*z^4 and c[0] + ... + c[8]*z^8 by Estrin's
// scheme: the same terms as Horner's rule in a shorter chain of dependent
// operations.
template <class D>
__attribute__((always_inline)) inline D poly4(D z, D z2, const double (&c)[5]) {
  const D p01 = mul_add(z, splat<D>(c[1]), splat<D>(c[0]));
  const D p23 = mul_add(z, splat<D>(c[3]), splat<D>(c[2]));
  return mul_add(z2, mul_add(z2, splat<D>(c[4]), p23), p01);
}

template <class D>
__attribute__((always_inline)) inline D poly8(D z, const double (&c)[9]) {
  const D z2 = z * z, z4 = z2 * z2;
  const D p01 = mul_add(z, splat<D>(c[1]), splat<D>(c[0]));
  const D p23 = mul_add(z, splat<D>(c[3]), splat<D>(c[2]));
  const D p45 = mul_add(z, splat<D>(c[5]), splat<D>(c[4]));
  const D p67 = mul_add(z, splat<D>(c[7]), splat<D>(c[6]));
  const D p03 = mul_add(z2, p23, p01);
  const D p47 = mul_add(z2, p67, p45);
  return mul_add(z4, mul_add(z4, splat<D>(c[8]), p47), p03);
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_LANES_LANES_H
