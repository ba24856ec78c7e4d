# SPDX-License-Identifier: MIT
# Cross build for the board: 32-bit big-endian PowerPC with Debian's
# powerpc-linux-gnu toolchain (package g++-powerpc-linux-gnu). Test programs
# run through qemu-ppc (package qemu-user), pointed at the target's sysroot so
# the dynamic loader and libc come from there rather than from the host.
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(ROMFLASH_CROSS_TRIPLE powerpc-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc;-L;${ROMFLASH_CROSS_SYSROOT})
