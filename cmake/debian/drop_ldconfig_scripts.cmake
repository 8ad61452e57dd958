# SPDX-License-Identifier: BSD-3-Clause
# Run by cpack after the packages are built (CPACK_POST_BUILD_SCRIPTS).
# CPack adds postinst and postrm scripts that call ldconfig to any package
# with a library in /usr/lib; Debian refreshes the loader cache with dpkg's
# ldconfig trigger instead (cmake/debian/triggers), so the scripts are
# taken out again, and the package rebuilt with the same contents.
foreach(_deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _deb MATCHES "/libtrueanomaly1_[^/]*\\.deb$")
    continue()
  endif()
  set(_tree "${_deb}.tree")
  file(REMOVE_RECURSE "${_tree}")
  execute_process(COMMAND dpkg-deb -R "${_deb}" "${_tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${_tree}/DEBIAN/postinst" "${_tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${_tree}" "${_deb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${_tree}")
endforeach()
