# SPDX-License-Identifier: BSD-3-Clause
# The vector paths of the array entry and the instruction-set flags each is
# compiled with: one trueanomaly_vector_path() line per row of the table in
# src/paths.h (checked below). Only x86-64 has them; on any other processor
# the library is the plain libm solve alone (no x86 flags, no cpuid, no
# indirect functions).
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
  trueanomaly_vector_path(avx512 -mavx512f -mfma)

  # The table in src/paths.h must list the same paths, in the same order.
  file(READ "${PROJECT_SOURCE_DIR}/src/paths.h" _paths_h)
  string(REGEX MATCHALL "\n  X\\([a-z0-9_]+," _rows "${_paths_h}")
  set(_table "")
  foreach(_row IN LISTS _rows)
    string(REGEX REPLACE "\n  X\\(([a-z0-9_]+)," "\\1" _name "${_row}")
    list(APPEND _table ${_name})
  endforeach()
  if(NOT _table STREQUAL TRUEANOMALY_VECTOR_PATHS)
    message(FATAL_ERROR "src/paths.h lists the vector paths '${_table}' but "
            "cmake/VectorPaths.cmake gives flags for '${TRUEANOMALY_VECTOR_PATHS}': "
            "give each table row one trueanomaly_vector_path() line, in the same order.")
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
