# SPDX-License-Identifier: BSD-3-Clause
# The library against musl on a Debian machine (Debian's musl-tools), as on
# Alpine: a C library without GNU indirect functions, with its own loader
# (/lib/ld-musl-x86_64.so.1). GCC's musl specs replace glibc's headers,
# start files and libraries; C++ takes libstdc++'s headers (the library
# uses only header-only parts) with musl-libstdcxx-shim.h, since Debian has
# no libstdc++ built for musl. Only C programs link (examples/orbit_table.c):
#   cmake -S . -B build-musl -G Ninja --toolchain cmake/toolchains/x86_64-linux-musl.cmake \
#     -DTRUEANOMALY_BUILD_TESTS=OFF -DTRUEANOMALY_FORTRAN=OFF -DTRUEANOMALY_PYTHON_MODULE=OFF
#   cmake --build build-musl --target trueanomaly orbit_table
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(_specs /usr/lib/x86_64-linux-musl/musl-gcc.specs)
set(CMAKE_C_FLAGS_INIT "-specs=${_specs}")
set(CMAKE_CXX_FLAGS_INIT "-specs=${_specs} -isystem /usr/include/c++/12 -isystem /usr/include/x86_64-linux-gnu/c++/12 -include ${CMAKE_CURRENT_LIST_DIR}/musl-libstdcxx-shim.h")
