/* SPDX-License-Identifier: BSD-3-Clause */
/* Bit-level float access for the tests, fuzzer, benchmark and tools, in C
 * and C++: nine printed digits identify a float, but only the bit pattern
 * tells -0 from 0 and one NaN from another. */
#ifndef TRUEANOMALY_TESTS_FLOAT_BITS_H
#define TRUEANOMALY_TESTS_FLOAT_BITS_H

#include <stdint.h>
#include <string.h>

static inline uint32_t float_bits(float x) {
  uint32_t u;
  memcpy(&u, &x, sizeof u);
  return u;
}

static inline float float_from_bits(uint32_t u) {
  float x;
  memcpy(&x, &u, sizeof x);
  return x;
}

static inline uint64_t double_bits(double x) {
  uint64_t u;
  memcpy(&u, &x, sizeof u);
  return u;
}

static inline double double_from_bits(uint64_t u) {
  double x;
  memcpy(&x, &u, sizeof x);
  return x;
}

#ifdef __cplusplus
/* Same bits, or both NaN (the payload of a NaN result is not part of the
 * contract). */
inline bool same_result(float a, float b) {
  return (a != a && b != b) || float_bits(a) == float_bits(b);
}
#endif

#endif
