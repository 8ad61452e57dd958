/* SPDX-License-Identifier: BSD-3-Clause */
/* Prints the true anomaly around one orbit for several eccentricities, using
 * the array entry once per orbit, then shows how a failed solve is reported. */
#include <stdio.h>

#include "trueanomaly.h"

enum { STEPS = 13 };

int main(void) {
  static const float eccentricities[] = {0.0f, 0.1f, 0.5f, 0.9f, 0.99f};
  enum { ORBITS = sizeof eccentricities / sizeof eccentricities[0] };
  const float two_pi = 6.28318548f;
  float mean[STEPS];
  float nu[ORBITS][STEPS];
  int32_t status[ORBITS];

  for (int i = 0; i < STEPS; ++i) mean[i] = two_pi * (float)i / (float)(STEPS - 1);
  for (int k = 0; k < ORBITS; ++k)
    status[k] = trueanomaly_array(mean, STEPS, eccentricities[k], nu[k], 100, 0);

  printf("libtrueanomaly %d.%d.%d: true anomaly (rad) around one orbit\n",
         TRUEANOMALY_VERSION_MAJOR, TRUEANOMALY_VERSION_MINOR,
         TRUEANOMALY_VERSION_PATCH);
  printf("limit 100, tolerance 0\n\n%12s", "M \\ e");
  for (int k = 0; k < ORBITS; ++k) printf(" %12.2f", (double)eccentricities[k]);
  printf("\n");
  for (int i = 0; i < STEPS; ++i) {
    printf("%12.7f", (double)mean[i]);
    for (int k = 0; k < ORBITS; ++k) printf(" %12.7f", (double)nu[k][i]);
    printf("\n");
  }
  printf("%12s", "status");
  for (int k = 0; k < ORBITS; ++k) printf(" %12d", (int)status[k]);
  printf("\n\n");

  /* A limit of 2 allows one step to pass the test; e = 0.99 at M = 0.2 needs
   * more, so the call stops there with -1 and leaves that output untouched. */
  const float hard[] = {2.0f, 2.5f, 0.2f, 1.0f};
  float out[] = {-9.0f, -9.0f, -9.0f, -9.0f};
  const int32_t s = trueanomaly_array(hard, 4, 0.99f, out, 2, 0);
  printf("e = 0.99, limit 2: status %d, outputs %.8g %.8g %.8g %.8g\n", (int)s,
         (double)out[0], (double)out[1], (double)out[2], (double)out[3]);
  printf("scalar entry, M = 1, e = 0.5: %.9g\n",
         (double)trueanomaly(1.0f, 0.5f, 100, 0));
  int ok = 1;
  for (int k = 0; k < ORBITS; ++k) ok &= status[k] == 0;
  return ok && s == -1 ? 0 : 1;
}
