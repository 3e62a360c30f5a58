# Install rules and Debian packages (CPack).
#
#   bin/quorvane-host, bin/quorvane-mock-service
#   LIBDIR/libquorvane-devhost.so          the development host
#   LIBDIR/quorvane/libquorvane.so         the module
#   share/doc/quorvane/                    README and notes
#
# LIBDIR is GNUInstallDirs' choice: lib/<multiarch triplet> when
# CMAKE_INSTALL_PREFIX is /usr (as for the packages; a cross build names it
# itself), lib otherwise.  The programs find the development host and the
# module relative to themselves, so an installed tree works wherever it is
# unpacked.
include(GNUInstallDirs)

set(QUORVANE_MODULE_DIR "${CMAKE_INSTALL_LIBDIR}/quorvane")

install(TARGETS devhost LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS quorvane LIBRARY DESTINATION ${QUORVANE_MODULE_DIR})
install(TARGETS quorvane-host quorvane-mock-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/security.md)
  install(FILES docs/security.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# quorvane-host links libquorvane-devhost.so from LIBDIR beside bin/.
file(RELATIVE_PATH _quorvane_bin_to_lib "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(quorvane-host PROPERTIES INSTALL_RPATH "$ORIGIN/${_quorvane_bin_to_lib}")
# Where quorvane-host looks for the module when --module is not given: first
# the build tree's lib/, then the installed module relative to the program
# (an unpacked package, an install under any prefix), then its absolute path.
file(RELATIVE_PATH _quorvane_bin_to_module "/${CMAKE_INSTALL_BINDIR}" "/${QUORVANE_MODULE_DIR}/libquorvane.so")
target_compile_definitions(quorvane-host PRIVATE
  QUORVANE_RELATIVE_MODULE="${_quorvane_bin_to_module}"
  QUORVANE_INSTALLED_MODULE="${CMAKE_INSTALL_FULL_LIBDIR}/quorvane/libquorvane.so")

# The Debian package: the module, the development host and the tools.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "Quorvane module team")
set(CPACK_PACKAGE_CONTACT "Quorvane module team <quorvane-dev@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorvane cloud provider module with its development host")
# CPack puts the summary first and indents the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "The appliance backup host's plug-in module libquorvane.so (the Quorvane
cloud storage provider), with the development host that runs it off the
appliance: libquorvane-devhost.so, quorvane-host (loads the module, probes
its instances, logs in) and quorvane-mock-service (the service emulator).")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian package installs under /usr.  Configure package builds with
# -DCMAKE_INSTALL_PREFIX=/usr, so that LIBDIR is lib/<triplet> (a cross build
# also needs -DCMAKE_INSTALL_LIBDIR=lib/<triplet>: GNUInstallDirs does not
# choose the multiarch directory when cross-compiling).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps cannot see the arm64 ACE (unpacked, not installed) and
  # dpkg --print-architecture names the build machine's, so both are given.
  # The list is what dpkg-shlibdeps computes for the amd64 package.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    message(FATAL_ERROR "no Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libace-7.0.8 (>= 7.0.8+dfsg), libc6 (>= 2.34), libcpp-httplib0.11 (>= 0.11.4+ds), libcurl4 (>= 7.16.2), libgcc-s1 (>= 3.0), libssl3 (>= 3.0.0), libstdc++6 (>= 12)")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
