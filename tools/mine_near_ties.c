/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * Near-tie miner: finds inputs whose double intermediates (the residual f,
 * the slope d or the final true anomaly) sit so close to a single-precision
 * rounding boundary that moving ONE libm result (one sin, cos or atan2 call)
 * by one ulp changes the final float, the step count or the status.
 *
 * Such inputs catch builds that fuse a product into a subtraction, reorder an
 * expression or call a different libm routine: random inputs almost never do
 * (a given rounding is that close to a boundary about once in 10^8 or 10^9).
 *
 * Candidates come from cheap scans; each is then confirmed with the test
 * model built with perturbable libm wrappers: every call of the solve is
 * moved by +1 and by -1 ulp in turn and the outcome compared.
 *   - step-1 scan: for a mean anomaly M, sin(M) and cos(M) are computed once
 *     and many eccentricities are tried; f and d of the first Newton step are
 *     checked against the float rounding boundaries.
 *   - small-e scan: at small eccentricities the true anomaly is E + e*sin(E)
 *     to first order, so e can be tuned to put it half an ulp from E.
 *   - random scan: whole solves with every rounding point checked (slow).
 *
 * Usage: mine_near_ties SECONDS TARGET SEED > corpus.txt
 * Output lines: M e limit tolerance as float bit patterns / decimal integers,
 * then a comment with the regime, the decimal values and what changed.
 * tools/mine_near_ties.sh builds and runs it.
 */
#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "float_bits.h"
#include "kepler_model.h"
#include "perturbed_libm.h"

/* ---- perturbable libm ------------------------------------------------ */

static int64_t call_counter;     /* calls made since the solve started */
static int64_t perturbed_call = -1;
static int perturb_up;           /* 1: next float up, 0: next float down */
static int perturbed_kind;       /* 0 sin, 1 cos, 2 atan2 of the moved call */

static double moved(double r, int kind) {
  if (call_counter++ != perturbed_call) return r;
  perturbed_kind = kind;
  return nextafter(r, perturb_up ? INFINITY : -INFINITY);
}
double perturbed_sin(double x) { return moved(sin(x), 0); }
double perturbed_cos(double x) { return moved(cos(x), 1); }
double perturbed_atan2(double y, double x) { return moved(atan2(y, x), 2); }

/* ---- random numbers ---------------------------------------------------- */

static uint64_t rng_state;
static uint64_t next_u64(void) { /* splitmix64 */
  uint64_t z = (rng_state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}
static double uniform(double lo, double hi) {
  return lo + (hi - lo) * (double)(next_u64() >> 11) * 0x1p-53;
}
static float uniform_f(double lo, double hi) { return (float)uniform(lo, hi); }
static float bits_to_float(uint32_t u) { float f; memcpy(&f, &u, 4); return f; }

/* ---- regimes ------------------------------------------------------------ */

enum { CIRCLE, HIGH_E, NEGATIVE_E, RAW_BITS, HUGE_M, STRAYING, SMALL_E, REGIMES };
static const char *const regime_name[REGIMES] = {
    "circle", "high-e", "negative-e", "raw-bits", "huge-M", "straying", "small-e"};

static const double two_pi = 6.283185307179586;

static float draw_mean(int regime) {
  switch (regime) {
    case RAW_BITS: return bits_to_float((uint32_t)next_u64());
    case HUGE_M: {
      const float m = (float)pow(10.0, uniform(0.0, 10.0));
      return (next_u64() & 1) ? -m : m;
    }
    case HIGH_E: return uniform_f(-2.0 * two_pi, 2.0 * two_pi);
    default: return uniform_f(-two_pi, two_pi);
  }
}

static float draw_eccentricity(int regime) {
  switch (regime) {
    case HIGH_E: return uniform_f(0.9, 1.5);
    case NEGATIVE_E: return uniform_f(-2.0, 0.0);
    case RAW_BITS: return bits_to_float((uint32_t)next_u64());
    case STRAYING: return uniform_f(0.95, 0.99);
    default: return uniform_f(0.0, 0.99);
  }
}

static void draw_config(int regime, int32_t *limit, int32_t *tolerance) {
  const uint64_t r = next_u64();
  if (regime == RAW_BITS) {
    *limit = (int32_t)(r % 211) - 5;
    *tolerance = (int32_t)(uint32_t)(r >> 32);
    return;
  }
  *limit = (r & 3) ? 100 : (int32_t)(2 + (r >> 8) % 30);
  switch ((r >> 16) % 6) {
    case 0: case 1: case 2: *tolerance = 0; break;
    case 3: *tolerance = (int32_t)((r >> 24) % 4); break;
    case 4: *tolerance = 1000000; break;
    default: *tolerance = INT32_MAX; break;
  }
}

/* ---- closeness to a rounding boundary ------------------------------------ */

static double ulp_of(double x) {
  x = fabs(x);
  return nextafter(x, INFINITY) - x;
}

/* Distance from v to the nearest point where rounding to float (to nearest)
 * changes, divided by `effect`; large when v is not near a boundary. */
static double boundary_distance(double v, double effect) {
  const float r = (float)v;
  if (!(fabsf(r) >= FLT_MIN) || isinf(r) || v == (double)r) return 1e300;
  const float other = nextafterf(r, v > (double)r ? INFINITY : -INFINITY);
  const double midpoint = ((double)r + (double)other) * 0.5; /* exact */
  return fabs(v - midpoint) / effect;
}

/* ---- confirmation with the perturbed model -------------------------------- */

struct finding {
  int changed;           /* number of (call, direction) moves that changed it */
  int kind, up;          /* the first such move */
  int64_t call;
  const char *what;      /* "value", "steps" or "status" */
};

static int same_outcome(struct model_outcome a, struct model_outcome b,
                        const char **what) {
  if (a.solved != b.solved) { *what = "status"; return 0; }
  if (a.steps != b.steps) { *what = "steps"; return 0; }
  if (a.value != a.value && b.value != b.value) return 1;
  if (float_bits(a.value) != float_bits(b.value)) { *what = "value"; return 0; }
  return 1;
}

static int confirm(float m, float e, int32_t limit, int32_t tolerance,
                   struct finding *found) {
  perturbed_call = -1;
  call_counter = 0;
  const struct model_outcome base = model_solve(m, e, limit, tolerance);
  const int64_t calls = call_counter;
  if (calls > 2000) return 0;
  memset(found, 0, sizeof *found);
  for (int64_t i = 0; i < calls; ++i)
    for (int up = 0; up < 2; ++up) {
      perturbed_call = i;
      perturb_up = up;
      call_counter = 0;
      const struct model_outcome o = model_solve(m, e, limit, tolerance);
      const char *what = "";
      if (!same_outcome(base, o, &what)) {
        if (found->changed++ == 0) {
          found->kind = perturbed_kind;
          found->up = up;
          found->call = i;
          found->what = what;
        }
      }
    }
  perturbed_call = -1;
  return found->changed > 0;
}

/* The solve as a contracting compiler builds it: each product fused with the
 * subtraction that follows (E - sin(E)*e and 1 - cos(E)*e). */
static struct model_outcome fused_solve(float m, float e, int32_t limit, int32_t tolerance) {
  struct model_outcome o = {0, -1.0f, 0};
  float estimate = m, previous = m;
  for (;;) {
    if (o.steps > 0) {
      const float step = estimate - previous;
      const double mag = fabs((double)step);
      if (step != step || (mag < 2147483648.0 && (int64_t)mag <= (int64_t)tolerance)) break;
    }
    previous = estimate;
    const double E = estimate;
    const float f = (float)(fma(-sin(E), (double)e, E) - (double)m);
    const float d = (float)fma(-cos(E), (double)e, 1.0);
    estimate = previous - f / d;
    if (++o.steps >= limit) return o;
  }
  const double half = (double)estimate / 2.0;
  o.solved = 1;
  o.value = (float)(2.0 * atan2(sqrt((double)e + 1.0) * sin(half), sqrt(1.0 - (double)e) * cos(half)));
  return o;
}

/* ---- output --------------------------------------------------------------- */

#define MAX_FOUND 100000
static uint32_t seen_m[MAX_FOUND], seen_e[MAX_FOUND];
static int32_t seen_limit[MAX_FOUND], seen_tolerance[MAX_FOUND];
static int found_total, found_in[REGIMES];

static int emit(int regime, const char *source, float m, float e_given,
                int32_t limit, int32_t tolerance, const struct finding *f) {
  static const char *const kind[] = {"sin", "cos", "atan2", "fused multiply-add"};
  for (int i = 0; i < found_total; ++i)
    if (seen_m[i] == float_bits(m) && seen_e[i] == float_bits(e_given) &&
        seen_limit[i] == limit && seen_tolerance[i] == tolerance)
      return 0;
  if (found_total == MAX_FOUND) return 0;
  seen_m[found_total] = float_bits(m);
  seen_e[found_total] = float_bits(e_given);
  seen_limit[found_total] = limit;
  seen_tolerance[found_total] = tolerance;
  ++found_total;
  ++found_in[regime];
  if (f->kind == 3)
    printf("%08x %08x %d %d  # %s %s: M=%.9g e=%.9g; fused multiply-add changes %s\n",
           float_bits(m), float_bits(e_given), limit, tolerance,
           regime_name[regime], source, (double)m, (double)e_given, f->what);
  else
    printf("%08x %08x %d %d  # %s %s: M=%.9g e=%.9g; %s call %lld %s1ulp changes %s (%d moves)\n",
           float_bits(m), float_bits(e_given), limit, tolerance,
           regime_name[regime], source, (double)m, (double)e_given, kind[f->kind],
           (long long)f->call, f->up ? "+" : "-", f->what, f->changed);
  fflush(stdout);
  return 1;
}

/* Tries the regime's own configuration, then the common ones. */
static int quota[REGIMES];

static int confirm_and_emit(int regime, const char *source, float m, float e_given) {
  if (found_in[regime] >= quota[regime]) return 0;
  const float e = model_capped_eccentricity(e_given);
  int32_t limits[3], tolerances[3];
  draw_config(regime, &limits[0], &tolerances[0]);
  limits[1] = 2; tolerances[1] = INT32_MAX;
  limits[2] = 100; tolerances[2] = 0;
  for (int k = 0; k < 3; ++k) {
    struct finding f;
    if (confirm(m, e, limits[k], tolerances[k], &f))
      return emit(regime, source, m, e_given, limits[k], tolerances[k], &f);
  }
  /* Not moved by one libm ulp; kept if contraction alone changes it. */
  for (int k = 0; k < 3; ++k) {
    const char *what = "";
    if (!same_outcome(model_solve(m, e, limits[k], tolerances[k]),
                      fused_solve(m, e, limits[k], tolerances[k]), &what)) {
      struct finding f = {1, 3, 0, 0, what};
      return emit(regime, source, m, e_given, limits[k], tolerances[k], &f);
    }
  }
  return 0;
}

/* ---- scans ------------------------------------------------------------------ */

static uint64_t candidates_tried;

/* f and d of the first Newton step (E = M) for many eccentricities at one M,
 * computed exactly as the model does. */
enum { BATCH = 8192 };

/* Eccentricities for a first-step batch: consecutive floats from a random
 * start inside the regime (their products with sin M and cos M still differ
 * in every low bit), so the flag loop below vectorises. */
static float batch_start(int regime) {
  switch (regime) {
    case HIGH_E: return uniform_f(0.9, 0.989);
    case NEGATIVE_E: return uniform_f(-1.99, -0.001);
    case RAW_BITS: return bits_to_float((uint32_t)next_u64());
    case STRAYING: return uniform_f(0.95, 0.989);
    default: return uniform_f(0.001, 0.989);
  }
}

static int scan_first_step(int regime) {
  static unsigned char flag[BATCH];
  const float m = draw_mean(regime);
  const double M = m, s = sin(M), c = cos(M);
  const double s_up = nextafter(s, INFINITY), s_down = nextafter(s, -INFINITY);
  const double c_up = nextafter(c, INFINITY), c_down = nextafter(c, -INFINITY);
  const uint32_t start = float_bits(batch_start(regime));
  /* Exactly the question the confirmation asks, for this step's f and d,
   * and whether a fused multiply-add would change them. */
  for (uint32_t k = 0; k < BATCH; ++k) {
    const uint32_t b = start + k;
    float ef;
    memcpy(&ef, &b, sizeof ef);
    const double e = ef;
    const float f = (float)((M - s * e) - M);
    const float d = (float)(1.0 - c * e);
    flag[k] = (f != (float)((M - s_up * e) - M)) | (f != (float)((M - s_down * e) - M)) |
              (d != (float)(1.0 - c_up * e)) | (d != (float)(1.0 - c_down * e)) |
              (f != (float)(fma(-s, e, M) - M)) | (d != (float)fma(-c, e, 1.0));
  }
  int hits = 0;
  for (uint32_t k = 0; k < BATCH; ++k)
    if (flag[k]) {
      const float e_given = bits_to_float(start + k);
      if (e_given != e_given || model_capped_eccentricity(e_given) != e_given) continue;
      ++candidates_tried;
      hits += confirm_and_emit(regime, "first-step f/d", m, e_given);
    }
  return hits;
}

/* Small eccentricity: nu ~ E + e*sin(E). Aim nu at half an ulp (or k + 1/2
 * ulps) beside E and try the eccentricities around that aim. */
static int scan_small_eccentricity(void) {
  const float m = draw_mean(CIRCLE);
  const double M = m, s = sin(M), c = cos(M);
  if (fabs(s) < 1e-3) return 0;
  const double u = (double)nextafterf(fabsf(m), INFINITY) - fabs((double)m);
  const double k = (double)(next_u64() % 8) + 0.5;
  const float aim = (float)(k * u / fabs(s));
  if (!(aim > 0.0f) || aim > 0.01f) return 0;
  int hits = 0;
  float e_given = aim;
  for (int j = 0; j < 48; ++j) e_given = nextafterf(e_given, 0.0f);
  for (int j = 0; j < 96; ++j, e_given = nextafterf(e_given, 1.0f)) {
    const double e = e_given;
    const float f = (float)((M - s * e) - M);
    const float d = (float)(1.0 - c * e);
    const float E1 = m - f / d;
    const double half = (double)E1 / 2.0;
    const double a = atan2(sqrt(e + 1.0) * sin(half), sqrt(1.0 - e) * cos(half));
    const double nu = 2.0 * a;
    if (boundary_distance(nu, ulp_of(nu)) <= 2.0) {
      ++candidates_tried;
      hits += confirm_and_emit(SMALL_E, "nu half-ulp aim", m, e_given);
    }
  }
  return hits;
}

/* Huge mean anomalies: the Newton quotient is far below one ulp of M, so the
 * solve ends at E = M and only the conversion rounds; try many
 * eccentricities for one M against the final rounding of nu. */
static int scan_conversion_at_mean(int regime) {
  const float m = draw_mean(regime);
  if (fabsf(m) < 1e8f) return 0;
  const double half = (double)m / 2.0, ch = cos(half), sh = sin(half);
  const uint32_t start = float_bits(batch_start(regime));
  int hits = 0;
  for (uint32_t k = 0; k < 1024; ++k) {
    const float e_given = bits_to_float(start + k);
    const double e = e_given;
    const double nu = 2.0 * atan2(sqrt(e + 1.0) * sh, sqrt(1.0 - e) * ch);
    if (boundary_distance(nu, ulp_of(nu)) <= 2.0) {
      ++candidates_tried;
      hits += confirm_and_emit(regime, "conversion at E = M", m, e_given);
    }
  }
  return hits;
}

/* Whole solve with the regime's configuration, every rounding checked. */
static int scan_whole_solve(int regime) {
  const float m = draw_mean(regime);
  const float e_given = draw_eccentricity(regime);
  const float ef = model_capped_eccentricity(e_given);
  int32_t limit, tolerance;
  draw_config(regime, &limit, &tolerance);
  if (limit > 60) limit = 60;
  const double e = ef, M = m;
  float estimate = m, previous = m;
  int near = 0;
  for (int32_t n = 0;;) {
    if (n > 0) {
      const float step = estimate - previous;
      const double mag = fabs((double)step);
      if (step != step || (mag < 2147483648.0 && (int64_t)mag <= (int64_t)tolerance)) break;
    }
    previous = estimate;
    const double E = estimate;
    const double ps = sin(E) * e, difference = E - ps, f = difference - M;
    const double pc = cos(E) * e, d = 1.0 - pc;
    near |= boundary_distance(f, fmax(fmax(ulp_of(difference), ulp_of(ps)), ulp_of(f))) <= 2.0;
    near |= boundary_distance(d, fmax(ulp_of(d), ulp_of(pc))) <= 2.0;
    estimate = previous - (float)f / (float)d;
    if (++n >= limit) break;
  }
  const double half = (double)estimate / 2.0;
  const double nu = 2.0 * atan2(sqrt(e + 1.0) * sin(half), sqrt(1.0 - e) * cos(half));
  near |= boundary_distance(nu, ulp_of(nu)) <= 2.0;
  if (!near || found_in[regime] >= quota[regime]) return 0;
  ++candidates_tried;
  struct finding f;
  if (!confirm(m, ef, limit, tolerance, &f)) return 0;
  return emit(regime, "whole solve", m, e_given, limit, tolerance, &f);
}

int main(int argc, char **argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: %s SECONDS TARGET SEED [SCAN-MASK]\n", argv[0]);
    return 2;
  }
  const unsigned mask = argc == 5 ? (unsigned)strtoul(argv[4], NULL, 0) : ~0u;
  const double seconds = atof(argv[1]);
  const int target = atoi(argv[2]);
  rng_state = strtoull(argv[3], NULL, 0);
  const time_t start = time(NULL);
  /* Spread the corpus over the regimes; raw bits give mostly exact ties at
   * tiny M, and small-e entries come cheaply: cap both. */
  for (int r = 0; r < REGIMES; ++r) quota[r] = target / 8;
  quota[SMALL_E] = target / 4;
  printf("# near-tie corpus: M e limit tolerance (float bits in hex, integers)\n");
  /* Round-robin over the scans, a tenth of a second of CPU time each, skipping
   * regimes whose quota is full. Slot SMALL_E is the small-e scan, slot
   * REGIMES the whole-solve scan over random regimes. */
  unsigned long long round = 0;
  while (found_total < target && difftime(time(NULL), start) < seconds) {
    const int slot = (int)(round++ % (REGIMES + 1));
    if (!(mask >> slot & 1)) continue;
    if (slot < REGIMES && found_in[slot] >= quota[slot]) continue;
    const clock_t until = clock() + CLOCKS_PER_SEC / 10;
    while (clock() < until) {
      if (slot == SMALL_E) {
        scan_small_eccentricity();
      } else if (slot == REGIMES) {
        scan_whole_solve((int)(next_u64() % SMALL_E));
      } else if (slot == HUGE_M) {
        scan_conversion_at_mean(slot);
      } else {
        scan_first_step(slot);
      }
    }
  }
  fprintf(stderr, "found %d inputs from %llu candidates in %.0f s (%llu rounds):",
          found_total, (unsigned long long)candidates_tried,
          difftime(time(NULL), start), round);
  for (int r = 0; r < REGIMES; ++r) fprintf(stderr, " %s %d", regime_name[r], found_in[r]);
  fprintf(stderr, "\n");
  return 0;
}
