# SPDX-License-Identifier: MIT
# Cross build for the board: 32-bit big-endian PowerPC with Debian's
# powerpc-linux-gnu toolchain (package g++-powerpc-linux-gnu). Test programs
# run through qemu-ppc (package qemu-user), pointed at the target's sysroot so
# the dynamic loader and libc come from there rather than from the host.
# -DCMAKE_CROSSCOMPILING_EMULATOR= (empty) builds as Buildroot and Yocto do,
# with no way to run a target program on the build machine.
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(ROMFLASH_CROSS_TRIPLE powerpc-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

if(NOT DEFINED CACHE{CMAKE_CROSSCOMPILING_EMULATOR})
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc;-L;${ROMFLASH_CROSS_SYSROOT})
endif()
