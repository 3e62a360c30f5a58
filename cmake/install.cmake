# Install rules.  The Debian packages (debian/) split this tree in two:
#
#   quorvane-module   LIBDIR/quorvane/libquorvane.so        the module
#   quorvane-devhost  LIBDIR/quorvane-devhost/libquorvane-devhost.so
#                     bin/quorvane-host, bin/quorvane-mock-service
#                     share/man/man1/                       their manual pages
#                     share/quorvane-devhost/web/           the login page of
#                                                           quorvane-host serve
#                                                           (web/CMakeLists.txt)
#   (both)            share/doc/quorvane/                   README and notes
#
# LIBDIR is GNUInstallDirs' choice: lib/<multiarch triplet> when
# CMAKE_INSTALL_PREFIX is /usr (debhelper names it itself, also when
# cross-compiling), lib otherwise.  The development host library is private
# to the two programs: it lives in a folder of its own, which quorvane-host
# names in its RUNPATH, so no ldconfig run and no soname applies to it.  The
# programs find that library and the module relative to themselves, so an
# installed tree works wherever it is unpacked.
include(GNUInstallDirs)

set(QUORVANE_MODULE_DIR "${CMAKE_INSTALL_LIBDIR}/quorvane")
set(QUORVANE_DEVHOST_DIR "${CMAKE_INSTALL_LIBDIR}/quorvane-devhost")

install(TARGETS devhost LIBRARY DESTINATION ${QUORVANE_DEVHOST_DIR})
install(TARGETS quorvane LIBRARY DESTINATION ${QUORVANE_MODULE_DIR})
install(TARGETS quorvane-host quorvane-mock-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/quorvane-host.1 man/quorvane-mock-service.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md docs/security.md docs/host-contract.md docs/packaging.md docs/running.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# quorvane-host links libquorvane-devhost.so from its private folder.
file(RELATIVE_PATH _quorvane_bin_to_devhost "/${CMAKE_INSTALL_BINDIR}" "/${QUORVANE_DEVHOST_DIR}")
set_target_properties(quorvane-host PROPERTIES INSTALL_RPATH "$ORIGIN/${_quorvane_bin_to_devhost}")
# Where quorvane-host looks for the module when --module is not given: first
# the build tree's lib/, then the installed module relative to the program
# (an unpacked package, an install under any prefix), then its absolute path.
file(RELATIVE_PATH _quorvane_bin_to_module "/${CMAKE_INSTALL_BINDIR}" "/${QUORVANE_MODULE_DIR}/libquorvane.so")
target_compile_definitions(quorvane-host PRIVATE
  QUORVANE_RELATIVE_MODULE="${_quorvane_bin_to_module}"
  QUORVANE_INSTALLED_MODULE="${CMAKE_INSTALL_FULL_LIBDIR}/quorvane/libquorvane.so")
