// CPU feature detection and the choice of array path, in one place.
#include <cpuid.h>

#include "array_paths.h"
#include "solve.h"

namespace trueanomaly_detail {

namespace {

// XCR0 says which register files the OS saves on a context switch: a CPU
// with AVX is useless for us if the OS does not preserve the wide registers.
unsigned long long read_xcr0() {
  unsigned eax, edx;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<unsigned long long>(edx) << 32) | eax;
}

struct CpuFeatures {
  bool avx2_fma = false;
  bool avx512f = false;
};

CpuFeatures detect() {
  CpuFeatures f;
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  const bool fma = c & bit_FMA, osxsave = c & bit_OSXSAVE, avx = c & bit_AVX;
  if (!(osxsave && avx)) return f;
  const unsigned long long xcr0 = read_xcr0();
  const bool ymm_saved = (xcr0 & 0x6) == 0x6;      // SSE and AVX state
  const bool zmm_saved = (xcr0 & 0xe6) == 0xe6;    // plus opmask, ZMM_Hi256, Hi16_ZMM
  if (__get_cpuid_max(0, nullptr) < 7) return f;
  __cpuid_count(7, 0, a, b, c, d);
  f.avx2_fma = ymm_saved && fma && (b & bit_AVX2);
  f.avx512f = f.avx2_fma && zmm_saved && (b & bit_AVX512F);
  return f;
}

}  // namespace

bool path_available(Path path) {
  switch (path) {
    case Path::plain: return true;
    case Path::avx2: return false;
    case Path::avx512: return false;
  }
  return false;
}

Path best_path() {
  const CpuFeatures f = detect();
  (void)f;
  return Path::plain;
}

int32_t convert_array(Path path, const float *in, int32_t count,
                      float eccentricity, float *out, int32_t max_iterations,
                      int32_t tolerance) {
  (void)path;
  for (int32_t i = 0; i < count; ++i) {
    float result;
    // Element i is read before output i is written, so in-place use is safe.
    if (!trueanomaly_solve(in[i], eccentricity, max_iterations, tolerance, &result))
      return -1;
    out[i] = result;
  }
  return 0;
}

}  // namespace trueanomaly_detail
