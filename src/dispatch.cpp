// The choice of path, in one place: CPU features (cpuid and xgetbv), the
// caller's floating-point state and the eccentricity decide which code runs.
// The CPU is looked at once, when the library is loaded, through GNU
// indirect functions: the loader fills in the chosen function, so the
// library keeps no variable of its own.
#include <cpuid.h>
#include <xmmintrin.h>

#include "array_paths.h"
#include "solve.h"
#include "vector_paths.h"

namespace trueanomaly_detail {

namespace {

// Used by the load-time resolvers, which run before any sanitizer runtime is
// ready: no instrumentation, and inlined into them.
#define TRUEANOMALY_RESOLVER_SAFE \
  __attribute__((always_inline, no_sanitize("address", "undefined", "thread"))) inline

// XCR0 says which register files the OS saves on a context switch: a CPU
// with AVX is useless to us if the OS does not preserve the wide registers.
TRUEANOMALY_RESOLVER_SAFE unsigned long long read_xcr0() {
  unsigned eax, edx;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<unsigned long long>(edx) << 32) | eax;
}

struct CpuFeatures {
  bool avx2 = false;
  bool avx512f = false;
};

TRUEANOMALY_RESOLVER_SAFE CpuFeatures detect() {
  CpuFeatures f;
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return f;
  const unsigned long long xcr0 = read_xcr0();
  const bool ymm_saved = (xcr0 & 0x6) == 0x6;    // SSE and AVX state
  const bool zmm_saved = (xcr0 & 0xe6) == 0xe6;  // plus opmask, ZMM_Hi256, Hi16_ZMM
  if (__get_cpuid_max(0, nullptr) < 7) return f;
  __cpuid_count(7, 0, a, b, c, d);
  f.avx2 = ymm_saved && (b & bit_AVX2);
  f.avx512f = f.avx2 && zmm_saved && (b & bit_AVX512F);
  return f;
}

// The vector paths assume round-to-nearest, no flush-to-zero, no
// denormals-are-zero and no unmasked exception; anything else goes to the
// plain solve, which follows whatever mode the caller chose.
bool default_fp_environment() {
  return (_mm_getcsr() & 0xffc0u) == 0x1f80u;
}

int32_t convert_plain(const float *in, int32_t count, float e, float *out,
                      int32_t max_iterations, int32_t tolerance) {
  for (int32_t i = 0; i < count; ++i) {
    float result;
    // Element i is read before output i is written, so in-place use is safe.
    if (!trueanomaly_solve(in[i], e, max_iterations, tolerance, &result)) return -1;
    out[i] = result;
  }
  return 0;
}

using ConvertFn = int32_t (*)(const float *, int32_t, float, float *, int32_t, int32_t);
using SolveOneFn = bool (*)(float, float, int32_t, int32_t, float *);

template <ConvertFn vector_path>
int32_t convert_guarded(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  if (eccentricity_in_vector_domain(e) && default_fp_environment())
    return vector_path(in, count, e, out, max_iterations, tolerance);
  return convert_plain(in, count, e, out, max_iterations, tolerance);
}

template <SolveOneFn vector_path>
bool solve_one_guarded(float m, float e, int32_t max_iterations, int32_t tolerance,
                       float *result) {
  if (eccentricity_in_vector_domain(e) && default_fp_environment())
    return vector_path(m, e, max_iterations, tolerance, result);
  return trueanomaly_solve(m, e, max_iterations, tolerance, result);
}

}  // namespace

bool path_available(Path path) {
  const CpuFeatures f = detect();
  switch (path) {
    case Path::plain: return true;
    case Path::avx2: return f.avx2;
    case Path::avx512: return f.avx512f;
  }
  return false;
}

Path best_path() {
  const CpuFeatures f = detect();
  return f.avx512f ? Path::avx512 : f.avx2 ? Path::avx2 : Path::plain;
}

int32_t convert_array(Path path, const float *in, int32_t count, float e, float *out,
                      int32_t max_iterations, int32_t tolerance) {
  switch (path) {
    case Path::avx2:
      return convert_guarded<convert_array_avx2>(in, count, e, out, max_iterations, tolerance);
    case Path::avx512:
      return convert_guarded<convert_array_avx512>(in, count, e, out, max_iterations, tolerance);
    case Path::plain: break;
  }
  return convert_plain(in, count, e, out, max_iterations, tolerance);
}

bool solve_one(Path path, float m, float e, int32_t max_iterations, int32_t tolerance,
               float *result) {
  switch (path) {
    case Path::avx2:
      return solve_one_guarded<solve_one_avx2>(m, e, max_iterations, tolerance, result);
    case Path::avx512:
      return solve_one_guarded<solve_one_avx512>(m, e, max_iterations, tolerance, result);
    case Path::plain: break;
  }
  return trueanomaly_solve(m, e, max_iterations, tolerance, result);
}

}  // namespace trueanomaly_detail

// Load-time resolvers. They run while the loader relocates the library, before
// any sanitizer runtime is ready, so they call nothing but inline code.
extern "C" {
__attribute__((no_sanitize("address", "undefined", "thread")))
static trueanomaly_detail::ConvertFn trueanomaly_resolve_convert(void) {
  using namespace trueanomaly_detail;
  const CpuFeatures f = detect();
  if (f.avx512f) return convert_guarded<convert_array_avx512>;
  if (f.avx2) return convert_guarded<convert_array_avx2>;
  return convert_plain;
}

__attribute__((no_sanitize("address", "undefined", "thread")))
static trueanomaly_detail::SolveOneFn trueanomaly_resolve_solve_one(void) {
  using namespace trueanomaly_detail;
  const CpuFeatures f = detect();
  if (f.avx512f) return solve_one_guarded<solve_one_avx512>;
  if (f.avx2) return solve_one_guarded<solve_one_avx2>;
  return trueanomaly_solve;
}
}

namespace trueanomaly_detail {
int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance)
    __attribute__((ifunc("trueanomaly_resolve_convert")));
bool solve_one_best(float m, float e, int32_t max_iterations, int32_t tolerance,
                    float *result) __attribute__((ifunc("trueanomaly_resolve_solve_one")));
}  // namespace trueanomaly_detail
