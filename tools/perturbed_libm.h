/* SPDX-License-Identifier: BSD-3-Clause */
/* Force-included into the model when the near-tie miner builds it: the
 * model's sin, cos and atan2 calls go through these wrappers, which can move
 * one chosen call's result by one ulp (see mine_near_ties.c). */
#ifndef PERTURBED_LIBM_H
#define PERTURBED_LIBM_H
double perturbed_sin(double x);
double perturbed_cos(double x);
double perturbed_atan2(double y, double x);
#endif
