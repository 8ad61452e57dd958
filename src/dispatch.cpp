// The choice of path, in one place: CPU features (cpuid and xgetbv), the
// caller's floating-point state and the eccentricity decide which code runs.
// The CPU is looked at once, when the library is loaded, through GNU
// indirect functions: the loader fills in the chosen function, so the
// library keeps no variable of its own.
//
// The vector paths exist on x86-64 only (the build defines
// TRUEANOMALY_VECTOR_PATHS there); elsewhere every call is the plain solve.
#include "array_paths.h"
#include "solve.h"

#if TRUEANOMALY_VECTOR_PATHS
#if !defined(__x86_64__)
#error "the vector paths are x86-64 code: build them only for x86-64"
#endif
#include <xmmintrin.h>

#include "vector_paths.h"
#endif

namespace trueanomaly_detail {

namespace {

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

}  // namespace
}  // namespace trueanomaly_detail

#if TRUEANOMALY_VECTOR_PATHS

namespace trueanomaly_detail {
namespace {

// The load-time resolvers run before any sanitizer runtime is ready, and at
// -O0 nothing is inlined unless forced: so no instrumentation, no calls, and
// cpuid and xgetbv in inline assembly.
#define TRUEANOMALY_RESOLVER_SAFE \
  __attribute__((always_inline, no_sanitize("address", "undefined", "thread"))) inline
// Clang still adds ThreadSanitizer's function-entry hook under no_sanitize.
#if defined(__has_attribute) && __has_attribute(disable_sanitizer_instrumentation)
#define TRUEANOMALY_NO_INSTRUMENTATION __attribute__((disable_sanitizer_instrumentation))
#else
#define TRUEANOMALY_NO_INSTRUMENTATION
#endif

TRUEANOMALY_RESOLVER_SAFE void cpuid(unsigned leaf, unsigned *regs) {
  __asm__ volatile("cpuid"
                   : "=a"(regs[0]), "=b"(regs[1]), "=c"(regs[2]), "=d"(regs[3])
                   : "a"(leaf), "c"(0u));
}

// The widest vector path this CPU and OS can run (both need FMA too). XCR0
// says which register files the OS saves on a context switch: AVX in the CPU
// is no use unless the OS preserves the wide registers.
TRUEANOMALY_RESOLVER_SAFE Path widest_path() {
  unsigned r[4];
  cpuid(0, r);
  if (r[0] < 7) return Path::plain;
  cpuid(1, r);
  const bool fma = r[2] & (1u << 12), osxsave = r[2] & (1u << 27), avx = r[2] & (1u << 28);
  if (!osxsave || !avx || !fma) return Path::plain;
  unsigned xcr0_lo, xcr0_hi;
  __asm__ volatile("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0u));
  const bool ymm_saved = (xcr0_lo & 0x6u) == 0x6u;    // SSE and AVX state
  const bool zmm_saved = (xcr0_lo & 0xe6u) == 0xe6u;  // plus opmask, ZMM_Hi256, Hi16_ZMM
  cpuid(7, r);
  const bool avx2 = r[1] & (1u << 5), avx512f = r[1] & (1u << 16);
  if (!ymm_saved || !avx2) return Path::plain;
  return zmm_saved && avx512f ? Path::avx512 : Path::avx2;
}

// The vector paths assume round-to-nearest, no flush-to-zero, no
// denormals-are-zero and no unmasked exception; anything else goes to the
// plain solve, which follows whatever mode the caller chose.
bool default_fp_environment() {
  return (_mm_getcsr() & 0xffc0u) == 0x1f80u;
}

using ConvertFn = int32_t (*)(const float *, int32_t, float, float *, int32_t, int32_t);

template <ConvertFn vector_path>
int32_t convert_guarded(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  if (eccentricity_in_vector_domain(e) && default_fp_environment())
    return vector_path(in, count, e, out, max_iterations, tolerance);
  return convert_plain(in, count, e, out, max_iterations, tolerance);
}

}  // namespace

// Paths are ordered: a CPU that runs one runs every narrower one.
bool path_available(Path path) {
  return static_cast<int>(path) <= static_cast<int>(widest_path());
}

Path best_path() { return widest_path(); }

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

}  // namespace trueanomaly_detail

// Load-time resolver. It runs while the loader relocates the library, before
// any sanitizer runtime is ready, so it calls nothing but inline code.
extern "C" {
__attribute__((no_sanitize("address", "undefined", "thread"), visibility("hidden")))
TRUEANOMALY_NO_INSTRUMENTATION
trueanomaly_detail::ConvertFn trueanomaly_resolve_convert(void) {
  using namespace trueanomaly_detail;
  switch (widest_path()) {
    case Path::avx512: return convert_guarded<convert_array_avx512>;
    case Path::avx2: return convert_guarded<convert_array_avx2>;
    case Path::plain: break;
  }
  return convert_plain;
}
}

namespace trueanomaly_detail {
int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance)
    __attribute__((ifunc("trueanomaly_resolve_convert")));
}  // namespace trueanomaly_detail

#else  // no vector paths: the plain solve, whatever the CPU

namespace trueanomaly_detail {

bool path_available(Path path) { return path == Path::plain; }

Path best_path() { return Path::plain; }

int32_t convert_array(Path, const float *in, int32_t count, float e, float *out,
                      int32_t max_iterations, int32_t tolerance) {
  return convert_plain(in, count, e, out, max_iterations, tolerance);
}

int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance) {
  return convert_plain(in, count, e, out, max_iterations, tolerance);
}

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_VECTOR_PATHS
