// SPDX-License-Identifier: BSD-3-Clause
// The array paths, in one table. Everything that lists the paths — the enum,
// the names, the entry declarations, the dispatcher's switches and CPU check,
// and the lists that tests, fuzzer and benchmark iterate — is derived from
// TRUEANOMALY_VECTOR_PATH_TABLE. Adding a path is one line here, one file
// src/path_<name>.cpp (three lines, as path_avx2.cpp) and one line in
// cmake/VectorPaths.cmake with its compiler flags; CMake checks that the two
// lists agree.
//
// Internal: nothing here is exported.
#ifndef TRUEANOMALY_PATHS_H
#define TRUEANOMALY_PATHS_H

#include <stddef.h>
#include <stdint.h>

#include "kernels/error_budget.h"

// One row per vector path, narrowest first: a CPU that runs a path runs
// every earlier one (the dispatcher takes the last row the CPU satisfies).
//   X(name, label, lanes, groups, block_groups, long_call_groups, requirement)
//   name          path_<name>.cpp defines convert_array_<name>
//   label         how people write it, for tables and messages
//   lanes         doubles per vector register: the lane width W
//   groups        independent groups of W lanes per block, K, of the straggler
//                 driver (drivers/straggler_driver.h; its window needs a power of 2)
//   block_groups  the same for the block driver (drivers/block_driver.h), measured
//                 best per path: more groups give the CPU more independent
//                 work, and the compiler more to keep in registers
//   long_call_groups
//                 the same for calls of 512 elements or more, where the
//                 one- and two-step rules run blocks of this many groups
//                 (drivers/choose_driver.h); 0: such calls as shorter ones, and no
//                 two-step block driver
//   requirement   the CpuFeatures member that must be true (dispatch.cpp)
// Only x86-64 builds have vector paths (cmake/VectorPaths.cmake).
#if TRUEANOMALY_VECTOR_PATHS
#define TRUEANOMALY_VECTOR_PATH_TABLE(X)   \
  X(avx2, "AVX2", 4, 4, 5, 8, avx2_fma)    \
  X(avx512, "AVX-512", 8, 4, 4, 8, avx512f_fma)
#else
#define TRUEANOMALY_VECTOR_PATH_TABLE(X)
#endif

namespace trueanomaly_detail {

// The plain path (the libm solve, one element at a time, any CPU) and the
// vector paths of the table.
enum class Path : int {
  plain = 0,
#define TRUEANOMALY_PATH_ENUM(name, label, lanes, groups, block_groups, long_call_groups, \
                              requirement)                                               \
  name,
  TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_PATH_ENUM)
#undef TRUEANOMALY_PATH_ENUM
};

struct PathInfo {
  Path path;
  const char *name;   // "plain", "avx2", ...
  const char *label;  // "plain", "AVX2", ...
  int lanes, groups, block_groups, long_call_groups;  // 1, 1, 1 and 0 for the plain path
};

// Every path this build has, narrowest first; kPaths[i].path == Path(i).
constexpr PathInfo kPaths[] = {
    {Path::plain, "plain", "plain", 1, 1, 1, 0},
#define TRUEANOMALY_PATH_INFO(name, label, lanes, groups, block_groups, long_call_groups, \
                              requirement)                                               \
  {Path::name, #name, label, lanes, groups, block_groups, long_call_groups},
    TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_PATH_INFO)
#undef TRUEANOMALY_PATH_INFO
};
constexpr size_t kPathCount = sizeof kPaths / sizeof kPaths[0];

// Inline functions of this header live in an anonymous namespace: each
// translation unit, whatever instruction set it is compiled for, keeps its
// own copy (see solve.h).
namespace {
constexpr const PathInfo &path_info(Path p) { return kPaths[static_cast<int>(p)]; }
constexpr const char *path_name(Path p) { return path_info(p).name; }
}  // namespace

// The conversion on one path, with the array entry's semantics (index order;
// the first failing element returns -1 with it and every later output
// untouched; in place allowed) after the entry's checks: count > 0, both
// addresses valid, the eccentricity capped. A vector path's caller must also
// have checked the CPU, the caller's MXCSR and eccentricity_in_vector_domain
// (dispatch.cpp does); path_plain.cpp's has no precondition.
using ConvertFn = int32_t (*)(const float *in, int32_t count, float eccentricity, float *out,
                              int32_t max_iterations, int32_t tolerance);

int32_t convert_array_plain(const float *in, int32_t count, float eccentricity, float *out,
                            int32_t max_iterations, int32_t tolerance);
#define TRUEANOMALY_PATH_DECLARE(name, label, lanes, groups, block_groups, long_call_groups, \
                                 requirement)                                               \
  int32_t convert_array_##name(const float *in, int32_t count, float eccentricity,         \
                               float *out, int32_t max_iterations, int32_t tolerance);
TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_PATH_DECLARE)
#undef TRUEANOMALY_PATH_DECLARE

// The conversions behind the Python module's ufunc (elements.cpp): the
// same preconditions (count > 0, the caller's MXCSR checked), a choice of
// failure handling, and the index of the first element that reached the
// limit, or count, as result. keep_going false: the call stops there, it
// and later outputs untouched; true: such elements are stored as NaN and
// the rest converted.
//   one orbit    one eccentricity, capped and (vector paths) within
//                eccentricity_in_vector_domain
//   per element  eccentricities[i] for element i, not yet capped; any value
using OneOrbitFn = int32_t (*)(const float *in, int32_t count, float eccentricity, float *out,
                               int32_t max_iterations, int32_t tolerance, bool keep_going);
using PerElementFn = int32_t (*)(const float *in, const float *eccentricities, int32_t count,
                                 float *out, int32_t max_iterations, int32_t tolerance,
                                 bool keep_going);

int32_t convert_one_orbit_plain(const float *in, int32_t count, float eccentricity, float *out,
                                int32_t max_iterations, int32_t tolerance, bool keep_going);
int32_t convert_per_element_plain(const float *in, const float *eccentricities, int32_t count,
                                  float *out, int32_t max_iterations, int32_t tolerance,
                                  bool keep_going);
#define TRUEANOMALY_PATH_DECLARE_ELEMENTS(name, label, lanes, groups, block_groups,        \
                                          long_call_groups, requirement)                     \
  int32_t convert_one_orbit_##name(const float *in, int32_t count, float eccentricity,       \
                                   float *out, int32_t max_iterations, int32_t tolerance,    \
                                   bool keep_going);                                         \
  int32_t convert_per_element_##name(const float *in, const float *eccentricities,           \
                                     int32_t count, float *out, int32_t max_iterations,      \
                                     int32_t tolerance, bool keep_going);
TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_PATH_DECLARE_ELEMENTS)
#undef TRUEANOMALY_PATH_DECLARE_ELEMENTS

// |e| <= kVectorMaxE (kernels/error_budget.h), which the vector paths'
// rounding tests rely on. NaN is outside.
namespace {
inline bool eccentricity_in_vector_domain(float e) { return e >= -kVectorMaxE && e <= kVectorMaxE; }
}  // namespace

}  // namespace trueanomaly_detail

// In path_<name>.cpp: defines convert_array_<name> and the ufunc's two
// conversions as the lane drivers with the table's width and grouping for
// that path.
#define TRUEANOMALY_DEFINE_VECTOR_PATH(path_name)                                             \
  namespace trueanomaly_detail {                                                              \
  constexpr PathInfo path_name##_info = path_info(Path::path_name);                           \
  int32_t convert_array_##path_name(const float *in, int32_t count, float e, float *out,      \
                                    int32_t max_iterations, int32_t tolerance) {              \
    return convert_array_lanes<path_name##_info.lanes, path_name##_info.groups,               \
                               path_name##_info.block_groups,                                 \
                               path_name##_info.long_call_groups>(                             \
        in, count, e, out, max_iterations, tolerance);                                        \
  }                                                                                           \
  int32_t convert_one_orbit_##path_name(const float *in, int32_t count, float e, float *out,  \
                                        int32_t max_iterations, int32_t tolerance,            \
                                        bool keep_going) {                                    \
    return convert_one_orbit_lanes<path_name##_info.lanes, path_name##_info.groups,           \
                                   path_name##_info.block_groups,                             \
                                   path_name##_info.long_call_groups>(                         \
        in, count, e, out, max_iterations, tolerance, keep_going);                            \
  }                                                                                           \
  int32_t convert_per_element_##path_name(const float *in, const float *eccentricities,       \
                                          int32_t count, float *out, int32_t max_iterations,  \
                                          int32_t tolerance, bool keep_going) {               \
    return convert_per_element_lanes<path_name##_info.lanes, path_name##_info.groups>(        \
        in, eccentricities, count, out, max_iterations, tolerance, keep_going);               \
  }                                                                                           \
  }

#endif  // TRUEANOMALY_PATHS_H
