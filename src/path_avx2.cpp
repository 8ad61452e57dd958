// SPDX-License-Identifier: BSD-3-Clause
// The AVX2 implementation: the drivers of src/drivers/ with four lanes,
// compiled with -mavx2 -mfma (cmake/VectorPaths.cmake), and the scalar
// kernel solve_one_avx2. Reached only on CPUs with both (dispatch.cpp).
#include "path_avx2.h"

#include "drivers/choose_driver.h"
#include "solve_one.h"

namespace trueanomaly_detail {
namespace {

int32_t convert_array_avx2(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance) {
  return convert_array_on<kAvx2Shape>(in, count, e, out, max_iterations, tolerance);
}

int32_t convert_elements_avx2(const float *in, const float *eccentricities, int32_t e_step,
                              int32_t count, float *out, int32_t max_iterations,
                              int32_t tolerance, bool keep_going) {
  return convert_elements_on<kAvx2Shape>(in, eccentricities, e_step, count, out,
                                         max_iterations, tolerance, keep_going);
}

}  // namespace

extern const Implementation kAvx2 = {
    "avx2", "AVX2", CpuRequirement::avx2_fma, kAvx2Shape,
    convert_array_avx2, convert_elements_avx2, solve_one_avx2};

}  // namespace trueanomaly_detail
