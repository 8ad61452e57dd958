// Bit-level float comparison for tests: nine printed digits identify a float,
// but only the bit pattern tells -0 from 0 and one NaN from another.
#ifndef TRUEANOMALY_TESTS_FLOAT_BITS_H
#define TRUEANOMALY_TESTS_FLOAT_BITS_H

#include <cstdint>
#include <cstring>

inline uint32_t float_bits(float x) {
  uint32_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

inline float float_from_bits(uint32_t u) {
  float x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

// Same bits, or both NaN (the payload of a NaN result is not part of the
// contract).
inline bool same_result(float a, float b) {
  return (a != a && b != b) || float_bits(a) == float_bits(b);
}

#endif
