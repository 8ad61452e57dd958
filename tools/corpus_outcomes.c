/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * Prints the model's outcome (status, result bits, step count) for every
 * input of a corpus file, or for N random inputs. tools/corpus_power.sh
 * builds it twice, once exactly as the tests build the model and once with
 * contraction (-ffp-contract=fast -march=native), and counts the inputs whose
 * outcome the contracted build gets wrong.
 *
 *   corpus_outcomes FILE          one line per corpus input
 *   corpus_outcomes random N SEED one line per random input (M in [-2pi, 2pi],
 *                                 e in [0, 0.99], limit 100, tolerance 0)
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "float_bits.h"
#include "kepler_model.h"


static void print_outcome(float m, float e, int32_t limit, int32_t tolerance) {
  struct model_outcome o = model_solve(m, model_capped_eccentricity(e), limit, tolerance);
  if (o.value != o.value) o.value = float_from_bits(0x7fc00000u); /* any NaN */
  printf("%08x %08x %d %d -> %d %08x %d\n", float_bits(m), float_bits(e), limit, tolerance,
         o.solved, float_bits(o.value), o.steps);
}

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "random") == 0) {
    const long n = atol(argv[2]);
    uint64_t state = strtoull(argv[3], NULL, 0);
    for (long i = 0; i < n; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      const double u = (double)(state >> 11) * 0x1p-53;
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      const double v = (double)(state >> 11) * 0x1p-53;
      print_outcome((float)(-6.283185307179586 + 12.566370614359172 * u), (float)(0.99 * v), 100, 0);
    }
    return 0;
  }
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE | %s random N SEED\n", argv[0], argv[0]);
    return 2;
  }
  FILE *file = fopen(argv[1], "r");
  if (!file) { perror(argv[1]); return 1; }
  char line[512];
  while (fgets(line, sizeof line, file)) {
    unsigned m, e;
    int limit, tolerance;
    if (line[0] == '#' || sscanf(line, "%x %x %d %d", &m, &e, &limit, &tolerance) != 4) continue;
    print_outcome(float_from_bits(m), float_from_bits(e), limit, tolerance);
  }
  fclose(file);
  return 0;
}
