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

# Debian packages.
set(CPACK_PACKAGE_NAME trueanomaly)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# The synopsis of both packages is the project's description.
set(CPACK_PACKAGE_CONTACT "libtrueanomaly developers" CACHE STRING
    "Maintainer field of the Debian packages")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${_runtime} ${_dev})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

set(CPACK_DEBIAN_LIBTRUEANOMALY1_PACKAGE_NAME ${_runtime})
set(CPACK_DEBIAN_LIBTRUEANOMALY1_PACKAGE_SECTION libs)
set(_about "Solves Kepler's equation by Newton-Raphson in a fixed single/double precision pattern, so results repeat bit for bit with the same libm.")
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
    "${_about}\n\nThis package holds the C and C++ headers, the CMake package (find_package(trueanomaly)), the pkg-config file and the Fortran interface module source.")

include(CPack)
