/* SPDX-License-Identifier: BSD-3-Clause */
/* Another accurate libm, for LD_PRELOAD: sin, cos, sincos and atan2 that
 * differ from the system's own in the last bits, within the budget the
 * rounding tests allow libm (docs/exactness.md).
 *
 * Each result is the system libm's, moved by 0 to 3 ulp (half of all
 * arguments unmoved, 30 % by one ulp, 15 % by two, 5 % by three, either
 * way), chosen by a hash of the argument's bits, so every call with the
 * same argument gives the same value. sincos draws its own moves, so that
 * its sin and cos differ from sin's and cos's for about half of all
 * arguments: code that lets the compiler merge sin and cos into sincos
 * gives other bits than the pattern's two calls. Values stay in the ranges
 * the functions can take ([-1, 1], [-pi, pi]).
 *
 * With glibc's results within 1 ulp of the truth, these are within 4 ulp:
 * 2^-50 of sin and cos (|value| <= 1) and 2^-49 of atan2 (|value| <= pi),
 * the budgets of the rounding tests. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef double (*unary_fn)(double);
typedef double (*atan2_fn)(double, double);

static unary_fn system_sin, system_cos;
static atan2_fn system_atan2;

/* Resolved before main, so concurrent calls read only. */
__attribute__((constructor)) static void find_system_libm(void) {
  system_sin = (unary_fn)dlsym(RTLD_NEXT, "sin");
  system_cos = (unary_fn)dlsym(RTLD_NEXT, "cos");
  system_atan2 = (atan2_fn)dlsym(RTLD_NEXT, "atan2");
  if (!system_sin || !system_cos || !system_atan2) {
    fprintf(stderr, "other_libm: the system's sin, cos or atan2 not found\n");
    abort();
  }
}

static uint64_t bits_of(double x) {
  uint64_t u;
  memcpy(&u, &x, sizeof u);
  return u;
}

/* A move of -3 .. 3 ulp for the argument bits `key` and the function `salt`. */
static int ulp_move(uint64_t key, uint64_t salt) {
  uint64_t h = (key ^ salt) * 0x9e3779b97f4a7c15u;
  h ^= h >> 29;
  h *= 0xbf58476d1ce4e5b9u;
  h ^= h >> 32;
  const unsigned roll = (unsigned)(h % 100u);
  const int size = roll < 50 ? 0 : roll < 80 ? 1 : roll < 95 ? 2 : 3;
  return (h >> 40) & 1 ? size : -size;
}

static double moved(double value, int ulps, double bound) {
  if (isnan(value)) return value;
  for (; ulps > 0; --ulps) value = nextafter(value, INFINITY);
  for (; ulps < 0; ++ulps) value = nextafter(value, -INFINITY);
  return value > bound ? bound : value < -bound ? -bound : value;
}

enum { kSin = 1, kCos, kSincosSin, kSincosCos, kAtan2 };
static const uint64_t kSalt[] = {0, 0x51u, 0xc05u, 0x5c5u, 0x5ccu, 0xa72u};

double sin(double x) { return moved(system_sin(x), ulp_move(bits_of(x), kSalt[kSin]), 1.0); }

double cos(double x) { return moved(system_cos(x), ulp_move(bits_of(x), kSalt[kCos]), 1.0); }

void sincos(double x, double *s, double *c) {
  *s = moved(system_sin(x), ulp_move(bits_of(x), kSalt[kSincosSin]), 1.0);
  *c = moved(system_cos(x), ulp_move(bits_of(x), kSalt[kSincosCos]), 1.0);
}

double atan2(double y, double x) {
  const uint64_t key = bits_of(y) * 0x100000001b3u ^ bits_of(x);
  return moved(system_atan2(y, x), ulp_move(key, kSalt[kAtan2]), M_PI);
}
