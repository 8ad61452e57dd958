# SPDX-License-Identifier: BSD-3-Clause
# Installation under GNUInstallDirs, the CMake package, pkg-config, and the
# Debian packages built by CPack:
#   libtrueanomaly1     libtrueanomaly.so.1 -> libtrueanomaly.so.1.0.0
#   libtrueanomaly-dev  headers, libtrueanomaly.so, CMake and pkg-config
#                       files, the Fortran module source
# For Debian packages configure with -DCMAKE_INSTALL_PREFIX=/usr, so the
# library goes to the multiarch directory, then run `cpack -G DEB`.

include(CMakePackageConfigHelpers)

set(_runtime libtrueanomaly1)
set(_dev libtrueanomaly-dev)
set(_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/trueanomaly")
set(_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

install(TARGETS trueanomaly EXPORT trueanomalyTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    COMPONENT ${_runtime} NAMELINK_COMPONENT ${_dev})
install(FILES include/trueanomaly.h include/trueanomaly.hpp
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT ${_dev})
install(FILES bindings/fortran/trueanomaly.f90
  DESTINATION "${CMAKE_INSTALL_DATADIR}/trueanomaly/fortran" COMPONENT ${_dev})

# Man pages trueanomaly(3) and trueanomaly_array(3), compressed as Debian
# wants them (gzip -9n: no name, no time stamp).
find_program(TRUEANOMALY_GZIP gzip)
if(TRUEANOMALY_GZIP)
  set(_man_pages "")
  foreach(_page trueanomaly trueanomaly_array)
    set(_in "${PROJECT_SOURCE_DIR}/docs/man/${_page}.3")
    set(_out "${CMAKE_CURRENT_BINARY_DIR}/man/${_page}.3.gz")
    add_custom_command(OUTPUT "${_out}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/man"
      COMMAND sh -c "'${TRUEANOMALY_GZIP}' -9n < '${_in}' > '${_out}'"
      DEPENDS "${_in}" VERBATIM)
    list(APPEND _man_pages "${_out}")
  endforeach()
  add_custom_target(trueanomaly_man_pages ALL DEPENDS ${_man_pages})
  install(FILES ${_man_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man3" COMPONENT ${_dev})
else()
  message(STATUS "No gzip: the man pages are not installed")
endif()

# CMake package: find_package(trueanomaly 1 CONFIG REQUIRED).
install(EXPORT trueanomalyTargets NAMESPACE trueanomaly::
  DESTINATION "${_cmake_dir}" COMPONENT ${_dev})
configure_package_config_file(cmake/trueanomalyConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/trueanomalyConfig.cmake"
  INSTALL_DESTINATION "${_cmake_dir}")
write_basic_package_version_file(
  "${CMAKE_CURRENT_BINARY_DIR}/trueanomalyConfigVersion.cmake"
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/trueanomalyConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/trueanomalyConfigVersion.cmake"
  DESTINATION "${_cmake_dir}" COMPONENT ${_dev})

# pkg-config: paths relative to ${pcfiledir}, so the file stays right when
# the installed tree is moved, and under a multiarch libdir (three levels
# below the prefix, where pkg-config's --define-prefix would guess two).
if(IS_ABSOLUTE "${_pc_dir}")
  set(TRUEANOMALY_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _up "/prefix/${_pc_dir}" "/prefix")
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(TRUEANOMALY_PC_PREFIX "\${pcfiledir}/${_up}")
endif()
foreach(_dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
    set(TRUEANOMALY_PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
  else()
    set(TRUEANOMALY_PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
  endif()
endforeach()
configure_file(cmake/trueanomaly.pc.in "${CMAKE_CURRENT_BINARY_DIR}/trueanomaly.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/trueanomaly.pc"
  DESTINATION "${_pc_dir}" COMPONENT ${_dev})

# Debian packages (a top-level build only: a parent project keeps its own).
if(NOT TRUEANOMALY_PACKAGE)
  return()
endif()
set(CPACK_PACKAGE_NAME trueanomaly)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# The synopsis of both packages is the project's description. Whoever builds
# the packages is their maintainer, and says so; cpack stops without it.
set(TRUEANOMALY_PACKAGE_CONTACT "" CACHE STRING
    "Maintainer of the Debian packages you build: \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${TRUEANOMALY_PACKAGE_CONTACT}")
configure_file(cmake/debian/check_contact.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/cpack_check_contact.cmake" @ONLY)
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_BINARY_DIR}/cpack_check_contact.cmake")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${_runtime} ${_dev})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

# /usr/share/doc/<package>/: the machine-readable copyright file (the licence
# from LICENSE), the Debian changelog and the upstream one, gzip -9n.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" _licence)
string(REGEX REPLACE "^.*\n(Redistribution and use)" "\\1" _licence "${_licence}")
string(REGEX REPLACE "\n+$" "" _licence "${_licence}")
string(REGEX REPLACE "\n\n" "\n.\n" _licence "${_licence}")
string(REPLACE "\n" "\n " _licence "${_licence}")
set(TRUEANOMALY_DEB_LICENSE " ${_licence}")
set(TRUEANOMALY_DEB_CONTACT "${TRUEANOMALY_PACKAGE_CONTACT}")
set(TRUEANOMALY_DEB_VERSION "${_deb_version}")
# The date of this release's Debian changelog entry.
set(TRUEANOMALY_DEB_DATE "Wed, 09 Dec 2026 00:00:00 +0000")
configure_file(cmake/debian/copyright.in "${CMAKE_CURRENT_BINARY_DIR}/debian/copyright" @ONLY)
foreach(_package ${_runtime} ${_dev})
  set(_doc "${CMAKE_CURRENT_BINARY_DIR}/debian/${_package}")
  set(TRUEANOMALY_DEB_PACKAGE ${_package})
  configure_file(cmake/debian/changelog.in "${_doc}/changelog.Debian" @ONLY)
  if(TRUEANOMALY_GZIP)
    execute_process(COMMAND sh -c "'${TRUEANOMALY_GZIP}' -9n < '${_doc}/changelog.Debian' > '${_doc}/changelog.Debian.gz'")
    execute_process(COMMAND sh -c "'${TRUEANOMALY_GZIP}' -9n < '${PROJECT_SOURCE_DIR}/CHANGELOG.md' > '${_doc}/changelog.gz'")
    install(FILES "${_doc}/changelog.Debian.gz" "${_doc}/changelog.gz"
      DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package}" COMPONENT ${_package})
  endif()
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/debian/copyright"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package}" COMPONENT ${_package})
  # Lintian overrides, each with its reason (cmake/debian/lintian-overrides).
  set(PACKAGE ${_package})
  configure_file(cmake/debian/lintian-overrides "${_doc}/lintian-overrides" @ONLY)
  install(FILES "${_doc}/lintian-overrides" RENAME ${_package}
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides" COMPONENT ${_package})
endforeach()

set(CPACK_DEBIAN_LIBTRUEANOMALY1_PACKAGE_NAME ${_runtime})
# The loader cache is refreshed by dpkg's ldconfig trigger, not by scripts.
set(CPACK_DEBIAN_LIBTRUEANOMALY1_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/cmake/debian/triggers")
set(CPACK_DEBIAN_LIBTRUEANOMALY1_PACKAGE_SECTION libs)
# Extended descriptions in lines of at most 80 characters.
set(_about "Solves Kepler's equation by Newton-Raphson in a fixed single/double\nprecision pattern, so results repeat bit for bit with the same libm.")
set(CPACK_DEBIAN_LIBTRUEANOMALY1_DESCRIPTION
    "${_about}\n\nThis package holds the shared library.")
# Depends from the ELF's needs (libc6); the shlibs file lets packages built
# against this one depend on libtrueanomaly1 (>= the version they used).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_LIBTRUEANOMALY-DEV_PACKAGE_NAME ${_dev})
set(CPACK_DEBIAN_LIBTRUEANOMALY-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBTRUEANOMALY-DEV_PACKAGE_DEPENDS "${_runtime} (= ${_deb_version})")
set(CPACK_DEBIAN_LIBTRUEANOMALY-DEV_DESCRIPTION
    "${_about}\n\nThis package holds the C and C++ headers, the man pages, the CMake package\n(find_package(trueanomaly)), the pkg-config file and the Fortran module\nsource.")
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/debian/drop_ldconfig_scripts.cmake")

include(CPack)
