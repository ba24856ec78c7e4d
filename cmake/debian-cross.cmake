# SPDX-License-Identifier: MIT
# What every Debian cross toolchain file shares: the compilers named by
# ROMFLASH_CROSS_TRIPLE, and the target's tree under /usr/TRIPLE searched for
# libraries and headers while programs come from the host.
set(CMAKE_SYSTEM_NAME Linux)
set(ROMFLASH_CROSS_SYSROOT /usr/${ROMFLASH_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${ROMFLASH_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ROMFLASH_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH ${ROMFLASH_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
