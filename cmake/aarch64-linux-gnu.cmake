# Toolchain for the appliance (64-bit Arm Linux) on a Debian 12 amd64 machine:
# Debian's cross compilers (crossbuild-essential-arm64), the arm64 Debian
# packages of the dependencies installed side by side with the amd64 ones
# (multiarch, /usr/lib/aarch64-linux-gnu), and qemu-user to run what is built.
#
# ACE's development package cannot be installed for arm64 next to the amd64
# one (it is not Multi-Arch), so tools/ci/cross.sh unpacks it into a
# directory of its own and names it here with -DQUORVANE_ARM64_OVERLAY=DIR;
# DIR/usr/lib/aarch64-linux-gnu/pkgconfig holds an ACE.pc that points there.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Programs run during the build are the machine's own; libraries, headers and
# CMake package files are the arm64 ones.  Multiarch keeps both in one tree,
# so the search root stays / and CMAKE_LIBRARY_ARCHITECTURE picks the
# aarch64-linux-gnu directories.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
if(QUORVANE_ARM64_OVERLAY)
  list(APPEND CMAKE_FIND_ROOT_PATH "${QUORVANE_ARM64_OVERLAY}")
endif()
# try_compile reads this file again in the same process; without the overlay
# there, it would reset the process-wide PKG_CONFIG_LIBDIR below.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVANE_ARM64_OVERLAY)

# pkg-config sees the arm64 .pc files only (and the architecture-independent
# ones), never the amd64 ones under /usr/lib/x86_64-linux-gnu.
set(_quorvane_pc_dirs /usr/lib/aarch64-linux-gnu/pkgconfig /usr/share/pkgconfig)
if(QUORVANE_ARM64_OVERLAY)
  list(PREPEND _quorvane_pc_dirs "${QUORVANE_ARM64_OVERLAY}/usr/lib/aarch64-linux-gnu/pkgconfig")
endif()
list(JOIN _quorvane_pc_dirs ":" _quorvane_pc_libdir)
set(ENV{PKG_CONFIG_LIBDIR} "${_quorvane_pc_libdir}")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

# ctest runs the test programs through qemu-user.  The emulated programs use
# the arm64 loader and C library of libc6:arm64 (/lib/ld-linux-aarch64.so.1),
# like every other arm64 library installed through multiarch.  No "-L
# /usr/aarch64-linux-gnu": that mixes the cross toolchain's loader with the
# multiarch C library of another Debian revision, and the first thread a
# program starts then never runs.  Libraries from the overlay are found
# through the build tree's RPATH.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
