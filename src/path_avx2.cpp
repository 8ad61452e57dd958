// The vectorised path for AVX2: lanes of 4 (one ymm of doubles), four groups
// side by side. Compiled with -mavx2 -mfma -ffp-contract=off; reached only on CPUs
// that have it.
#include "kepler_lanes.h"
#include "vector_paths.h"

namespace trueanomaly_detail {

int32_t convert_array_avx2(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance) {
  return convert_array_lanes<4, 4>(in, count, e, out, max_iterations, tolerance);
}

}  // namespace trueanomaly_detail
