# SPDX-License-Identifier: BSD-3-Clause
# Cross-compiling for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu:
#   cmake -S . -B build-arm64 --toolchain cmake/toolchains/aarch64-linux-gnu.cmake
# Programs then run under qemu-aarch64 (Debian's qemu-user) through
# CMAKE_CROSSCOMPILING_EMULATOR, which ctest uses too.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_Fortran_COMPILER aarch64-linux-gnu-gfortran)
# Further roots (a cross-built GoogleTest, say) may come in -DCMAKE_FIND_ROOT_PATH.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
