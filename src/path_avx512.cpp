// The vectorised path for AVX-512F: lanes of 8 (one zmm of doubles), four
// groups side by side, as on AVX2 (the same latencies to cover, and twice the
// registers to do it). Same source as the AVX2 path, compiled with -mavx512f -mfma.
#include "kepler_lanes.h"
#include "vector_paths.h"

namespace trueanomaly_detail {

int32_t convert_array_avx512(const float *in, int32_t count, float e, float *out,
                             int32_t max_iterations, int32_t tolerance) {
  return convert_array_lanes<8, 4>(in, count, e, out, max_iterations, tolerance);
}

}  // namespace trueanomaly_detail
