// The array conversion's implementations and the choice between them.
// Internal: tests call these directly to force each path.
#ifndef TRUEANOMALY_ARRAY_PATHS_H
#define TRUEANOMALY_ARRAY_PATHS_H

#include <stdint.h>

namespace trueanomaly_detail {

enum class Path : int {
  plain = 0,   // the libm solve, one element at a time; any CPU
  avx2 = 1,    // vectorised, AVX2 + FMA
  avx512 = 2,  // vectorised, AVX-512F
};

// True when this CPU and OS can run `path` (cpuid and xgetbv).
bool path_available(Path path);

// The fastest available path.
Path best_path();

// Converts in[0 .. count-1] into out[...] on `path`, which must be available,
// with the array entry's semantics
// (index order; the first failing element returns -1 with it and later
// outputs untouched; in-place allowed), after the entry's argument checks:
// count > 0, both addresses valid, `eccentricity` already capped.
int32_t convert_array(Path path, const float *in, int32_t count,
                      float eccentricity, float *out, int32_t max_iterations,
                      int32_t tolerance);

// What the array entry calls: the best path for this CPU, chosen once when
// the library is loaded. Outside the vector paths' domain (see dispatch.cpp)
// it runs the plain solve.
int32_t convert_array_best(const float *in, int32_t count, float eccentricity,
                           float *out, int32_t max_iterations, int32_t tolerance);

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_ARRAY_PATHS_H
