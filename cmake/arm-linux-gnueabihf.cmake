# Cross build for 32-bit ARM (armhf) with Debian's arm-linux-gnueabihf toolchain
# (package g++-arm-linux-gnueabihf). Used by the kernel stage, which runs the
# binary on an emulated i.MX6 board: configure it with
# -DCMAKE_EXE_LINKER_FLAGS=-static, as the board's initramfs has no C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ROMFLASH_CROSS_TRIPLE arm-linux-gnueabihf)
set(ROMFLASH_CROSS_SYSROOT /usr/${ROMFLASH_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${ROMFLASH_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ROMFLASH_CROSS_TRIPLE}-g++)

# Search the target tree for libraries and headers, the host for programs.
set(CMAKE_FIND_ROOT_PATH ${ROMFLASH_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
