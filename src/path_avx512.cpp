// SPDX-License-Identifier: BSD-3-Clause
// The AVX-512 implementation: the drivers of src/drivers/ with eight lanes,
// compiled with -mavx512f -mfma (and, by clang, VL, DQ and BW) from the same
// source as the AVX2 one (cmake/VectorPaths.cmake). Reached only on CPUs
// with AVX-512 F, VL, DQ and BW and FMA (dispatch.cpp),
// which have AVX2 too: the scalar entry keeps the AVX2 kernel, whose chain
// for one element gains nothing from wider registers.
#include "path_avx512.h"

#include "drivers/choose_driver.h"
#include "solve_one.h"

namespace trueanomaly_detail {
namespace {

int32_t convert_array_avx512(const float *in, int32_t count, float e, float *out,
                             int32_t max_iterations, int32_t tolerance) {
  return convert_array_on<kAvx512Shape>(in, count, e, out, max_iterations, tolerance);
}

int32_t convert_elements_avx512(const float *in, const float *eccentricities, int32_t e_step,
                                int32_t count, float *out, int32_t max_iterations,
                                int32_t tolerance, bool keep_going) {
  return convert_elements_on<kAvx512Shape>(in, eccentricities, e_step, count, out,
                                           max_iterations, tolerance, keep_going);
}

}  // namespace

extern const Implementation kAvx512 = {
    "avx512", "AVX-512", CpuRequirement::avx512_fma, kAvx512Shape,
    convert_array_avx512, convert_elements_avx512, solve_one_avx2};

}  // namespace trueanomaly_detail
