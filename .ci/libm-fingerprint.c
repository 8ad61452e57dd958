/* SPDX-License-Identifier: BSD-3-Clause */
/* Prints a hash of libm's sin, cos and atan2 over a million arguments in
   [-6.3, 6.3) and their halves, the range the library's solve works in.
   Two runs print different hashes when they ran different libm code: glibc
   picks its FMA or its plain variants by CPU (and by GLIBC_TUNABLES), and
   the two differ in the last bit for a few arguments in ten thousand. Built
   with -fno-builtin, so every call reaches libm. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static uint64_t mix(uint64_t h, double v) {
  uint64_t bits;
  memcpy(&bits, &v, sizeof bits);
  return (h ^ bits) * 0x100000001b3u;
}

int main(void) {
  uint64_t h = 0xcbf29ce484222325u;
  uint32_t state = 1;
  for (int i = 0; i < 1000000; ++i) {
    state = state * 1664525u + 1013904223u;
    /* f in [2, 4) by its bits, then x in [-6.3, 6.3) */
    const uint32_t bits = (state >> 9) | 0x40000000u;
    float f;
    memcpy(&f, &bits, sizeof f);
    const double x = ((double)f - 3.0) * 6.3;
    h = mix(h, sin(x));
    h = mix(h, cos(x));
    h = mix(h, atan2(sin(x / 2.0), 0.3 * cos(x / 2.0)));
  }
  printf("%016llx\n", (unsigned long long)h);
  return 0;
}
