# SPDX-License-Identifier: MIT
# Cross build for 32-bit ARM (armhf) with Debian's arm-linux-gnueabihf toolchain
# (package g++-arm-linux-gnueabihf). Used by the kernel stage, which runs the
# binary on an emulated i.MX6 board: configure it with
# -DCMAKE_EXE_LINKER_FLAGS=-static, as the board's initramfs has no C library.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ROMFLASH_CROSS_TRIPLE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
