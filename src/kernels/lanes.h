// SPDX-License-Identifier: BSD-3-Clause
// Per instruction set: every header in src/kernels/ and src/drivers/ is compiled once for each
// vector path, by src/path_<name>.cpp with that path's flags (and by the
// test and tool files of tests/kernels/). Its functions live in an anonymous
// namespace, so each instruction set's copy stays apart.
//
// W lanes of doubles (and of the floats and integers that go with them) as
// GCC/Clang vector extensions, and the few operations the kernels build on.
// The kernels are compiled with -ffp-contract=off: a multiply is fused with
// an addition only where mul_add asks for it, the same on every compiler.
#ifndef TRUEANOMALY_KERNELS_LANES_H
#define TRUEANOMALY_KERNELS_LANES_H

#include <immintrin.h>
#include <stdint.h>
#include <string.h>

// The lane functions are inlined into one block loop whatever their size: the
// block's groups must sit side by side in one stretch of code for the
// compiler's scheduler to interleave them (see solve_lanes).
#define TRUEANOMALY_LANES_INLINE __attribute__((always_inline)) inline

namespace trueanomaly_detail {
namespace {

// W lanes of each type the kernels use. Functions name them D, F, L, U and I
// locally: D = Lanes<W>::Doubles, and so on.
template <int W>
struct Lanes {
  typedef double Doubles __attribute__((vector_size(8 * W)));
  typedef float Floats __attribute__((vector_size(4 * W)));
  typedef int64_t Int64s __attribute__((vector_size(8 * W)));
  typedef uint64_t UInt64s __attribute__((vector_size(8 * W)));
  typedef int32_t Int32s __attribute__((vector_size(4 * W)));
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

// A lane vector loaded from memory that need not be aligned.
template <class V, class T>
__attribute__((always_inline)) inline V lanes_at(const T *p) {
  V v;
  memcpy(&v, p, sizeof v);
  return v;
}

// Counting lanes: lane k holds k.
template <class I>
__attribute__((always_inline)) inline I lane_numbers() {
  I v;
  for (unsigned k = 0; k < sizeof(I) / sizeof(int32_t); ++k) v[k] = static_cast<int32_t>(k);
  return v;
}

// p[0 .. valid-1] (0 < valid < the lane count, four or eight) as the first
// lanes of a float vector, the others p[valid - 1]: one gather whose indices
// all lie in p[0 .. valid-1], so it reads nothing beyond (a masked load would
// too on the CPU, but emulators and checkers read its masked lanes).
template <class F>
__attribute__((always_inline)) inline F lanes_at_padded(const float *p, int32_t valid) {
  typedef typename Lanes<sizeof(F) / sizeof(float)>::Int32s I;
  I index = lane_numbers<I>();
  index = index < valid ? index : splat<I>(valid - 1);
  if constexpr (sizeof(F) == sizeof(__m256))
    return same_bits<F>(_mm256_i32gather_ps(p, same_bits<__m256i>(index), 4));
  else
    return same_bits<F>(_mm_i32gather_ps(p, same_bits<__m128i>(index), 4));
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
  if constexpr (sizeof(D) == sizeof(__m128d))
    return same_bits<D>(_mm_sqrt_pd(same_bits<__m128d>(x)));
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

// Lane by lane, a where the sign bit of `by` is set and b elsewhere (no
// other bit of `by` counts), so a quadrant's bits shifted to the top select
// directly. GCC 12 may still put a comparison before AVX2's blend; keeping
// it out with an asm statement moves the schedule and costs more than the
// comparison (docs/performance.md).
template <class D, class L>
__attribute__((always_inline)) inline D select_by_sign_bit(L by, D a, D b) {
#if defined(__AVX512F__)
  if constexpr (sizeof(D) == sizeof(__m512d))
    return same_bits<D>(_mm512_mask_blend_pd(
        _mm512_test_epi64_mask(same_bits<__m512i>(by), _mm512_set1_epi64(INT64_MIN)),
        same_bits<__m512d>(b), same_bits<__m512d>(a)));
#endif
#if defined(__AVX__)
  if constexpr (sizeof(D) == sizeof(__m256d))
    return same_bits<D>(
        _mm256_blendv_pd(same_bits<__m256d>(b), same_bits<__m256d>(a), same_bits<__m256d>(by)));
#endif
  typedef int64_t L64 __attribute__((vector_size(sizeof(D))));
  return same_bits<L64>(by) < 0 ? a : b;
}

// Bit k set where lane k of a mask (all ones or zero per lane) is set.
template <class I>
__attribute__((always_inline)) inline uint32_t lane_bits(I mask) {
  if constexpr (sizeof(I) == sizeof(__m128))
    return static_cast<uint32_t>(_mm_movemask_ps(same_bits<__m128>(mask)));
#if defined(__AVX__)
  if constexpr (sizeof(I) == sizeof(__m256))
    return static_cast<uint32_t>(_mm256_movemask_ps(same_bits<__m256>(mask)));
#endif
  uint32_t bits = 0;
  for (unsigned k = 0; k < sizeof(I) / sizeof(int32_t); ++k)
    bits |= static_cast<uint32_t>(mask[k] != 0) << k;
  return bits;
}

#if defined(__AVX512F__)
// 4 or 8 lanes of 32 bits as the low lanes of 16, the others zero, and back
// (for AVX-512 instructions that exist only on 16 lanes here).
template <class V>
__attribute__((always_inline)) inline __m512 widen_to_512(V x) {
  typedef float F16 __attribute__((vector_size(64)));
  typedef float F8 __attribute__((vector_size(32)));
  typedef float F4 __attribute__((vector_size(16)));
  if constexpr (sizeof(V) == 32) {
    const F8 v = same_bits<F8>(x);
    return same_bits<__m512>(F16(__builtin_shufflevector(v, F8{}, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                                        10, 11, 12, 13, 14, 15)));
  } else {
    const F4 v = same_bits<F4>(x);
    const F8 w = __builtin_shufflevector(v, F4{}, 0, 1, 2, 3, 4, 5, 6, 7);
    return same_bits<__m512>(
        F16(__builtin_shufflevector(w, F8{}, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)));
  }
}

template <class V>
__attribute__((always_inline)) inline V narrow_from_512(__m512 x) {
  typedef float F16 __attribute__((vector_size(64)));
  typedef float F8 __attribute__((vector_size(32)));
  typedef float F4 __attribute__((vector_size(16)));
  const F16 v = same_bits<F16>(x);
  if constexpr (sizeof(V) == 32)
    return same_bits<V>(F8(__builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7)));
  else
    return same_bits<V>(F4(__builtin_shufflevector(v, v, 0, 1, 2, 3)));
}
#endif

// The lanes of `values` (4 or 8 lanes of 32 bits) whose bit is set in
// `keep` written to dst[0], dst[1], ..., lowest lane first. A whole vector
// is written: dst must have room for all lanes, and those beyond
// popcount(keep) hold no meaning.
template <class V>
__attribute__((always_inline)) inline void compress_store(void *dst, V values, uint32_t keep) {
#if defined(__AVX512F__)
  if constexpr (sizeof(V) == sizeof(__m256) || sizeof(V) == sizeof(__m128)) {
    // The register form: the memory form is microcoded on some CPUs.
    const V packed = narrow_from_512<V>(
        _mm512_maskz_compress_ps(static_cast<__mmask16>(keep), widen_to_512(values)));
    memcpy(dst, &packed, sizeof packed);
    return;
  }
#elif defined(__AVX__)
  if constexpr (sizeof(V) == sizeof(__m128)) {
    // kCompress4[keep]: the lanes kept, in order, then anything.
    static constexpr int32_t kCompress4[16][4] = {
        {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {2, 0, 0, 0}, {0, 2, 0, 0},
        {1, 2, 0, 0}, {0, 1, 2, 0}, {3, 0, 0, 0}, {0, 3, 0, 0}, {1, 3, 0, 0}, {0, 1, 3, 0},
        {2, 3, 0, 0}, {0, 2, 3, 0}, {1, 2, 3, 0}, {0, 1, 2, 3}};
    const __m128 packed = _mm_permutevar_ps(
        same_bits<__m128>(values),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(kCompress4[keep & 15])));
    memcpy(dst, &packed, sizeof packed);
    return;
  }
#endif
  int32_t lanes[sizeof(V) / sizeof(int32_t)];
  memcpy(lanes, &values, sizeof lanes);
  char *to = static_cast<char *>(dst);
  for (; keep != 0; keep &= keep - 1, to += sizeof(int32_t))
    memcpy(to, &lanes[__builtin_ctz(keep)], sizeof(int32_t));
}

// c[0] + c[1]*z + ... + c[4]*z^4, up to c[7]*z^7 and up to c[8]*z^8 by
// Estrin's scheme: the same terms as Horner's rule in a shorter chain of
// dependent operations.
template <class D>
__attribute__((always_inline)) inline D poly4(D z, D z2, const double (&c)[5]) {
  const D p01 = mul_add(z, splat<D>(c[1]), splat<D>(c[0]));
  const D p23 = mul_add(z, splat<D>(c[3]), splat<D>(c[2]));
  return mul_add(z2, mul_add(z2, splat<D>(c[4]), p23), p01);
}

// The first eight terms, as two halves: c[0] + ... + c[3]*z^3 and
// c[4] + ... + c[7]*z^3 (z2 = z*z).
template <class D>
__attribute__((always_inline)) inline void estrin_halves(D z, D z2, const double *c, D *low,
                                                         D *high) {
  const D p01 = mul_add(z, splat<D>(c[1]), splat<D>(c[0]));
  const D p23 = mul_add(z, splat<D>(c[3]), splat<D>(c[2]));
  const D p45 = mul_add(z, splat<D>(c[5]), splat<D>(c[4]));
  const D p67 = mul_add(z, splat<D>(c[7]), splat<D>(c[6]));
  *low = mul_add(z2, p23, p01);
  *high = mul_add(z2, p67, p45);
}

template <class D>
__attribute__((always_inline)) inline D poly7(D z, const double (&c)[8]) {
  const D z2 = z * z, z4 = z2 * z2;
  D low, high;
  estrin_halves(z, z2, c, &low, &high);
  return mul_add(z4, high, low);
}

template <class D>
__attribute__((always_inline)) inline D poly8(D z, const double (&c)[9]) {
  const D z2 = z * z, z4 = z2 * z2;
  D low, high;
  estrin_halves(z, z2, c, &low, &high);
  return mul_add(z4, mul_add(z4, splat<D>(c[8]), high), low);
}

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_KERNELS_LANES_H
