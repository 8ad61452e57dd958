// The lane kernels compiled with the AVX2 path's flags (lane_kernels.h).
// Besides the path's own shape (4 lanes, 4 groups), the AVX-512 path's
// shapes split into 4-lane halves: the same code, checked on AVX2 CPUs too.
#include "lane_kernels_per_path.h"

namespace lane_kernels {
namespace {

const Shape kShapes[] = {
    chosen_driver<4, 4>("4x4"),
    chosen_driver<4, 1>("4x1"),
    chosen_driver<8, 4>("8x4"),
#if !(defined(__clang__) && defined(__AVX512F__))
    // clang 14 cannot compile comparisons of 16 doubles under -frounding-math
    // with AVX-512 enabled (-march=native): its backend stops.
    chosen_driver<16, 1>("16x1"),
#endif
    forced_one_step<4, 4>("4x4_one_step"),
};

}  // namespace

extern const Kernels kAvx2Kernels = {trueanomaly_detail::Path::avx2, "avx2", 4,
                                     &sincos_array<4>, &atan2_array<4>,
                                     kShapes, sizeof kShapes / sizeof kShapes[0]};

}  // namespace lane_kernels
