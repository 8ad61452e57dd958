/* SPDX-License-Identifier: BSD-3-Clause */
/* Heap-use probe for .ci/checks/40-valgrind.sh: `heap_probe 1` calls both
 * entries many times, `heap_probe 0` does not; otherwise the two runs do the
 * same (one line of output). Under valgrind both must report the same number
 * of allocations: the library allocates nothing. */
#include <stdio.h>
#include <stdlib.h>

#include "trueanomaly.h"

int main(int argc, char **argv) {
  const int call = argc > 1 && atoi(argv[1]) != 0;
  float in[257], out[257];
  double sum = 0.0;
  for (int i = 0; i < 257; ++i) in[i] = -7.0f + 0.055f * (float)i;
  if (call) {
    const float eccentricities[] = {0.0f, 0.3f, 0.9f, 0.99f, 1.5f, -0.5f, -1.5f};
    for (int k = 0; k < 7; ++k) {
      const float e = eccentricities[k];
      sum += trueanomaly_array(in, 257, e, out, 100, 0);
      sum += trueanomaly_array(in, 257, e, out, 2, 0);   /* may fail part-way */
      sum += trueanomaly_array(in, 0, e, NULL, 100, 0);
      sum += trueanomaly_array(NULL, 3, e, out, 100, 0);
      for (int i = 0; i < 257; ++i) sum += trueanomaly(in[i], e, 100, i % 5 - 1);
    }
  }
  printf("checksum %.6g\n", sum);
  return 0;
}
