// SPDX-License-Identifier: BSD-3-Clause
// The choice of path, in one place: CPU features (cpuid and xgetbv), the
// caller's floating-point state and the eccentricity decide which code runs.
// The CPU is looked at once. Where the toolchain and C library have GNU
// indirect functions (glibc; the build defines TRUEANOMALY_IFUNC=1), the
// loader fills in the chosen functions when the library is loaded, and the
// library keeps no variable of its own. Elsewhere (musl, for one) each of
// the three choices is made on its first call and kept in an atomic
// pointer: threads that race to make it compute the same function, and
// every later call reads it. Every list of paths comes from paths.h.
//
// The vector paths exist on x86-64 only (the build defines
// TRUEANOMALY_VECTOR_PATHS there); elsewhere every call is the plain path.
#include "dispatch.h"

#include "solve.h"
#include "solve_one.h"

#if TRUEANOMALY_VECTOR_PATHS
#if !defined(__x86_64__)
#error "the vector paths are x86-64 code: build them only for x86-64"
#endif
#include "fp_environment.h"

#if !TRUEANOMALY_IFUNC
#include <atomic>
#endif

namespace trueanomaly_detail {
namespace {

// The load-time resolver runs before any sanitizer runtime is ready, and at
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

// What the table's requirements name. XCR0 says which register files the
// OS saves on a context switch: AVX in the CPU is no use unless the OS
// preserves the wide registers.
// A plain aggregate: a constructor would be a function call, instrumented
// by the sanitizers, in the load-time resolver.
struct CpuFeatures {
  bool avx2_fma;     // AVX2 and FMA, ymm state saved
  bool avx512f_fma;  // AVX-512F and FMA, zmm and opmask state saved
};

TRUEANOMALY_RESOLVER_SAFE CpuFeatures cpu_features() {
  CpuFeatures f = {false, false};
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
  const bool avx2 = r[1] & (1u << 5), avx512f = r[1] & (1u << 16);
  f.avx2_fma = ymm_saved && avx2;
  f.avx512f_fma = f.avx2_fma && zmm_saved && avx512f;
  return f;
}

// The widest path whose requirement this CPU meets: the table's last such row.
TRUEANOMALY_RESOLVER_SAFE Path widest_path() {
  const CpuFeatures f = cpu_features();
  Path widest = Path::plain;
#define TRUEANOMALY_PATH_IF_MET(name, label, lanes, groups, block_groups, long_call_groups, \
                                requirement)                                               \
  if (f.requirement) widest = Path::name;
  TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_PATH_IF_MET)
#undef TRUEANOMALY_PATH_IF_MET
  return widest;
}

// The scalar entry's solve: the kernel wherever the AVX2 path runs (its
// flags and requirement are that path's), the plain solve elsewhere.
TRUEANOMALY_RESOLVER_SAFE Path scalar_kernel_for(Path widest) {
  return static_cast<int>(widest) >= static_cast<int>(Path::avx2) ? Path::avx2 : Path::plain;
}

TRUEANOMALY_RESOLVER_SAFE SolveOneFn chosen_solve_one(Path kernel) {
  return kernel == Path::avx2 ? solve_one_avx2 : solve_one_plain;
}

// A vector path inside its domain, the plain path outside it.
template <ConvertFn vector_path>
int32_t convert_guarded(const float *in, int32_t count, float e, float *out,
                        int32_t max_iterations, int32_t tolerance) {
  if (eccentricity_in_vector_domain(e) && default_fp_environment())
    return vector_path(in, count, e, out, max_iterations, tolerance);
  return convert_array_plain(in, count, e, out, max_iterations, tolerance);
}

// Runs at least this long of one eccentricity, in a call with one per
// element, go through the one-orbit driver (shared orbit, one-step rule).
constexpr int32_t kMinOrbitRun = 64;

// The ufunc's conversion on one path (see dispatch.h): the vector path
// inside its domain, the plain path outside it.
template <OneOrbitFn one_orbit, PerElementFn per_element>
int32_t elements_guarded(const float *in, const float *ecc, int32_t e_step, int32_t count,
                         float *out, int32_t max_iterations, int32_t tolerance, bool keep_going) {
  if (!default_fp_environment()) {
    if (e_step == 0)
      return convert_one_orbit_plain(in, count, cap_eccentricity(ecc[0]), out, max_iterations,
                                     tolerance, keep_going);
    return convert_per_element_plain(in, ecc, count, out, max_iterations, tolerance, keep_going);
  }
  auto orbit = [&](int32_t from, int32_t n, float e) {
    e = cap_eccentricity(e);
    if (!eccentricity_in_vector_domain(e))
      return convert_one_orbit_plain(in + from, n, e, out + from, max_iterations, tolerance,
                                     keep_going);
    return one_orbit(in + from, n, e, out + from, max_iterations, tolerance, keep_going);
  };
  if (e_step == 0) return orbit(0, count, ecc[0]);
  // Stretches of mixed eccentricities and long runs of one, in index order.
  int32_t first_failure = count;
  auto take = [&](int32_t from, int32_t n, int32_t got) {
    if (got == n) return true;
    if (first_failure == count) first_failure = from + got;
    return keep_going;
  };
  int32_t mixed_from = 0;
  for (int32_t i = 0; i < count;) {
    int32_t j = i + 1;
    const uint32_t bits = __builtin_bit_cast(uint32_t, ecc[i]);
    while (j < count && __builtin_bit_cast(uint32_t, ecc[j]) == bits) ++j;
    if (j - i >= kMinOrbitRun) {
      if (i > mixed_from &&
          !take(mixed_from, i - mixed_from,
                per_element(in + mixed_from, ecc + mixed_from, i - mixed_from, out + mixed_from,
                            max_iterations, tolerance, keep_going)))
        return first_failure;
      if (!take(i, j - i, orbit(i, j - i, ecc[i]))) return first_failure;
      mixed_from = j;
    }
    i = j;
  }
  if (count > mixed_from)
    take(mixed_from, count - mixed_from,
         per_element(in + mixed_from, ecc + mixed_from, count - mixed_from, out + mixed_from,
                     max_iterations, tolerance, keep_going));
  return first_failure;
}

// What each path runs when chosen. A switch, not a table of pointers: the
// load-time resolver must not read data that may still await relocation.
TRUEANOMALY_RESOLVER_SAFE ConvertFn chosen(Path path) {
  switch (path) {
#define TRUEANOMALY_PATH_CASE(name, label, lanes, groups, block_groups, long_call_groups, \
                              requirement)                                               \
  case Path::name:                                                                       \
    return convert_guarded<convert_array_##name>;
    TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_PATH_CASE)
#undef TRUEANOMALY_PATH_CASE
    case Path::plain: break;
  }
  return convert_array_plain;
}

TRUEANOMALY_RESOLVER_SAFE ElementsFn chosen_elements(Path path) {
  switch (path) {
#define TRUEANOMALY_PATH_CASE(name, label, lanes, groups, block_groups, long_call_groups, \
                              requirement)                                               \
  case Path::name:                                                                       \
    return elements_guarded<convert_one_orbit_##name, convert_per_element_##name>;
    TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_PATH_CASE)
#undef TRUEANOMALY_PATH_CASE
    case Path::plain: break;
  }
  return elements_guarded<convert_one_orbit_plain, convert_per_element_plain>;
}

}  // namespace

// Paths are ordered: a CPU that runs one runs every narrower one.
bool path_available(Path path) {
  return static_cast<int>(path) <= static_cast<int>(widest_path());
}

Path best_path() { return widest_path(); }

Path scalar_kernel() { return scalar_kernel_for(widest_path()); }

int32_t convert_array(Path path, const float *in, int32_t count, float e, float *out,
                      int32_t max_iterations, int32_t tolerance) {
  return chosen(path)(in, count, e, out, max_iterations, tolerance);
}

int32_t convert_elements(Path path, const float *in, const float *eccentricities,
                         int32_t e_step, int32_t count, float *out, int32_t max_iterations,
                         int32_t tolerance, bool keep_going) {
  return chosen_elements(path)(in, eccentricities, e_step, count, out, max_iterations,
                               tolerance, keep_going);
}

}  // namespace trueanomaly_detail

#if TRUEANOMALY_IFUNC
// Load-time resolver. It runs while the loader relocates the library, before
// any sanitizer runtime is ready, so it calls nothing but inline code.
extern "C" {
__attribute__((no_sanitize("address", "undefined", "thread"), visibility("hidden")))
TRUEANOMALY_NO_INSTRUMENTATION
trueanomaly_detail::ConvertFn trueanomaly_resolve_convert(void) {
  using namespace trueanomaly_detail;
  return chosen(widest_path());
}

__attribute__((no_sanitize("address", "undefined", "thread"), visibility("hidden")))
TRUEANOMALY_NO_INSTRUMENTATION
trueanomaly_detail::ElementsFn trueanomaly_resolve_elements(void) {
  using namespace trueanomaly_detail;
  return chosen_elements(widest_path());
}

__attribute__((no_sanitize("address", "undefined", "thread"), visibility("hidden")))
TRUEANOMALY_NO_INSTRUMENTATION
trueanomaly_detail::SolveOneFn trueanomaly_resolve_solve_one(void) {
  using namespace trueanomaly_detail;
  return chosen_solve_one(scalar_kernel_for(widest_path()));
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

#else  // no indirect functions: each choice made on its first call

namespace trueanomaly_detail {
namespace {

// The function `choose` returns, chosen on the first call that finds
// *slot empty and kept there. Relaxed order suffices: the pointer is the
// whole of what is shared, and it points to code, which no thread writes.
template <class Fn, class Choose>
inline Fn chosen_once(std::atomic<Fn> *slot, Choose choose) {
  Fn fn = slot->load(std::memory_order_relaxed);
  if (__builtin_expect(fn == nullptr, 0)) {
    fn = choose();
    slot->store(fn, std::memory_order_relaxed);
  }
  return fn;
}

std::atomic<ConvertFn> g_convert{nullptr};
std::atomic<ElementsFn> g_elements{nullptr};
std::atomic<SolveOneFn> g_solve_one{nullptr};

}  // namespace

int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance) {
  const ConvertFn fn = chosen_once(&g_convert, [] { return chosen(widest_path()); });
  return fn(in, count, e, out, max_iterations, tolerance);
}

int32_t convert_elements_best(const float *in, const float *eccentricities, int32_t e_step,
                              int32_t count, float *out, int32_t max_iterations,
                              int32_t tolerance, bool keep_going) {
  const ElementsFn fn = chosen_once(&g_elements, [] { return chosen_elements(widest_path()); });
  return fn(in, eccentricities, e_step, count, out, max_iterations, tolerance, keep_going);
}

float solve_one_best(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance) {
  const SolveOneFn fn =
      chosen_once(&g_solve_one, [] { return chosen_solve_one(scalar_kernel_for(widest_path())); });
  return fn(mean_anomaly, eccentricity, max_iterations, tolerance);
}

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_IFUNC

#else  // no vector paths: the plain path, whatever the CPU

namespace trueanomaly_detail {

bool path_available(Path path) { return path == Path::plain; }

Path best_path() { return Path::plain; }

Path scalar_kernel() { return Path::plain; }

float solve_one_best(float mean_anomaly, float eccentricity, int32_t max_iterations,
                     int32_t tolerance) {
  return solve_one_plain(mean_anomaly, eccentricity, max_iterations, tolerance);
}

int32_t convert_array(Path, const float *in, int32_t count, float e, float *out,
                      int32_t max_iterations, int32_t tolerance) {
  return convert_array_plain(in, count, e, out, max_iterations, tolerance);
}

int32_t convert_array_best(const float *in, int32_t count, float e, float *out,
                           int32_t max_iterations, int32_t tolerance) {
  return convert_array_plain(in, count, e, out, max_iterations, tolerance);
}

int32_t convert_elements(Path, const float *in, const float *ecc, int32_t e_step, int32_t count,
                         float *out, int32_t max_iterations, int32_t tolerance, bool keep_going) {
  if (e_step == 0)
    return convert_one_orbit_plain(in, count, cap_eccentricity(ecc[0]), out, max_iterations,
                                   tolerance, keep_going);
  return convert_per_element_plain(in, ecc, count, out, max_iterations, tolerance, keep_going);
}

int32_t convert_elements_best(const float *in, const float *ecc, int32_t e_step, int32_t count,
                              float *out, int32_t max_iterations, int32_t tolerance,
                              bool keep_going) {
  return convert_elements(Path::plain, in, ecc, e_step, count, out, max_iterations, tolerance,
                          keep_going);
}

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_VECTOR_PATHS
