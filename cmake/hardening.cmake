# Debian's hardening flags for Release builds and package builds (debhelper
# configures with CMAKE_BUILD_TYPE=None and passes dpkg-buildflags' flags):
# what dpkg-buildflags gives with DEB_BUILD_MAINT_OPTIONS=hardening=+all,
# plus the two it gains only after Debian 12 (dpkg 1.22): stack-clash
# protection and the architecture's control-flow protection.
#
#   -fstack-protector-strong             stack canaries
#   -D_FORTIFY_SOURCE=2                  checked string and memory functions
#   -Wformat -Werror=format-security     no format string from data
#   -Wl,-z,relro -Wl,-z,now              full RELRO: GOT read-only after
#                                        immediate binding
#   -fstack-clash-protection             stack probes for large frames
#   -fcf-protection (x86-64)             CET: endbr64 landing pads, shadow
#                                        stack compatible code
#   -mbranch-protection=standard (arm64) PAC return-address signing and BTI
#                                        landing pads
#   position-independent executables     the compiler's default on Debian
#
# Sanitizer and fuzzing builds (QUORVANE_FUZZ comes from the command line)
# leave them out: _FORTIFY_SOURCE's checked functions hide faults from
# AddressSanitizer.  QUORVANE_HARDENING=ON adds them to other builds.
string(TOUPPER "${CMAKE_BUILD_TYPE}" _quorvane_build_type)
if(_quorvane_build_type MATCHES "^(RELEASE|NONE)$" AND NOT QUORVANE_SANITIZE AND NOT QUORVANE_FUZZ)
  set(_quorvane_hardening_default ON)
else()
  set(_quorvane_hardening_default OFF)
endif()
option(QUORVANE_HARDENING "Build with Debian's hardening flags" ${_quorvane_hardening_default})

if(QUORVANE_HARDENING)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    add_compile_options(-fcf-protection)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    add_compile_options(-mbranch-protection=standard)
  endif()
  # A package build brings _FORTIFY_SOURCE in its CPPFLAGS (debhelper adds
  # them to CXXFLAGS); a second definition with another level would be an
  # error under -Werror.  The C library honours it only when optimising.
  set(_quorvane_flags "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${_quorvane_build_type}}")
  if(NOT _quorvane_flags MATCHES "_FORTIFY_SOURCE" AND _quorvane_flags MATCHES "(^| )-O[1-3sz]?( |$)")
    add_compile_definitions(_FORTIFY_SOURCE=2)
  endif()
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
