// SPDX-License-Identifier: BSD-3-Clause
// One implementation of the conversions per instruction set, each a named
// object written out in its own file (path_plain.cpp, path_avx2.cpp,
// path_avx512.cpp), and the one list of them, narrowest first, that the
// dispatcher, the tests, the fuzzer and the benchmark iterate.
//
// Adding an instruction set: a src/path_<name>.h/.cpp pair like
// path_avx2's, its object in kImplementations, its requirement in
// dispatch.cpp's CPU check, and one trueanomaly_vector_path() line with its
// compiler flags in cmake/VectorPaths.cmake. A test holds the list to the
// paths CMake built.
//
// Internal: nothing here is exported.
#ifndef TRUEANOMALY_IMPLEMENTATION_H
#define TRUEANOMALY_IMPLEMENTATION_H

#include <stddef.h>
#include <stdint.h>

namespace trueanomaly_detail {

// The array conversion with the array entry's semantics (index order; the
// first element that reaches the limit returns -1 with it and every later
// output untouched; in place allowed), after the entry's checks: count > 0,
// both addresses valid, the eccentricity capped. Any eccentricity and any
// floating-point mode: an implementation hands what its kernels cannot do
// to the plain one.
using ConvertFn = int32_t (*)(const float *in, int32_t count, float eccentricity, float *out,
                              int32_t max_iterations, int32_t tolerance);

// The Python module's conversion (elements.h): element i with
// eccentricities[i * e_step] (e_step 0: one for all, 1: one each; not yet
// capped), count > 0. Returns the index of the first element that reached
// the limit, or count. keep_going false: the call stops there, it and later
// outputs untouched; true: such elements are stored as NaN and the rest
// converted.
using ElementsFn = int32_t (*)(const float *in, const float *eccentricities, int32_t e_step,
                               int32_t count, float *out, int32_t max_iterations,
                               int32_t tolerance, bool keep_going);

// The scalar entry's result for one element with a capped eccentricity: the
// true anomaly, or -1.0f when the limit is reached (solve_one.h).
using SolveOneFn = float (*)(float mean_anomaly, float eccentricity, int32_t max_iterations,
                             int32_t tolerance);

// What the CPU must have, and the OS must save the registers of, to run an
// implementation (dispatch.cpp checks it with cpuid and xgetbv).
// avx512_fma: AVX-512 F, VL, DQ and BW (every AVX-512 CPU but Xeon Phi), so
// that a build may use the three beyond F (cmake/VectorPaths.cmake).
enum class CpuRequirement { none, avx2_fma, avx512_fma };

// How a vector implementation's drivers are laid out (drivers/): lanes is
// the doubles per register, W; each block holds groups of W lanes, side by
// side so that the CPU overlaps their chains. Measured per instruction set.
//   straggler_groups  per block of the straggler driver
//   block_groups      per block of the block driver
//   long_call_groups  per block of both block drivers in calls of
//                     kLongCallMinCount elements or more (0: such calls as
//                     shorter ones, and no two-step block driver)
struct DriverShape {
  int lanes, straggler_groups, block_groups, long_call_groups;
};

struct Implementation {
  const char *name;   // "plain", "avx2", ...: as CMake and the tests name it
  const char *label;  // "plain", "AVX2", ...: for tables and messages
  CpuRequirement requirement;
  DriverShape shape;  // the plain implementation: one lane, one group
  ConvertFn convert_array;
  ElementsFn convert_elements;
  SolveOneFn solve_one;  // the scalar entry's solve wherever this one runs
};

extern const Implementation kPlain;   // path_plain.cpp: libm, one element at a time, any CPU
#if TRUEANOMALY_VECTOR_PATHS
extern const Implementation kAvx2;    // path_avx2.cpp
extern const Implementation kAvx512;  // path_avx512.cpp
#endif

// Every implementation this build has, narrowest first: a CPU that runs one
// runs every earlier one, and the dispatcher takes the last it can run.
inline constexpr const Implementation *kImplementations[] = {
    &kPlain,
#if TRUEANOMALY_VECTOR_PATHS
    &kAvx2,
    &kAvx512,
#endif
};

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_IMPLEMENTATION_H
