# Cross build for the board: 32-bit big-endian PowerPC with Debian's
# powerpc-linux-gnu toolchain (package g++-powerpc-linux-gnu). Test programs
# run through qemu-ppc (package qemu-user), pointed at the target's sysroot so
# the dynamic loader and libc come from there rather than from the host.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(ROMFLASH_CROSS_TRIPLE powerpc-linux-gnu)
set(ROMFLASH_CROSS_SYSROOT /usr/${ROMFLASH_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${ROMFLASH_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ROMFLASH_CROSS_TRIPLE}-g++)

# Search the target tree for libraries and headers, the host for programs.
set(CMAKE_FIND_ROOT_PATH ${ROMFLASH_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc;-L;${ROMFLASH_CROSS_SYSROOT})
