# SPDX-License-Identifier: BSD-3-Clause
# Results are defined bit for bit by the order and precision of every
# floating-point operation. These helpers refuse caller flags that would let
# the compiler change either, and put the flags that pin them on a target.

set(_trueanomaly_forbidden_flags
  "-Ofast" "-ffast-math" "-funsafe-math-optimizations" "-fassociative-math"
  "-freciprocal-math" "-ffinite-math-only" "-fno-signed-zeros"
  "-fno-trapping-math" "-ffp-contract=fast" "-ffp-contract=on"
  "-ffp-model=fast" "-mdaz-ftz" "-mfpmath=387" "-fcx-limited-range")

function(trueanomaly_refuse_inexact_flags)
  set(vars CMAKE_C_FLAGS CMAKE_CXX_FLAGS)
  foreach(config DEBUG RELEASE RELWITHDEBINFO MINSIZEREL ${CMAKE_BUILD_TYPE})
    string(TOUPPER "${config}" config)
    list(APPEND vars CMAKE_C_FLAGS_${config} CMAKE_CXX_FLAGS_${config})
  endforeach()
  list(REMOVE_DUPLICATES vars)
  foreach(var IN LISTS vars)
    separate_arguments(flags UNIX_COMMAND "${${var}}")
    foreach(flag IN LISTS flags)
      if(flag IN_LIST _trueanomaly_forbidden_flags)
        message(FATAL_ERROR
          "${var} contains '${flag}'. libtrueanomaly's results are defined bit "
          "for bit by IEEE operations in a fixed order; '${flag}' lets the "
          "compiler reorder, fuse or approximate them and would change results. "
          "Remove it (optimisation levels -O0..-O3 and -march are fine).")
      endif()
    endforeach()
  endforeach()
endfunction()

# Flags on the target come after CMAKE_<LANG>_FLAGS, so they win.
function(trueanomaly_exact_fp target)
  target_compile_options(${target} PRIVATE
    -ffp-contract=off -fno-fast-math -frounding-math)
endfunction()

# The library's own code calls libm's sin and cos as two calls, as the solve
# is written: without these flags GCC merges sin(x) and cos(x) of one
# argument into sincos(x), and a libm's sincos need not give the bits of its
# sin and cos. (The benchmark's libm loop keeps the merge: it is the loop a
# user's compiler makes of the pattern.) trueanomaly_check_libm_imports
# checks the linked library.
function(trueanomaly_libm_as_written target)
  target_compile_options(${target} PRIVATE -fno-builtin-sin -fno-builtin-cos)
endfunction()

# After each link of the shared library `target`: stop the build if it
# imports a merged form of sin and cos (tests/test_shared_object.cpp checks
# every libm import against libm itself).
function(trueanomaly_check_libm_imports target)
  if(NOT CMAKE_NM)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:${target}>
            -P "${PROJECT_SOURCE_DIR}/cmake/CheckLibmImports.cmake"
    VERBATIM)
endfunction()

# The independent test model's flags (tests/model/kepler_model.c): every
# product rounded before its subtraction, sin and cos two separate libm calls
# (never merged into sincos, never folded at compile time), the caller's
# rounding mode. The tests build it at -O0; tools that scan with it may
# optimise, which none of these flags lets change a result.
function(trueanomaly_model_fp target)
  target_compile_options(${target} PRIVATE
    -ffp-contract=off -fno-builtin -frounding-math -fno-fast-math)
endfunction()
