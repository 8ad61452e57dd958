# SPDX-License-Identifier: BSD-3-Clause
# The vector implementations and the instruction-set flags each is compiled
# with: one trueanomaly_vector_path() line per src/path_<name>.cpp, in the
# order of kImplementations (src/implementation.h; a test holds the two
# lists together). Only x86-64 has them; on any other processor the library
# is the plain libm solve alone (no x86 flags, no cpuid, no indirect
# functions).
#
#   TRUEANOMALY_VECTOR_PATHS        the paths built, e.g. "avx2;avx512"
#   TRUEANOMALY_<PATH>_FLAGS        the flags of one path (e.g. _AVX2_FLAGS)
#   trueanomaly_path_sources(<path> <file>... [OPTIONS <flag>...])
#                                   compiles files (of the calling directory)
#                                   with that path's flags, and only those
#                                   files: code for a wider instruction set
#                                   lives in its own translation units,
#                                   reached only after a CPU check

set(TRUEANOMALY_VECTOR_PATHS "")
function(trueanomaly_vector_path name)
  string(TOUPPER "${name}" upper)
  set(TRUEANOMALY_${upper}_FLAGS ${ARGN} PARENT_SCOPE)
  set(TRUEANOMALY_VECTOR_PATHS ${TRUEANOMALY_VECTOR_PATHS} ${name} PARENT_SCOPE)
endfunction()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|x64)$"
   AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  trueanomaly_vector_path(avx2 -mavx2 -mfma)
  # The AVX-512 path requires F, VL, DQ and BW (dispatch.cpp). Clang's code
  # for the path's 256-bit float and integer lanes and its masks needs VL,
  # DQ and BW to follow GCC's (straggler driver at e = 0.95: 8.8 -> 7.0 ns);
  # GCC's measured slower with them (docs/performance.md).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    trueanomaly_vector_path(avx512 -mavx512f -mfma -mavx512vl -mavx512dq -mavx512bw)
  else()
    trueanomaly_vector_path(avx512 -mavx512f -mfma)
  endif()

  message(STATUS "libtrueanomaly: x86-64: plain path and vector paths ${TRUEANOMALY_VECTOR_PATHS}")
else()
  message(STATUS "libtrueanomaly: ${CMAKE_SYSTEM_PROCESSOR} is not x86-64: building the plain path only")
endif()

function(trueanomaly_path_sources path)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "OPTIONS")
  string(TOUPPER "${path}" upper)
  # -Wno-psabi: GCC notes that passing wide vectors changed ABI in GCC 4.9;
  # these functions never cross a library boundary.
  set_source_files_properties(${arg_UNPARSED_ARGUMENTS} PROPERTIES
    COMPILE_OPTIONS "${TRUEANOMALY_${upper}_FLAGS};-Wno-psabi;${arg_OPTIONS}")
endfunction()
