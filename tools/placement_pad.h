/* SPDX-License-Identifier: BSD-3-Clause
 * Included first in every unit of the library by tools/placement_spread.sh
 * (-include): PLACEMENT_PAD bytes at the head of each unit's .text, so that
 * every function after them starts that much further on. */
#define PLACEMENT_STRING_(x) #x
#define PLACEMENT_STRING(x) PLACEMENT_STRING_(x)
__asm__(".pushsection .text\n\t.skip " PLACEMENT_STRING(PLACEMENT_PAD) ", 0x90\n\t.popsection");
