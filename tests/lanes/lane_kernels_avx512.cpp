// The lane kernels compiled with the AVX-512 path's flags (lane_kernels.h).
#include "lane_kernels_per_path.h"

namespace lane_kernels {
namespace {

// No 16-lane shape: clang 14's backend cannot compile comparisons of 16
// doubles under -frounding-math with AVX-512 enabled; the library uses 8.
const Shape kShapes[] = {
    chosen_driver<8, 4>("8x4"),
    chosen_driver<8, 1>("8x1"),
    forced_one_step<8, 4>("8x4_one_step"),
};

}  // namespace

extern const Kernels kAvx512Kernels = {trueanomaly_detail::Path::avx512, "avx512", 8,
                                       &sincos_array<8>, &atan2_array<8>,
                                       kShapes, sizeof kShapes / sizeof kShapes[0]};

}  // namespace lane_kernels
