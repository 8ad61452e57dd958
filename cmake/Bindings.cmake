# SPDX-License-Identifier: BSD-3-Clause
# The C++, Fortran and Python bindings: their examples and tests. Included
# from the top-level CMakeLists.txt after the library, examples and tests.

option(TRUEANOMALY_FORTRAN "Build the Fortran module, example and test when a Fortran compiler is found"
       ${PROJECT_IS_TOP_LEVEL})

if(TRUEANOMALY_FORTRAN)
  include(CheckLanguage)
  check_language(Fortran)
  if(CMAKE_Fortran_COMPILER)
    enable_language(Fortran)
    # The module holds interfaces only; this library just builds its .mod.
    add_library(trueanomaly_fortran STATIC bindings/fortran/trueanomaly.f90)
    set_target_properties(trueanomaly_fortran PROPERTIES
      Fortran_MODULE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/fortran-modules")
    target_include_directories(trueanomaly_fortran INTERFACE
      "${CMAKE_CURRENT_BINARY_DIR}/fortran-modules")
    target_link_libraries(trueanomaly_fortran INTERFACE trueanomaly)
  else()
    message(STATUS "No Fortran compiler: the Fortran example and test are not built")
  endif()
endif()

if(TRUEANOMALY_BUILD_EXAMPLES)
  add_executable(orbit_cpp examples/cpp/orbit.cpp)
  target_link_libraries(orbit_cpp PRIVATE trueanomaly::trueanomaly)
  trueanomaly_warnings(orbit_cpp)
  if(TARGET trueanomaly_fortran)
    add_executable(orbit_fortran examples/fortran/orbit.f90)
    target_link_libraries(orbit_fortran PRIVATE trueanomaly_fortran)
  endif()
endif()

if(TRUEANOMALY_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(trueanomaly_cpp_tests tests/cpp/test_cpp_binding.cpp)
  target_link_libraries(trueanomaly_cpp_tests PRIVATE trueanomaly GTest::gtest_main)
  target_include_directories(trueanomaly_cpp_tests PRIVATE "${PROJECT_SOURCE_DIR}/tests")
  trueanomaly_warnings(trueanomaly_cpp_tests -Wshadow -Wpedantic)
  trueanomaly_gtests(trueanomaly_cpp_tests PREFIX cpp. GROUPS "*" bindings)
  # What the compiler says to a user who drops a status, or who is on C++14.
  set(_compile_check "${CMAKE_CXX_COMPILER}" -fsyntax-only -Wall -Werror
      -I "${CMAKE_CURRENT_SOURCE_DIR}/include")
  trueanomaly_test(cpp.ignored_status_is_an_error LABELS bindings
    COMMAND ${_compile_check} -std=c++17 "${CMAKE_CURRENT_SOURCE_DIR}/tests/cpp/compile/ignored_status.cpp"
    PROPERTIES PASS_REGULAR_EXPRESSION "nodiscard|ignoring return value|unused-result")
  trueanomaly_test(cpp.cxx14_gets_one_clear_error LABELS bindings
    COMMAND ${_compile_check} -std=c++14 "${CMAKE_CURRENT_SOURCE_DIR}/tests/cpp/compile/cxx14.cpp"
    PROPERTIES PASS_REGULAR_EXPRESSION "needs C\\+\\+17" FAIL_REGULAR_EXPRESSION "is not a member")

  if(TARGET trueanomaly_fortran)
    add_executable(trueanomaly_fortran_test tests/fortran/test_fortran_binding.f90)
    target_link_libraries(trueanomaly_fortran_test PRIVATE trueanomaly_fortran)
    trueanomaly_test(fortran.binding LABELS bindings COMMAND trueanomaly_fortran_test)
  endif()

  if(TRUEANOMALY_BUILD_EXAMPLES)
    trueanomaly_test(example.cpp LABELS examples COMMAND orbit_cpp)
    if(TARGET orbit_fortran)
      trueanomaly_test(example.fortran LABELS examples COMMAND orbit_fortran)
    endif()
  endif()

  # Python tests exit with 77 (skipped) where numpy or Dask is missing, so the
  # suite passes on machines without them.
  if(TARGET trueanomaly_python)
    # The package as built, checked against the shared library's scalar
    # entry; once more with its conversions routed through that library.
    set(_python_env
      "PYTHONPATH=${TRUEANOMALY_PYTHON_DIR}"
      "TRUEANOMALY_REFERENCE=$<TARGET_FILE:trueanomaly>"
      "PYTHONDONTWRITEBYTECODE=1")
    set(_python_test "${CMAKE_CURRENT_SOURCE_DIR}/tests/python/test_trueanomaly.py")
    trueanomaly_test(python.binding LABELS bindings
      COMMAND "${Python3_EXECUTABLE}" "${_python_test}"
      PROPERTIES ENVIRONMENT "${_python_env}" SKIP_RETURN_CODE 77)
    trueanomaly_test(python.binding_through_the_library LABELS bindings
      COMMAND "${Python3_EXECUTABLE}" "${_python_test}"
      PROPERTIES ENVIRONMENT "${_python_env};TRUEANOMALY_LIBRARY=$<TARGET_FILE:trueanomaly>"
                 SKIP_RETURN_CODE 77)
    trueanomaly_test(python.dask_catalogue LABELS bindings TIMEOUT 60
      COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/examples/python/dask_catalogue.py"
              200000 --chunk 25000
      PROPERTIES ENVIRONMENT "${_python_env}" SKIP_RETURN_CODE 77)
  elseif(TRUEANOMALY_SANITIZE)
    message(STATUS "Sanitizer build: the Python and Dask tests are not registered")
  elseif(CMAKE_CROSSCOMPILING)
    message(STATUS "Cross-compiling: the Python and Dask tests are not registered")
  else()
    message(STATUS "No Python package core: the Python and Dask tests are not registered")
  endif()
endif()
