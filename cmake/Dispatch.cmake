# SPDX-License-Identifier: BSD-3-Clause
# How the library binds its choice of vector path (src/dispatch.cpp):
# through GNU indirect functions, which the loader resolves when the
# library is loaded (glibc), or by a choice made on the first call and kept
# in an atomic pointer (C libraries without indirect functions, such as
# musl).
#
#   TRUEANOMALY_IFUNC       AUTO (indirect functions where this toolchain
#                           builds and runs them), ON (require them) or OFF
#   TRUEANOMALY_USES_IFUNC  the outcome: ON or OFF

set(TRUEANOMALY_IFUNC AUTO CACHE STRING
    "Bind the choice of path with GNU indirect functions: AUTO, ON or OFF (choose on first use)")
set_property(CACHE TRUEANOMALY_IFUNC PROPERTY STRINGS AUTO ON OFF)

set(TRUEANOMALY_USES_IFUNC OFF)
if(NOT TRUEANOMALY_VECTOR_PATHS)
  return()  # the plain path alone: nothing to choose
endif()

set(_why "TRUEANOMALY_IFUNC=OFF")
if(NOT TRUEANOMALY_IFUNC STREQUAL OFF)
  include(CheckCSourceCompiles)
  include(CheckCSourceRuns)
  set(_probe [=[
    static int chosen(void) { return 0; }
    static int (*resolve(void))(void) { return chosen; }
    int probe(void) __attribute__((ifunc("resolve")));
    int main(void) { return probe(); }
  ]=])
  if(CMAKE_CROSSCOMPILING)
    check_c_source_compiles("${_probe}" TRUEANOMALY_HAVE_IFUNC)
  else()
    check_c_source_runs("${_probe}" TRUEANOMALY_HAVE_IFUNC)
  endif()
  if(TRUEANOMALY_HAVE_IFUNC)
    set(TRUEANOMALY_USES_IFUNC ON)
  elseif(TRUEANOMALY_IFUNC STREQUAL ON)
    message(FATAL_ERROR "TRUEANOMALY_IFUNC=ON, but this toolchain cannot build and run GNU "
            "indirect functions (a C library without them, such as musl?). Configure with "
            "-DTRUEANOMALY_IFUNC=OFF or AUTO to choose the path on first use instead.")
  else()
    set(_why "this toolchain has no GNU indirect functions")
  endif()
endif()

if(TRUEANOMALY_USES_IFUNC)
  message(STATUS "libtrueanomaly: the path is chosen when the library is loaded (GNU indirect functions)")
else()
  message(STATUS "libtrueanomaly: the path is chosen on first use, kept in an atomic pointer (${_why})")
endif()
