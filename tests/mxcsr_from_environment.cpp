// SPDX-License-Identifier: BSD-3-Clause
// Linked into every test program: TRUEANOMALY_TEST_MXCSR=ftz, daz or
// ftz,daz sets flush-to-zero and/or denormals-are-zero before the tests
// start, for the library and the model alike (threads started later inherit
// it), so that the differential, corpus and lane tests can run under a host
// built with -Ofast. Unset: the default modes.
#if defined(__x86_64__)
#include <xmmintrin.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned kFlushToZero = 0x8000u, kDenormalsAreZero = 0x0040u;

const bool kApplied = [] {
  const char *modes = std::getenv("TRUEANOMALY_TEST_MXCSR");
  if (modes == nullptr || *modes == '\0') return false;
  unsigned bits = 0;
  if (std::strstr(modes, "ftz")) bits |= kFlushToZero;
  if (std::strstr(modes, "daz")) bits |= kDenormalsAreZero;
  if (bits == 0) {
    std::fprintf(stderr, "TRUEANOMALY_TEST_MXCSR=%s: expected ftz, daz or ftz,daz\n", modes);
    std::exit(2);
  }
  _mm_setcsr(_mm_getcsr() | bits);
  std::fprintf(stderr, "MXCSR %#x (TRUEANOMALY_TEST_MXCSR=%s)\n", _mm_getcsr(), modes);
  return true;
}();

}  // namespace
#endif
