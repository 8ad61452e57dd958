/* SPDX-License-Identifier: BSD-3-Clause */
/* Builds against an installed libtrueanomaly (through its CMake package or
 * pkg-config), prints two worked examples and fails unless they are exact. */
#include <stdio.h>
#include <string.h>

#include <trueanomaly.h>

static int same_bits(float a, float b) { return memcmp(&a, &b, sizeof a) == 0; }

int main(void) {
  const float a = trueanomaly(1.0f, 0.5f, 100, 0);
  const float in[1] = {7.0f};
  float b = 0.0f;
  const int32_t status = trueanomaly_array(in, 1, 0.0f, &b, 100, 0);
  printf("trueanomaly(1.0f, 0.5f, 100, 0) = %.9g\n", (double)a);
  printf("trueanomaly_array({7.0f}, 1, 0.0f, ...) = %d, %.9g\n", (int)status, (double)b);
  return same_bits(a, 2.0993011f) && status == 0 && same_bits(b, -5.56637049f) ? 0 : 1;
}
