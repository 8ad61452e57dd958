/* SPDX-License-Identifier: BSD-3-Clause */
/* Debian's libstdc++ headers are configured for glibc and test its version
 * with __GLIBC_PREREQ, which musl does not define: no glibc version here. */
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(major, minor) 0
#endif
