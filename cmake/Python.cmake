# SPDX-License-Identifier: BSD-3-Clause
# The Python package: its compiled core (python/trueanomaly/_core.c, with
# the library's objects linked in) beside its Python files, assembled in
# <build>/python/trueanomaly, ready to import (PYTHONPATH=<build>/python)
# and what setup.py copies into a wheel.
#
#   TRUEANOMALY_PYTHON_MODULE  AUTO (build it where Python 3's headers and
#                              numpy are found), ON (require them) or OFF

set(TRUEANOMALY_PYTHON_MODULE AUTO CACHE STRING
    "Build the Python package's compiled core: AUTO, ON or OFF")
set_property(CACHE TRUEANOMALY_PYTHON_MODULE PROPERTY STRINGS AUTO ON OFF)

set(_want "${TRUEANOMALY_PYTHON_MODULE}")
if(_want STREQUAL AUTO AND (TRUEANOMALY_SANITIZE OR CMAKE_CROSSCOMPILING))
  # A sanitized module cannot be loaded into an uninstrumented python3, and
  # a cross-built one not into this machine's.
  set(_want OFF)
endif()
if(NOT _want)
  return()
endif()

if(TRUEANOMALY_PYTHON AND NOT Python3_EXECUTABLE)
  set(Python3_EXECUTABLE "${TRUEANOMALY_PYTHON}")
endif()
if(_want STREQUAL AUTO)
  find_package(Python3 COMPONENTS Interpreter Development.Module NumPy QUIET)
  if(NOT Python3_FOUND OR NOT Python3_NumPy_FOUND)
    message(STATUS "Python 3 headers or numpy not found: the Python package's core is not built "
            "(apt-get install python3-dev python3-numpy)")
    return()
  endif()
else()
  find_package(Python3 COMPONENTS Interpreter Development.Module NumPy REQUIRED)
endif()

set(TRUEANOMALY_PYTHON_DIR "${PROJECT_BINARY_DIR}/python")
Python3_add_library(trueanomaly_python MODULE WITH_SOABI python/trueanomaly/_core.c
                    $<TARGET_OBJECTS:trueanomaly_core>)
target_link_libraries(trueanomaly_python PRIVATE Python3::NumPy m ${CMAKE_DL_LIBS})
target_include_directories(trueanomaly_python PRIVATE
  "${PROJECT_SOURCE_DIR}/include" "${PROJECT_SOURCE_DIR}/src")
trueanomaly_exact_fp(trueanomaly_python)
trueanomaly_warnings(trueanomaly_python)
set(_map "${PROJECT_SOURCE_DIR}/python/trueanomaly/_core.map")
# Only PyInit__core is exported: the library's code inside stays private.
target_link_options(trueanomaly_python PRIVATE "LINKER:--version-script=${_map}"
                    "LINKER:-z,relro" "LINKER:-z,now")
set_target_properties(trueanomaly_python PROPERTIES
  OUTPUT_NAME _core
  LIBRARY_OUTPUT_DIRECTORY "${TRUEANOMALY_PYTHON_DIR}/trueanomaly"
  C_VISIBILITY_PRESET hidden
  LINKER_LANGUAGE C
  LINK_DEPENDS "${_map}")

# The package's Python files beside the module.
set(_files __init__.py _core.pyi py.typed)
set(_copies "")
foreach(_f IN LISTS _files)
  set(_to "${TRUEANOMALY_PYTHON_DIR}/trueanomaly/${_f}")
  add_custom_command(OUTPUT "${_to}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${PROJECT_SOURCE_DIR}/python/trueanomaly/${_f}" "${_to}"
    DEPENDS "${PROJECT_SOURCE_DIR}/python/trueanomaly/${_f}")
  list(APPEND _copies "${_to}")
endforeach()
add_custom_target(trueanomaly_python_files ALL DEPENDS ${_copies})
add_dependencies(trueanomaly_python trueanomaly_python_files)
message(STATUS "libtrueanomaly: Python package in ${TRUEANOMALY_PYTHON_DIR} (Python ${Python3_VERSION}, numpy ${Python3_NumPy_VERSION})")
