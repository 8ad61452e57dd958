// SPDX-License-Identifier: BSD-3-Clause
// The caller's floating-point modes the vector kernels run under (x86-64
// only): round to nearest and every exception masked, with flush-to-zero
// (FTZ) and denormals-are-zero (DAZ) set or not. Anything else (a directed
// rounding mode, an unmasked exception) goes to the plain solve, which
// follows whatever mode the caller chose.
//
// Why FTZ and DAZ change no result of the vector code (docs/exactness.md):
// the code runs in the caller's modes, so every float and double operation
// of the solve's pattern that it keeps (the widenings, the products, the
// roundings to float, the float division and subtraction, the step test)
// is the plain solve's own operation under those modes; flushing keeps
// every one of them monotonic, so the rounding tests' two ends still hold
// libm's value between them; and what flushing takes from the kernels' own
// arithmetic is below 2^-1022 in magnitude, far inside their bounds.
//
// Included by translation units compiled for different instruction sets
// (solve_one_avx2.cpp and each path_<name>.cpp): the anonymous namespace
// gives each its own copy, so a build at -O0 cannot link one unit's
// VEX-encoded copy into code that runs on CPUs without AVX.
#ifndef TRUEANOMALY_FP_ENVIRONMENT_H
#define TRUEANOMALY_FP_ENVIRONMENT_H

#if !defined(__x86_64__)
#error "fp_environment.h reads the x86-64 MXCSR"
#endif
#include <xmmintrin.h>

namespace trueanomaly_detail {
namespace {

// MXCSR without its six exception flags, FTZ (bit 15) and DAZ (bit 6):
// every mask set (0x1f80) and the rounding bits zero (to nearest).
inline bool vector_fp_environment() { return (_mm_getcsr() & 0x7f80u) == 0x1f80u; }

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_FP_ENVIRONMENT_H
