// sin, cos and atan2 in double precision over vectors of lanes, for the
// vectorised array path: GCC/Clang vector extensions, compiled with
// -ffp-contract=off, and fused multiply-adds only where mul_add asks for one.
//
// These are not libm and need not agree with it bit for bit: the array path
// uses them with the error bounds below and decides, from those bounds plus a
// generous bound for libm, whether libm's results could round differently
// (docs/exactness.md). Bounds are absolute, for the stated domains; they are
// derived in docs/exactness.md and measured against MPFR by
// tools/measure_kernels.cpp.
//
// Included by one translation unit per instruction set; the anonymous
// namespace keeps each one's copy apart.
#ifndef TRUEANOMALY_VEC_MATH_H
#define TRUEANOMALY_VEC_MATH_H

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
  typedef int32_t i __attribute__((vector_size(4 * W)));
};

template <class V, class T>
inline V splat(T x) {
  V v;
  for (unsigned k = 0; k < sizeof(V) / sizeof(T); ++k) v[k] = x;
  return v;
}

template <class D, class L>
inline D as_double(L bits) { return (D)bits; }
template <class L, class D>
inline L as_bits(D x) { return (L)x; }

// a*b + c, fused (one rounding) where the target has FMA, else two roundings.
// The bounds below allow for two. Vectors wider than the target's registers
// are fused piece by piece.
template <class D>
__attribute__((always_inline)) inline D mul_add(D a, D b, D c) {
#if defined(__AVX512F__)
  if constexpr (sizeof(D) == sizeof(__m512d))
    return (D)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
#endif
#if defined(__FMA__)
  if constexpr (sizeof(D) == sizeof(__m256d))
    return (D)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
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

// Float lanes to double and back (rounding to nearest: the caller's mode is
// checked before any vector path runs), as single instructions where GCC
// would otherwise split the conversion in halves. The AVX-512 forms are the
// zero-masked intrinsics with every lane selected: the same instruction as
// the plain ones, whose "undefined" pass-through register GCC 12 reports as
// used uninitialized.
template <class D, class F>
__attribute__((always_inline)) inline D widen(F x) {
#if defined(__AVX512F__)
  if constexpr (sizeof(F) == sizeof(__m256)) return (D)_mm512_maskz_cvtps_pd(__mmask8(0xff), (__m256)x);
#endif
#if defined(__AVX__)
  if constexpr (sizeof(F) == sizeof(__m128)) return (D)_mm256_cvtps_pd((__m128)x);
#endif
  return __builtin_convertvector(x, D);
}

template <class F, class D>
__attribute__((always_inline)) inline F narrow(D x) {
#if defined(__AVX512F__)
  if constexpr (sizeof(D) == sizeof(__m512d)) return (F)_mm512_maskz_cvtpd_ps(__mmask8(0xff), (__m512d)x);
#endif
#if defined(__AVX__)
  if constexpr (sizeof(D) == sizeof(__m256d)) return (F)_mm256_cvtpd_ps((__m256d)x);
#endif
  return __builtin_convertvector(x, F);
}

// c0 + c1*z + ... + c4*z^4 and c0 + ... + c8*z^8 by Estrin's scheme: the
// same terms as Horner's rule in a shorter chain of dependent operations.
template <class D>
__attribute__((always_inline)) inline D poly4(D z, D z2, double c0, double c1, double c2,
                                              double c3, double c4) {
  const D p01 = mul_add(z, splat<D>(c1), splat<D>(c0));
  const D p23 = mul_add(z, splat<D>(c3), splat<D>(c2));
  return mul_add(z2, mul_add(z2, splat<D>(c4), p23), p01);
}

template <class D>
__attribute__((always_inline)) inline D poly8(D z, double c0, double c1, double c2, double c3,
                                              double c4, double c5, double c6, double c7,
                                              double c8) {
  const D z2 = z * z, z4 = z2 * z2;
  const D p01 = mul_add(z, splat<D>(c1), splat<D>(c0));
  const D p23 = mul_add(z, splat<D>(c3), splat<D>(c2));
  const D p45 = mul_add(z, splat<D>(c5), splat<D>(c4));
  const D p67 = mul_add(z, splat<D>(c7), splat<D>(c6));
  const D p03 = mul_add(z2, p23, p01);
  const D p47 = mul_add(z2, p67, p45);
  return mul_add(z4, mul_add(z4, splat<D>(c8), p47), p03);
}

// Largest |x| the range reduction below is proven for: k = round(x*2/pi)
// stays below 2^22, so k*P1 (a 31-bit constant) is exact.
constexpr double kReduceMax = 0x1p22;

// Error bounds, absolute, of the two functions below.
constexpr double kSinCosError = 0x1.6a09e667f3bcdp-46;  // 2^-45.5
constexpr double kAtan2Error = 0x1p-48;

// sin(x) and cos(x) for |x| <= kReduceMax, each within kSinCosError.
//   Reduction: r = x - k*pi/2 by Cody-Waite with pi/2 = P1 + P2. x - k*P1 is
//   exact (x has 24 significant bits, k*P1 is exact and a multiple of 2^-30,
//   |result| < 1), fused or not; k*P2 and the subtraction add at most
//   2^-62 + 2^-54, and the tail pi/2 - P1 - P2 contributes k*2^-88:
//   |r - (x - k*pi/2)| < 2^-53.
//   Polynomials (tools/fit_polynomials.py) on |r| <= pi/4 + 2^-20:
//   |r + r^3 S(r^2) - sin r| < 2^-46.1, |1 - r^2/2 + r^4 C(r^2) - cos r| < 2^-50.2;
//   evaluating them in double adds less than 2^-52.
template <int W>
__attribute__((always_inline)) inline void sincos_lanes(typename Lanes<W>::d x, typename Lanes<W>::d *s,
                         typename Lanes<W>::d *c) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::l L;
  const double shifter = 0x1.8p52;  // adding it rounds |v| < 2^51 to an integer
  const D t = mul_add(x, splat<D>(0x1.45f306dc9c883p-1), splat<D>(shifter));  // x*2/pi
  const D k = t - shifter;
  const L quadrant = as_bits<L>(t) & 3;  // k mod 4, two's complement in the low bits
  const D r = mul_add(k, splat<D>(-0x1.0b4611a626331p-34),
                      mul_add(k, splat<D>(-0x1.921fb544p+0), x));
  const D z = r * r, z2 = z * z;
  const D ps = poly4(z, z2, -0x1.555555555516bp-3, 0x1.1111110fd3d36p-7, -0x1.a019fd9b34043p-13,
                     0x1.71d9a9f2a99dbp-19, -0x1.aa2856dcf72e3p-26);
  const D pc = poly4(z, z2, 0x1.5555555555437p-5, -0x1.6c16c16b614f5p-10, 0x1.a019ff53a5896p-16,
                     -0x1.27e25f4ae0cd3p-22, 0x1.1c81c2f0e4935p-29);
  const D sin_r = mul_add(r * z, ps, r);
  const D cos_r = mul_add(z2, pc, 1.0 - 0.5 * z);
  // Quadrant q: sin x = (sin r, cos r, -sin r, -cos r)[q], cos x = (cos r, -sin r, -cos r, sin r)[q].
  const L swap = -(quadrant & 1);  // all ones or zero
  const L s_sign = (quadrant & 2) << 62;
  const L c_sign = ((quadrant + 1) & 2) << 62;
  *s = as_double<D>(as_bits<L>(swap ? cos_r : sin_r) ^ s_sign);
  *c = as_double<D>(as_bits<L>(swap ? sin_r : cos_r) ^ c_sign);
}

// atan2(y, x) within kAtan2Error, for finite x, y with x*x + y*y >= 2^-10.
//   With n = min(|x|, |y|) and m = max(|x|, |y|), t = n/m is in [0, 1]; above
//   tan(pi/8), atan(t) = pi/4 + atan(u) with u = (n - m)/(n + m), else u = n/m:
//   |u| <= tan(pi/8) (the test n > tan(pi/8)*m errs only within 2^-51 of the
//   switch, inside the polynomial's range), relative error < 3.1 * 2^-53, so
//   < 2^-52.3 in u, and atan's slope is at most 1.
//   Polynomial: |u + u^3 A(u^2) - atan u| < 2^-49.3, evaluation < 2^-53.
//   Then pi/4 + a, pi/2 - a, pi - a: each constant and result rounded once,
//   < 2^-50.4 together.
template <int W>
__attribute__((always_inline)) inline typename Lanes<W>::d atan2_lanes(typename Lanes<W>::d y,
                                                                    typename Lanes<W>::d x) {
  typedef typename Lanes<W>::d D;
  typedef typename Lanes<W>::l L;
  const L sign_bit = splat<L>(INT64_MIN);
  const D ax = as_double<D>(as_bits<L>(x) & ~sign_bit);
  const D ay = as_double<D>(as_bits<L>(y) & ~sign_bit);
  const L swap = ay > ax;
  const D n = swap ? ax : ay, m = swap ? ay : ax;
  const L big = n > 0x1.a827999fcef32p-2 * m;  // tan(pi/8)
  const D u = (big ? n - m : n) / (big ? n + m : m);
  const D z = u * u;
  const D pa = poly8(z, -0x1.55555555553a4p-2, 0x1.99999998d178ep-3, -0x1.249248aa79b52p-3,
                     0x1.c71c382a3d675p-4, -0x1.74563dfb8deabp-4, 0x1.3a9d983d1717dp-4,
                     -0x1.0c533a6070b34p-4, 0x1.a76e383b25b2fp-5, -0x1.be2eaac939859p-6);
  D a = mul_add(u * z, pa, u);                              // atan(u)
  a = big ? 0x1.921fb54442d18p-1 + a : a;                   // atan(t) in [0, pi/4]
  a = swap ? 0x1.921fb54442d18p+0 - a : a;                  // atan(ay/ax) in [0, pi/2]
  a = as_bits<L>(x) < 0 ? 0x1.921fb54442d18p+1 - a : a;     // [0, pi]
  return as_double<D>(as_bits<L>(a) | (as_bits<L>(y) & sign_bit));
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_VEC_MATH_H
