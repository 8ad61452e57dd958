// SPDX-License-Identifier: BSD-3-Clause
// Measures the error of the vector kernels (src/kernels/sincos.h, atan2.h) against
// MPFR at 200 bits, and checks it against the bounds the header claims:
// kSinCosError for sincos_lanes (both outputs) on |x| <= kReduceMax and for
// sincos_far_lanes on floats |x| >= kFarReduceMin = 2^22, and kAtan2Error
// for atan2_lanes on finite x, y with x*x + y*y >= 2^-10.
// The kernels are those of one vector path, compiled with its flags
// (tests/kernels/), so this program runs on any x86-64 CPU.
//
// Built with the tests where MPFR is found (ctest runs --quick on every path
// this CPU has: kernels.mpfr_bounds.*), or by tools/measure_kernels.sh:
//   measure_kernels [--path avx2|avx512] [-n RANDOM] [-s STRIDE] [-k MULTIPLES]
//                   [-f STRIDE] [--seed S] [--quick]
// The default path is the widest this CPU runs.
//
// Exit status: 0 if every measured error is within its bound; 1 if one is
// not, if a kernel returns a non-finite value for a finite input, or if the
// screening reference (below) is found less accurate than assumed; 77 if
// the path is not available on this CPU (or no path is compiled).
//
// Defaults take about 70 seconds of one core of an AMD EPYC, Zen 5 (--quick:
// 11 seconds):
//   sin/cos: every other float by bit pattern with 2^-30 <= |x| <= 8 (-s),
//     positive ones at even patterns and negative ones at odd, so each
//     magnitude once (2.8e8 inputs); tiny floats (|x| < 2^-30, stride 1021) and
//     halves of subnormal floats (stride 61); the 64 floats on either side of
//     the float nearest m*pi/4 for every m <= 4096 and 200000 random m up to
//     2^22/(pi/4), both signs (-k, 5.3e7 inputs); the 2^16 largest floats
//     <= 2^22; 10^7 random floats with |x| <= 2^22, half uniform in value,
//     half uniform in bit pattern (-n); and 10^6 random doubles with
//     |x| <= 2^22 (not only floats).
//     The library calls the kernel on floats and on halves of floats. Halving
//     a float is exact and gives a float unless the float is subnormal, so
//     the float sets cover halves too. The m*pi/4 set holds the floats near
//     multiples of pi/2 (even m) and the halves of the floats near multiples
//     of pi/2 (all m); with odd m the reduction lands on |r| = pi/4.
//   sin/cos of far floats (sincos_far_lanes): every 61st float by bit pattern
//     with 2^22 <= |x| <= FLT_MAX (-f), positive and negative as above
//     (2.9e7 inputs); 10^6 random floats there, uniform in bit pattern
//     (-n / 10); for each exponent the 64 floats whose x*2/pi is nearest an
//     integer and the 64 nearest a half-integer, found by a scan of every
//     float with 128 bits of frac(2^q * 2/pi) from MPFR (tests/far_extremes.h),
//     each with the 4 floats either side, both signs (2.4e5 inputs); and the
//     64 floats at either end of each binade, both signs, where the
//     reduction's stretch of 2/pi moves (2.7e4 inputs). --quick keeps 16 per exponent and kind,
//     with 1 float either side.
//   atan2: 10^7 pairs x = sqrt(1-e)*cos(h), y = sqrt(1+e)*sin(h) with e a
//     random float in [-0.99, 0.99], half with h in [-2^21, 2^21], half with h
//     in [-4, 4] (-n); dense sweeps across the switch points (min/max near
//     tan(pi/8), |x| == |y|, x near 0, y near 0 on either side of the y axis),
//     each in all sign and swap variants; 10^6 random pairs over the whole
//     domain (magnitudes up to 2^1023).
//
// Method. MPFR at 200 bits costs 5 us for sin and cos, 15 us for atan2, too
// slow for 3.5e8 inputs, so every input is first screened with glibc's x87
// long double sincosl/atan2l (64-bit significand): est = |approx - ref| in
// long double. Every input whose est comes within 2*delta of the running
// maximum of est (or of the bound) is then measured with MPFR: the exact
// value at 200 bits, and |approx - exact| computed in MPFR. If
// |est - error| <= delta on every input, the input with the largest error is
// among those measured (an input skipped has error <= est + delta, below the
// running maximum minus delta, so below the error of an earlier input), and
// the reported maxima are MPFR's. delta is 2^-58 for sin/cos and 2^-56 for
// atan2, some 2^6 times the long double functions' rounding; the assumption
// is checked with MPFR on every 128th input as well as on every measured
// one, and the program fails if any |est - error| there exceeds delta/8.
#include <math.h>
#include <mpfr.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "far_extremes.h"
#include "float_bits.h"
#include "kernels/kernels.h"
#include "kernels/atan2.h"
#include "kernels/sincos.h"

namespace {

using trueanomaly_detail::kAtan2Error;
using trueanomaly_detail::kFarReduceMin;
using trueanomaly_detail::kReduceMax;
using trueanomaly_detail::kSinCosError;

// The kernels measured, and inputs handed to them this many at a time.
const lane_kernels::Kernels *g_kernels = nullptr;
constexpr int W = 16;
constexpr mpfr_prec_t kPrec = 200;
constexpr long double kSinCosDelta = 0x1p-58L;
constexpr long double kAtan2Delta = 0x1p-56L;
constexpr uint64_t kSampleEvery = 128;
constexpr uint64_t kPilot = 1 << 16;

uint64_t g_seed = 0x5eed2024u;
uint64_t g_sample_stride = 1;  // every input of each set, unless sampling

// Counter-based random numbers, so that a set can be visited in any order.
uint64_t mix(uint64_t z) {
  z += 0x9e3779b97f4a7c15u;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}
uint64_t rnd(uint64_t set, uint64_t i, uint64_t stream) {
  return mix(mix(mix(g_seed ^ (set << 48)) + i) + stream);
}
double unit(uint64_t r) { return (double)(r >> 11) * 0x1p-53; }  // [0, 1)

float float_of(uint32_t bits) { return float_from_bits(bits); }
uint32_t bits_of(float f) { return float_bits(f); }
double double_of(uint64_t bits) { return double_from_bits(bits); }
uint64_t bits_of(double d) { return double_bits(d); }

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The error of one output over one input set.
struct Stat {
  std::string func, set;
  double bound;
  long double delta;
  int nargs;  // 1: x, 2: (y, x)
  uint64_t n = 0, checks = 0, exceed = 0, nonfinite = 0;
  long double max_est = 0;
  mpfr_t max_err, t, u;
  double at_y = 0, at_x = 0;          // where max_err occurs
  double bad_y = 0, bad_x = 0;        // first non-finite result or excess
  double ref_dev = 0;                 // largest |est - error| seen with MPFR
  double dev_y = 0, dev_x = 0;

  Stat(std::string f, std::string s, double b, long double d, int na)
      : func(f), set(s), bound(b), delta(d), nargs(na) {
    mpfr_inits2(kPrec, max_err, t, u, (mpfr_ptr)0);
    mpfr_set_zero(max_err, 1);
  }
  Stat(const Stat &) = delete;
  ~Stat() { mpfr_clears(max_err, t, u, (mpfr_ptr)0); }

  // Whether the input with this screening estimate must go to MPFR.
  bool wants(long double est) const {
    return !(est < max_est - 2 * delta) || est >= bound - 2 * delta;
  }
  void note(long double est) {
    if (est > max_est) max_est = est;
  }
  // approx against MPFR's exact value.
  void check(double approx, mpfr_srcptr exact, long double est, double y, double x) {
    ++checks;
    if (!isfinite(approx)) {
      if (nonfinite++ == 0) bad_y = y, bad_x = x;
      return;
    }
    mpfr_set_d(t, approx, MPFR_RNDN);  // exact
    mpfr_sub(t, t, exact, MPFR_RNDN);
    mpfr_abs(t, t, MPFR_RNDN);
    mpfr_set_ld(u, est, MPFR_RNDN);
    mpfr_sub(u, u, t, MPFR_RNDN);
    const double dev = fabs(mpfr_get_d(u, MPFR_RNDU));
    if (dev > ref_dev) ref_dev = dev, dev_y = y, dev_x = x;
    if (mpfr_cmp_d(t, bound) > 0 && exceed++ == 0 && nonfinite == 0) bad_y = y, bad_x = x;
    if (mpfr_cmp(t, max_err) > 0) {
      mpfr_set(max_err, t, MPFR_RNDN);
      at_y = y, at_x = x;
    }
  }
  bool failed() const { return exceed || nonfinite || ref_dev > delta / 8; }
};

std::string hex(double v) {
  char b[64];
  snprintf(b, sizeof b, "%a", v);
  return b;
}

std::string where(int nargs, double y, double x) {
  char b[160];
  if (nargs == 1)
    snprintf(b, sizeof b, "x = %s (%.17g)", hex(x).c_str(), x);
  else
    snprintf(b, sizeof b, "y = %s, x = %s (%.17g, %.17g)", hex(y).c_str(), hex(x).c_str(), y, x);
  return b;
}

double log2_of(mpfr_srcptr v) {
  if (mpfr_zero_p(v)) return -INFINITY;
  long e;
  const double m = mpfr_get_d_2exp(&e, v, MPFR_RNDN);  // v = m * 2^e, 0.5 <= m < 1
  return log2(m) + (double)e;
}

void report(const Stat &s) {
  const double err = mpfr_get_d(s.max_err, MPFR_RNDU);
  printf("  %-5s %-52s %11llu  max 2^%.2f = %.3e  bound/max %.3g  at %s\n", s.func.c_str(),
         s.set.c_str(), (unsigned long long)s.n, log2_of(s.max_err), err,
         err > 0 ? s.bound / err : INFINITY, where(s.nargs, s.at_y, s.at_x).c_str());
  printf("  %-5s %-52s %11s  MPFR checks %llu, largest |screen - MPFR| 2^%.1f\n", "", "", "",
         (unsigned long long)s.checks, s.ref_dev > 0 ? log2(s.ref_dev) : -INFINITY);
  if (s.nonfinite)
    printf("  ** %llu non-finite results, first at %s\n", (unsigned long long)s.nonfinite,
           where(s.nargs, s.bad_y, s.bad_x).c_str());
  if (s.exceed)
    printf("  ** %llu errors above the bound 2^%.2f, first at %s\n", (unsigned long long)s.exceed,
           log2(s.bound), where(s.nargs, s.bad_y, s.bad_x).c_str());
  if (s.ref_dev > s.delta / 8)
    printf("  ** screening reference off by 2^%.1f > delta/8 at %s: results unreliable\n",
           log2(s.ref_dev), where(s.nargs, s.dev_y, s.dev_x).c_str());
  fflush(stdout);
}

// ---------------------------------------------------------------- sin, cos

typedef void (*SinCosFn)(const double *x, size_t n, double *sin_x, double *cos_x);

struct SinCosSet {
  std::string name;
  uint64_t n;
  std::function<bool(uint64_t, double *)> gen;  // false: skip this index
  SinCosFn lane_kernels::Kernels::*kernel = &lane_kernels::Kernels::sincos;
};

struct SinCosRun {
  Stat sin, cos;
  mpfr_t mx, ms, mc;
  uint64_t seen = 0;
  double buf[W];
  int nb = 0;
  bool counting = true;
  SinCosFn kernel;

  SinCosRun(const std::string &set, SinCosFn k)
      : sin("sin", set, kSinCosError, kSinCosDelta, 1),
        cos("cos", set, kSinCosError, kSinCosDelta, 1),
        kernel(k) {
    mpfr_inits2(kPrec, mx, ms, mc, (mpfr_ptr)0);
  }
  ~SinCosRun() { mpfr_clears(mx, ms, mc, (mpfr_ptr)0); }

  void one(double x, double s, double c) {
    long double rs, rc;
    sincosl((long double)x, &rs, &rc);
    const long double es = fabsl((long double)s - rs), ec = fabsl((long double)c - rc);
    const bool need = ++seen % kSampleEvery == 0 || sin.wants(es) || cos.wants(ec);
    sin.note(es);
    cos.note(ec);
    if (need) {
      mpfr_set_d(mx, x, MPFR_RNDN);
      mpfr_sin_cos(ms, mc, mx, MPFR_RNDN);
      sin.check(s, ms, es, 0, x);
      cos.check(c, mc, ec, 0, x);
    }
    if (counting) ++sin.n, ++cos.n;
  }
  void flush() {
    double s[W], c[W];
    kernel(buf, static_cast<size_t>(nb), s, c);
    for (int k = 0; k < nb; ++k) one(buf[k], s[k], c[k]);
    nb = 0;
  }
  void add(double x) {
    buf[nb++] = x;
    if (nb == W) flush();
  }
};

void run_sincos(const SinCosSet &set, std::vector<SinCosRun *> *runs) {
  const double t0 = now();
  SinCosRun *run = new SinCosRun(set.name, g_kernels->*set.kernel);
  double x;
  // A pilot over random members of the set first, so that the running maximum
  // is near its final value before the (often ordered) sweep starts.
  run->counting = false;
  for (uint64_t i = 0; i < kPilot && set.n; i += g_sample_stride)
    if (set.gen(rnd(99, i, 0) % set.n, &x)) run->add(x);
  run->flush();
  run->counting = true;
  for (uint64_t i = 0; i < set.n; i += g_sample_stride)
    if (set.gen(i, &x)) run->add(x);
  run->flush();
  report(run->sin);
  report(run->cos);
  printf("  (%.1f s)\n", now() - t0);
  runs->push_back(run);
}

// Floats nearest m*pi/4, from MPFR.
float nearest_multiple(uint64_t m) {
  mpfr_t p;
  mpfr_init2(p, kPrec);
  mpfr_const_pi(p, MPFR_RNDN);
  mpfr_mul_ui(p, p, m, MPFR_RNDN);
  mpfr_div_2ui(p, p, 2, MPFR_RNDN);
  const float f = mpfr_get_flt(p, MPFR_RNDN);
  mpfr_clear(p);
  return f;
}

// frac(2^q * 2/pi) for q = -1 .. 104 in units of 2^-128, from MPFR at 400
// bits (2^104 * 2/pi has 106 integer bits), not from the library's bits:
// where far_extremes.h looks for the far reduction's hardest floats.
void far_fractions(far_extremes::Fixed128 (&out)[far_extremes::kRows]) {
  mpfr_t t;
  mpfr_init2(t, 400);
  for (int q = far_extremes::kFirstQ; q <= far_extremes::kLastQ; ++q) {
    mpfr_const_pi(t, MPFR_RNDN);
    mpfr_ui_div(t, 2, t, MPFR_RNDN);
    mpfr_mul_2si(t, t, q, MPFR_RNDN);
    mpfr_frac(t, t, MPFR_RNDN);
    mpfr_mul_2ui(t, t, 64, MPFR_RNDN);
    const uint64_t hi = mpfr_get_ui(t, MPFR_RNDZ);
    mpfr_sub_ui(t, t, hi, MPFR_RNDN);
    mpfr_mul_2ui(t, t, 64, MPFR_RNDN);
    const uint64_t lo = mpfr_get_ui(t, MPFR_RNDZ);
    out[q - far_extremes::kFirstQ] = (far_extremes::Fixed128{hi} << 64) | lo;
  }
  mpfr_clear(t);
}

// ------------------------------------------------------------------ atan2

struct Atan2Set {
  std::string name;
  uint64_t n;
  std::function<bool(uint64_t, double *, double *)> gen;  // (i, y, x)
};

struct Atan2Run {
  Stat st;
  mpfr_t mx, my, ma;
  uint64_t seen = 0;
  double by[W], bx[W];
  int nb = 0;
  bool counting = true;

  explicit Atan2Run(const std::string &set) : st("atan2", set, kAtan2Error, kAtan2Delta, 2) {
    mpfr_inits2(kPrec, mx, my, ma, (mpfr_ptr)0);
  }
  ~Atan2Run() { mpfr_clears(mx, my, ma, (mpfr_ptr)0); }

  void one(double y, double x, double a) {
    const long double ref = atan2l((long double)y, (long double)x);
    const long double est = fabsl((long double)a - ref);
    const bool need = ++seen % kSampleEvery == 0 || st.wants(est);
    st.note(est);
    if (need) {
      mpfr_set_d(my, y, MPFR_RNDN);
      mpfr_set_d(mx, x, MPFR_RNDN);
      mpfr_atan2(ma, my, mx, MPFR_RNDN);
      st.check(a, ma, est, y, x);
    }
    if (counting) ++st.n;
  }
  void flush() {
    double a[W];
    g_kernels->atan2(by, bx, static_cast<size_t>(nb), a);
    for (int k = 0; k < nb; ++k) one(by[k], bx[k], a[k]);
    nb = 0;
  }
  void add(double y, double x) {
    by[nb] = y, bx[nb] = x;
    if (++nb == W) flush();
  }
};

void run_atan2(const Atan2Set &set, std::vector<Atan2Run *> *runs) {
  const double t0 = now();
  Atan2Run *run = new Atan2Run(set.name);
  double y, x;
  run->counting = false;
  for (uint64_t i = 0; i < kPilot && set.n; i += g_sample_stride)
    if (set.gen(rnd(98, i, 0) % set.n, &y, &x)) run->add(y, x);
  run->flush();
  run->counting = true;
  for (uint64_t i = 0; i < set.n; i += g_sample_stride)
    if (set.gen(i, &y, &x)) run->add(y, x);
  run->flush();
  report(run->st);
  printf("  (%.1f s)\n", now() - t0);
  runs->push_back(run);
}

// Applies sign/swap variant v (0..7) to the pair (a, b), a >= b >= 0.
void variant(unsigned v, double a, double b, double *y, double *x) {
  double xx = v & 4 ? b : a, yy = v & 4 ? a : b;
  *x = v & 1 ? -xx : xx;
  *y = v & 2 ? -yy : yy;
}

// A radius in the library's range, sqrt(0.01) .. sqrt(1.99).
double radius(uint64_t r) { return 0.1 + unit(r) * 1.31; }

const Stat *worst(const std::vector<const Stat *> &v) {
  const Stat *w = v[0];
  for (const Stat *s : v)
    if (mpfr_cmp(s->max_err, w->max_err) > 0) w = s;
  return w;
}

// outputs: values per input (2 for sin and cos together).
void summary(const char *what, const std::vector<const Stat *> &v, int outputs = 1) {
  const Stat *w = worst(v);
  uint64_t n = 0, checks = 0;
  double dev = 0;
  for (const Stat *s : v) n += s->n, checks += s->checks, dev = fmax(dev, s->ref_dev);
  n /= (uint64_t)outputs, checks /= (uint64_t)outputs;
  const double err = mpfr_get_d(w->max_err, MPFR_RNDU);
  printf("%-7s %11llu inputs  max error 2^%.2f (%.4e)  bound 2^%.2f  bound/max %.2f\n"
         "        at %s [%s, %s]\n"
         "        %llu MPFR checks, largest |screen - MPFR| 2^%.1f\n",
         what, (unsigned long long)n, log2_of(w->max_err), err, log2(w->bound),
         w->bound / err, where(w->nargs, w->at_y, w->at_x).c_str(), w->func.c_str(),
         w->set.c_str(), (unsigned long long)checks, dev > 0 ? log2(dev) : -INFINITY);
}

void usage() {
  fprintf(stderr,
          "usage: measure_kernels [--path NAME] [-n RANDOM] [-s STRIDE] [-k MULTIPLES] [--seed S]\n"
          "                       [--quick]\n"
          "  --path  the vector path whose kernels to measure (default: the widest this CPU runs)\n"
          "  -n  random inputs for sin/cos and random pairs for atan2 as the library makes them\n"
          "      (default 10000000 each)\n"
          "  -s  bit-pattern stride of the float sweep over 2^-30 <= |x| <= 8 (default 2)\n"
          "  -k  random multiples m of pi/4 sampled above 4096 (default 200000)\n"
          "  -f  bit-pattern stride of the float sweep over 2^22 <= |x| <= FLT_MAX for\n"
          "      sincos_far_lanes (default 61)\n"
          "  --quick  -n 1000000 -s 61 -k 6000 -f 4093, a run of about 15 seconds\n");
  exit(2);
}

}  // namespace

int main(int argc, char **argv) {
  uint64_t n_random = 10000000, stride = 2, n_multiples = 200000, far_stride = 61;
  size_t far_keep = 64;  // hardest floats kept per exponent and kind
  int far_around = 4;    // floats taken on either side of each
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> uint64_t {
      if (i + 1 >= argc) usage();
      char *end;
      const unsigned long long v = strtoull(argv[++i], &end, 0);
      if (*end) usage();
      return v;
    };
    if (a == "--path" && i + 1 < argc) path = argv[++i];
    else if (a == "-n") n_random = value();
    else if (a == "-s") stride = value();
    else if (a == "-k") n_multiples = value();
    else if (a == "--seed") g_seed = value();
    else if (a == "-f") far_stride = value();
    else if (a == "--quick")
      n_random = 1000000, stride = 61, n_multiples = 6000, far_stride = 4093, far_keep = 16,
      far_around = 1;
    else usage();
  }
  if (stride < 1 || far_stride < 1) usage();
  // Under an emulator (CI), a sample: every S-th input of each set.
  const char *sample = getenv("TRUEANOMALY_KERNEL_STRIDE");
  g_sample_stride = sample && *sample ? strtoull(sample, nullptr, 10) : 1;
  if (g_sample_stride < 1) g_sample_stride = 1;
  if (g_sample_stride > 1)
    printf("** SAMPLED: every %llu-th input of each set (TRUEANOMALY_KERNEL_STRIDE)\n",
           (unsigned long long)g_sample_stride);
  for (const lane_kernels::Kernels *k : lane_kernels::runnable())
    if (path.empty() || path == k->name) g_kernels = k;
  if (!g_kernels) {
    printf("path %s is not available on this CPU (or not built): nothing measured\n",
           path.empty() ? "(any vector path)" : path.c_str());
    return 77;
  }
  printf("lane kernels of the %s path (%d lanes), against MPFR %s at %d bits\n",
         g_kernels->name, g_kernels->lanes, mpfr_get_version(), (int)kPrec);
  printf("bounds: kSinCosError 2^%.2f on |x| <= 2^%.0f and on floats |x| >= 2^%.0f (far), "
         "kAtan2Error 2^%.2f;\n-n %llu -s %llu -k %llu -f %llu --seed %#llx\n\n",
         log2(kSinCosError), log2(kReduceMax), log2(kFarReduceMin), log2(kAtan2Error),
         (unsigned long long)n_random, (unsigned long long)stride,
         (unsigned long long)n_multiples, (unsigned long long)far_stride,
         (unsigned long long)g_seed);
  const double t_start = now();

  // ---- sin and cos
  std::vector<SinCosRun *> sc;
  printf("sincos_lanes<%d>\n", g_kernels->lanes);
  {
    const uint32_t lo = 0x30800000u, hi = 0x41000000u;  // 2^-30, 8
    const uint64_t per_sign = (hi - lo) / stride + 1;
    char name[80];
    snprintf(name, sizeof name, "floats 2^-30 <= |x| <= 8, stride %llu",
             (unsigned long long)stride);
    run_sincos({name, 2 * per_sign,
                [=](uint64_t i, double *x) {
                  // Negative floats sit half a stride off the positive ones.
                  const uint64_t b = lo + (i >> 1) * stride + (i & 1) * (stride / 2);
                  if (b > hi) return false;
                  const float f = float_of((uint32_t)b);
                  *x = i & 1 ? -(double)f : (double)f;
                  return true;
                }},
               &sc);
  }
  {
    // Floats below 2^-30 (zero and subnormals included), then halves of
    // subnormal floats, which are not always floats.
    const uint64_t n_tiny = 0x30800000u / 1021 + 1, n_half = 0x800000u / 61 + 1;
    run_sincos({"floats |x| < 2^-30 (stride 1021), halves of subnormals (61)", 2 * (n_tiny + n_half),
                [=](uint64_t i, double *x) {
                  const uint64_t j = i >> 1;
                  const double v = j < n_tiny ? (double)float_of((uint32_t)(j * 1021))
                                              : (double)float_of((uint32_t)((j - n_tiny) * 61)) / 2;
                  *x = i & 1 ? -v : v;
                  return true;
                }},
               &sc);
  }
  {
    const uint64_t m_max = (uint64_t)floor(kReduceMax / (M_PI / 4));  // 5340353
    std::vector<uint64_t> ms;
    for (uint64_t m = 0; m <= 4096; ++m) ms.push_back(m);
    for (uint64_t m = m_max - 63; m <= m_max + 1; ++m) ms.push_back(m);
    for (uint64_t j = 0; j < n_multiples; ++j) ms.push_back(4097 + rnd(3, j, 0) % (m_max - 4096));
    std::vector<float> centre(ms.size());
    for (size_t j = 0; j < ms.size(); ++j) centre[j] = nearest_multiple(ms[j]);
    char name[80];
    snprintf(name, sizeof name, "64 floats either side of m*pi/4, %zu m <= %llu", ms.size(),
             (unsigned long long)m_max + 1);
    run_sincos({name, (uint64_t)ms.size() * 129 * 2,
                [ms, centre](uint64_t i, double *x) {
                  const uint64_t j = (i >> 1) / 129;
                  const int off = (int)((i >> 1) % 129) - 64;
                  const float f = ms[j] == 0 ? float_of((uint32_t)(off + 64))
                                             : float_of((uint32_t)((int64_t)bits_of(centre[j]) + off));
                  if (!((double)f <= kReduceMax)) return false;
                  *x = i & 1 ? -(double)f : (double)f;
                  return true;
                }},
               &sc);
  }
  {
    const uint32_t top = bits_of((float)kReduceMax);
    run_sincos({"the 2^16 largest floats <= 2^22", 2 << 16,
                [=](uint64_t i, double *x) {
                  const float f = float_of(top - (uint32_t)(i >> 1));
                  *x = i & 1 ? -(double)f : (double)f;
                  return true;
                }},
               &sc);
  }
  {
    const uint64_t half = n_random / 2;
    run_sincos({"random floats |x| <= 2^22, uniform in value", half,
                [](uint64_t i, double *x) {
                  *x = (double)(float)((2 * unit(rnd(4, i, 0)) - 1) * kReduceMax);
                  return true;
                }},
               &sc);
    const uint32_t top = bits_of((float)kReduceMax);
    run_sincos({"random floats |x| <= 2^22, uniform in bit pattern", n_random - half,
                [=](uint64_t i, double *x) {
                  const uint64_t r = rnd(5, i, 0);
                  const float f = float_of((uint32_t)((r >> 1) % ((uint64_t)top + 1)));
                  *x = r & 1 ? -(double)f : (double)f;
                  return true;
                }},
               &sc);
  }
  {
    run_sincos({"random doubles |x| <= 2^22 (exponent -30..21)", 1000000,
                [](uint64_t i, double *x) {
                  const uint64_t r = rnd(6, i, 0);
                  const uint64_t e = 1023 - 30 + (r >> 59) % 52;
                  const double v = double_of((e << 52) | (r & ((1ull << 52) - 1)));
                  *x = (r >> 58) & 1 ? -v : v;
                  return true;
                }},
               &sc);
  }

  // ---- sin and cos of far floats
  std::vector<SinCosRun *> far;
  printf("\nsincos_far_lanes<%d>\n", g_kernels->lanes);
  SinCosFn lane_kernels::Kernels::*const far_kernel = &lane_kernels::Kernels::sincos_far;
  const uint32_t far_lo = bits_of((float)kFarReduceMin), far_hi = 0x7f7fffffu;  // FLT_MAX
  {
    const uint64_t per_sign = (far_hi - far_lo) / far_stride + 1;
    char name[80];
    snprintf(name, sizeof name, "floats 2^22 <= |x| <= FLT_MAX, stride %llu",
             (unsigned long long)far_stride);
    run_sincos({name, 2 * per_sign,
                [=](uint64_t i, double *x) {
                  const uint64_t b = far_lo + (i >> 1) * far_stride + (i & 1) * (far_stride / 2);
                  if (b > far_hi) return false;
                  const float f = float_of((uint32_t)b);
                  *x = i & 1 ? -(double)f : (double)f;
                  return true;
                },
                far_kernel},
               &far);
    run_sincos({"random floats 2^22 <= |x| <= FLT_MAX, uniform in bit pattern", n_random / 10,
                [=](uint64_t i, double *x) {
                  const uint64_t r = rnd(7, i, 0);
                  const float f = float_of(far_lo + (uint32_t)((r >> 1) % (far_hi - far_lo + 1)));
                  *x = r & 1 ? -(double)f : (double)f;
                  return true;
                },
                far_kernel},
               &far);
  }
  {
    const double t0 = now();
    far_extremes::Fixed128 fractions[far_extremes::kRows];
    far_fractions(fractions);
    // Sampled (TRUEANOMALY_KERNEL_STRIDE): every stride-th exponent only.
    const far_extremes::Extremes ex = far_extremes::find(
        fractions, far_keep, (int)std::min<uint64_t>(g_sample_stride, far_extremes::kRows));
    const auto closest = [](const std::vector<far_extremes::Extreme> &v) {
      far_extremes::Extreme b = v[0];
      for (const far_extremes::Extreme &e : v)
        if (e.distance < b.distance) b = e;
      return b;
    };
    const far_extremes::Extreme ci = closest(ex.integer), ch = closest(ex.half);
    printf("  hardest floats for the reduction, %zu per exponent and kind (%.1f s to find):\n"
           "    x*2/pi nearest an integer:      2^%.2f from it at x = %a (%.9g)\n"
           "    x*2/pi nearest a half-integer:  2^%.2f from it at x = %a (%.9g)\n",
           far_keep, now() - t0, log2(ci.distance), ci.x, ci.x, log2(ch.distance), ch.x, ch.x);
    for (const auto *kind : {&ex.integer, &ex.half}) {
      std::vector<float> centre;
      for (const far_extremes::Extreme &e : *kind) centre.push_back((float)e.x);
      const uint64_t span = 2 * (uint64_t)far_around + 1;
      char name[96];
      snprintf(name, sizeof name, "x*2/pi nearest a%s, %d floats around, %zu x",
               kind == &ex.integer ? "n integer" : " half-integer", 2 * far_around + 1,
               centre.size());
      run_sincos({name, centre.size() * span * 2,
                  [=](uint64_t i, double *x) {
                    const uint64_t j = (i >> 1) / span;
                    const int64_t off = (int64_t)((i >> 1) % span) - far_around;
                    const int64_t b = (int64_t)bits_of(centre[j]) + off;
                    if (b < far_lo || b > far_hi) return false;
                    const float f = float_of((uint32_t)b);
                    *x = i & 1 ? -(double)f : (double)f;
                    return true;
                  },
                  far_kernel},
                 &far);
    }
  }
  {
    // Where the exponent, and so the stretch of 2/pi the reduction reads, changes.
    const uint32_t n_edge = 64;
    const uint32_t first_exponent = far_lo >> 23, exponents = (far_hi >> 23) - first_exponent + 1;
    run_sincos({"the 64 floats at either end of each binade from 2^22", 2ull * exponents * 2 * n_edge,
                [=](uint64_t i, double *x) {
                  const uint32_t j = (uint32_t)(i >> 1);
                  const uint32_t e = first_exponent + j / (2 * n_edge), k = j % (2 * n_edge);
                  const float f = float_of((e << 23) + (k < n_edge ? k : 0x7fffffu - (k - n_edge)));
                  *x = i & 1 ? -(double)f : (double)f;
                  return true;
                },
                far_kernel},
               &far);
  }

  // ---- atan2
  std::vector<Atan2Run *> at;
  printf("\natan2_lanes<%d>\n", g_kernels->lanes);
  {
    const uint64_t half = n_random / 2;
    auto as_called = [](uint64_t set, double h_max) {
      return [=](uint64_t i, double *y, double *x) {
        const double e = (double)(float)(0.99 * (2 * unit(rnd(set, i, 0)) - 1));
        const double h = h_max * (2 * unit(rnd(set, i, 1)) - 1);
        *x = sqrt(1.0 - e) * cos(h);
        *y = sqrt(1.0 + e) * sin(h);
        return true;
      };
    };
    run_atan2({"as the library calls it, |e| <= 0.99, h in [-2^21, 2^21]", half, as_called(10, 0x1p21)}, &at);
    run_atan2({"as the library calls it, |e| <= 0.99, h in [-4, 4]", n_random - half, as_called(11, 4.0)},
              &at);
  }
  {
    // min/max across tan(pi/8): 2^18 consecutive doubles around the switch
    // point, then 2^18 random t within 2^-12 of it; even ones with max = 1
    // (t exact), odd ones scaled by a random radius. Eight sign/swap variants.
    const double t8 = 0x1.a827999fcef32p-2;
    run_atan2({"min/max near tan(pi/8) (switch point)", 8u << 19,
               [=](uint64_t i, double *y, double *x) {
                 const uint64_t j = i >> 3;
                 const double t = j < (1u << 18)
                                      ? double_of(bits_of(t8) + j - (1u << 17))
                                      : t8 + 0x1p-12 * (2 * unit(rnd(12, j, 0)) - 1);
                 const double s = j & 1 ? radius(rnd(12, j, 1)) : 1.0;
                 variant((unsigned)(i & 7), s, t * s, y, x);
                 return true;
               }},
              &at);
    // |x| == |y|: 2^16 random radii with equal parts, then min/max stepping
    // down from 1 one double at a time.
    run_atan2({"|x| == |y| and min/max just below 1", 8u << 18,
               [=](uint64_t i, double *y, double *x) {
                 const uint64_t j = i >> 3;
                 const double s = j & 1 || j < (1u << 16) ? radius(rnd(13, j, 0)) : 1.0;
                 const double t = j < (1u << 16) ? 1.0 : double_of(bits_of(1.0) - (j - (1u << 16)));
                 variant((unsigned)(i & 7), s, t * s, y, x);
                 return true;
               }},
              &at);
    // One part from 0 (and -0) up to 1/4 by bit pattern, the other a radius.
    const uint64_t n_small = 1u << 19, step = bits_of(0.25) / n_small;
    run_atan2({"x near 0 (|x| <= 1/4, any sign of y)", 4 * n_small,
               [=](uint64_t i, double *y, double *x) {
                 const double a = radius(rnd(14, i >> 2, 0));
                 const double b = double_of((i >> 2) * step);
                 *x = i & 1 ? -b : b;
                 *y = i & 2 ? -a : a;
                 return true;
               }},
              &at);
    run_atan2({"y near 0 (|y| <= 1/4, x < 0 and x > 0)", 4 * n_small,
               [=](uint64_t i, double *y, double *x) {
                 const double a = radius(rnd(15, i >> 2, 0));
                 const double b = double_of((i >> 2) * step);
                 *x = i & 1 ? -a : a;
                 *y = i & 2 ? -b : b;
                 return true;
               }},
              &at);
  }
  {
    // The whole domain: the larger part has exponent -5 .. 1023, the other
    // any exponent below it (subnormals and zero included).
    run_atan2({"random pairs, max(|x|,|y|) in [2^-5, 2^1023)", 1000000,
               [](uint64_t i, double *y, double *x) {
                 const uint64_t r = rnd(16, i, 0), q = rnd(16, i, 1);
                 const uint64_t ea = 1023 - 5 + r % (1024 + 5 - 1);
                 const uint64_t eb = (q >> 53) % (ea + 1);
                 const double a = double_of((ea << 52) | (r >> 12));
                 const double b = fmin(a, double_of((eb << 52) | (q & ((1ull << 52) - 1))));
                 variant((unsigned)(rnd(16, i, 2) >> 61), a, b, y, x);
                 return true;
               }},
              &at);
  }

  // ---- summary
  std::vector<const Stat *> sin_stats, cos_stats, far_sin, far_cos, at_stats;
  for (SinCosRun *r : sc) sin_stats.push_back(&r->sin), cos_stats.push_back(&r->cos);
  for (SinCosRun *r : far) far_sin.push_back(&r->sin), far_cos.push_back(&r->cos);
  for (Atan2Run *r : at) at_stats.push_back(&r->st);
  std::vector<const Stat *> all = sin_stats, far_all = far_sin;
  all.insert(all.end(), cos_stats.begin(), cos_stats.end());
  far_all.insert(far_all.end(), far_cos.begin(), far_cos.end());
  printf("\nsummary (%.0f s)\n", now() - t_start);
  summary("sin", sin_stats);
  summary("cos", cos_stats);
  summary("sincos", all, 2);
  summary("far sin", far_sin);
  summary("far cos", far_cos);
  summary("far", far_all, 2);
  summary("atan2", at_stats);
  all.insert(all.end(), far_all.begin(), far_all.end());
  all.insert(all.end(), at_stats.begin(), at_stats.end());
  bool failed = false;
  for (const Stat *s : all) failed |= s->failed();
  printf("%s\n", failed ? "FAILED: see ** above" : "all errors within the claimed bounds");
  for (SinCosRun *r : sc) delete r;
  for (SinCosRun *r : far) delete r;
  for (Atan2Run *r : at) delete r;
  mpfr_free_cache();
  return failed ? 1 : 0;
}
