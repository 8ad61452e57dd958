// SPDX-License-Identifier: BSD-3-Clause
// The choice of implementation, in one place: the CPU's features (cpuid and
// xgetbv) against each implementation's requirement, in the order of
// kImplementations. The CPU is looked at once. Where the toolchain and C
// library have GNU indirect functions (glibc; the build defines
// TRUEANOMALY_IFUNC=1), the loader binds the entries' calls when the library
// is loaded, and the library keeps no variable of its own. Elsewhere (musl,
// for one) each of the three bindings is made on its first call and kept in
// an atomic pointer: threads that race to make it compute the same
// function, and every later call reads it.
//
// The caller's floating-point mode and the eccentricity are each
// implementation's own business (drivers/choose_driver.h): an
// implementation hands what its kernels cannot do to the plain one.
#include "dispatch.h"

#if TRUEANOMALY_VECTOR_PATHS && !defined(__x86_64__)
#error "the vector paths are x86-64 code: build them only for x86-64"
#endif
#if TRUEANOMALY_VECTOR_PATHS && !TRUEANOMALY_IFUNC
#include <atomic>
#endif

namespace trueanomaly_detail {
namespace {

// The load-time resolvers run before any sanitizer runtime is ready, and at
// -O0 nothing is inlined unless forced: so no instrumentation, no calls, and
// cpuid and xgetbv in inline assembly. They read kImplementations, which
// the loader has relocated by then: an object's relative relocations come
// before its indirect-function ones.
#define TRUEANOMALY_RESOLVER_SAFE \
  __attribute__((always_inline, no_sanitize("address", "undefined", "thread"))) inline
// Clang still adds ThreadSanitizer's function-entry hook under no_sanitize.
#if defined(__has_attribute) && __has_attribute(disable_sanitizer_instrumentation)
#define TRUEANOMALY_NO_INSTRUMENTATION __attribute__((disable_sanitizer_instrumentation))
#else
#define TRUEANOMALY_NO_INSTRUMENTATION
#endif

#if TRUEANOMALY_VECTOR_PATHS
TRUEANOMALY_RESOLVER_SAFE void cpuid(unsigned leaf, unsigned *regs) {
  __asm__ volatile("cpuid"
                   : "=a"(regs[0]), "=b"(regs[1]), "=c"(regs[2]), "=d"(regs[3])
                   : "a"(leaf), "c"(0u));
}
#endif

// What the requirements name. XCR0 says which register files the OS saves
// on a context switch: AVX in the CPU is no use unless the OS preserves the
// wide registers. A plain aggregate: a constructor would be a function call,
// instrumented by the sanitizers, in the load-time resolver.
struct CpuFeatures {
  bool avx2_fma;     // AVX2 and FMA, ymm state saved
  bool avx512_fma;   // AVX-512 F, VL, DQ, BW and FMA, zmm and opmask state saved
};

TRUEANOMALY_RESOLVER_SAFE CpuFeatures cpu_features() {
  CpuFeatures f = {false, false};
#if TRUEANOMALY_VECTOR_PATHS
  unsigned r[4];
  cpuid(0, r);
  if (r[0] < 7) return f;
  cpuid(1, r);
  const bool fma = r[2] & (1u << 12), osxsave = r[2] & (1u << 27), avx = r[2] & (1u << 28);
  if (!osxsave || !avx || !fma) return f;
  unsigned xcr0_lo, xcr0_hi;
  __asm__ volatile("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0u));
  const bool ymm_saved = (xcr0_lo & 0x6u) == 0x6u;    // SSE and AVX state
  const bool zmm_saved = (xcr0_lo & 0xe6u) == 0xe6u;  // plus opmask, ZMM_Hi256, Hi16_ZMM
  cpuid(7, r);
  const bool avx2 = r[1] & (1u << 5);
  // F (bit 16), DQ (17), BW (30), VL (31).
  const unsigned avx512 = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
  f.avx2_fma = ymm_saved && avx2;
  f.avx512_fma = f.avx2_fma && zmm_saved && (r[1] & avx512) == avx512;
#if TRUEANOMALY_DISPATCH_WITHOUT_AVX512
  // For measurements only (tools/placement_spread.sh): the choice of a CPU
  // without AVX-512, so that the array entry runs the AVX2 path. No build
  // of the project sets it.
  f.avx512_fma = false;
#endif
#endif
  return f;
}

TRUEANOMALY_RESOLVER_SAFE bool meets(const CpuFeatures &f, CpuRequirement requirement) {
  switch (requirement) {
    case CpuRequirement::none: return true;
    case CpuRequirement::avx2_fma: return f.avx2_fma;
    case CpuRequirement::avx512_fma: return f.avx512_fma;
  }
  return false;
}

// The last implementation of the list whose requirement this CPU meets.
TRUEANOMALY_RESOLVER_SAFE const Implementation *widest() {
  const CpuFeatures f = cpu_features();
  const Implementation *best = kImplementations[0];
  for (const Implementation *implementation : kImplementations)
    if (meets(f, implementation->requirement)) best = implementation;
  return best;
}

}  // namespace

bool available(const Implementation &implementation) {
  return meets(cpu_features(), implementation.requirement);
}

const Implementation &best_implementation() { return *widest(); }

}  // namespace trueanomaly_detail

#if !TRUEANOMALY_VECTOR_PATHS  // the plain implementation alone: nothing to choose

namespace trueanomaly_detail {
int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance) {
  return kPlain.convert_array(in, count, e, out, max_iterations, tolerance);
}
int32_t convert_elements_best(const float *in, const float *eccentricities, int32_t e_step,
                              int32_t count, float *out, int32_t max_iterations,
                              int32_t tolerance, bool keep_going) {
  return kPlain.convert_elements(in, eccentricities, e_step, count, out, max_iterations,
                                 tolerance, keep_going);
}
float solve_one_best(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance) {
  return kPlain.solve_one(mean_anomaly, eccentricity, max_iterations, tolerance);
}
}  // namespace trueanomaly_detail

#elif TRUEANOMALY_IFUNC
// Load-time resolvers. They run while the loader relocates the library,
// before any sanitizer runtime is ready, so they call nothing but inline code.
extern "C" {
__attribute__((no_sanitize("address", "undefined", "thread"), visibility("hidden")))
TRUEANOMALY_NO_INSTRUMENTATION
trueanomaly_detail::ConvertFn trueanomaly_resolve_convert(void) {
  return trueanomaly_detail::widest()->convert_array;
}

__attribute__((no_sanitize("address", "undefined", "thread"), visibility("hidden")))
TRUEANOMALY_NO_INSTRUMENTATION
trueanomaly_detail::ElementsFn trueanomaly_resolve_elements(void) {
  return trueanomaly_detail::widest()->convert_elements;
}

__attribute__((no_sanitize("address", "undefined", "thread"), visibility("hidden")))
TRUEANOMALY_NO_INSTRUMENTATION
trueanomaly_detail::SolveOneFn trueanomaly_resolve_solve_one(void) {
  return trueanomaly_detail::widest()->solve_one;
}
}

namespace trueanomaly_detail {
int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance)
    __attribute__((ifunc("trueanomaly_resolve_convert")));
int32_t convert_elements_best(const float *in, const float *eccentricities, int32_t e_step,
                              int32_t count, float *out, int32_t max_iterations,
                              int32_t tolerance, bool keep_going)
    __attribute__((ifunc("trueanomaly_resolve_elements")));
float solve_one_best(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance) __attribute__((ifunc("trueanomaly_resolve_solve_one")));
}  // namespace trueanomaly_detail

#else  // no indirect functions: each binding made on its first call

namespace trueanomaly_detail {
namespace {

// best_implementation()'s function `member`, chosen on the first call that
// finds *slot empty and kept there. Relaxed order suffices: the pointer is
// the whole of what is shared, and it points to code, which no thread
// writes.
template <class Fn>
inline Fn bound_once(std::atomic<Fn> *slot, Fn Implementation::*member) {
  Fn fn = slot->load(std::memory_order_relaxed);
  if (__builtin_expect(fn == nullptr, 0)) {
    fn = widest()->*member;
    slot->store(fn, std::memory_order_relaxed);
  }
  return fn;
}

std::atomic<ConvertFn> g_convert_array{nullptr};
std::atomic<ElementsFn> g_convert_elements{nullptr};
std::atomic<SolveOneFn> g_solve_one{nullptr};

}  // namespace

int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance) {
  return bound_once(&g_convert_array, &Implementation::convert_array)(in, count, e, out,
                                                                      max_iterations, tolerance);
}

int32_t convert_elements_best(const float *in, const float *eccentricities, int32_t e_step,
                              int32_t count, float *out, int32_t max_iterations,
                              int32_t tolerance, bool keep_going) {
  return bound_once(&g_convert_elements, &Implementation::convert_elements)(
      in, eccentricities, e_step, count, out, max_iterations, tolerance, keep_going);
}

float solve_one_best(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance) {
  return bound_once(&g_solve_one, &Implementation::solve_one)(mean_anomaly, eccentricity,
                                                              max_iterations, tolerance);
}

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_IFUNC
