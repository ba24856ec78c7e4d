# SPDX-License-Identifier: MIT
# CTest checks on the romflash binary itself (not on its behaviour); included
# from tests/ so they exist only with BUILD_TESTING.
set(_romflash_check_elf ${CMAKE_CURRENT_LIST_DIR}/check_elf.cmake)

# The sanitizer runtimes are shared libraries of their own, so only the plain
# builds are held to "the C library and nothing else".
if(NOT ROMFLASH_SANITIZE)
  add_test(NAME romflash_needs_only_libc
    COMMAND ${CMAKE_COMMAND} -DREADELF=${CMAKE_READELF} -DBINARY=$<TARGET_FILE:romflash>
            -DCHECK=needed -P ${_romflash_check_elf})
endif()

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "powerpc")
  add_test(NAME romflash_is_ppc32_big_endian
    COMMAND ${CMAKE_COMMAND} -DREADELF=${CMAKE_READELF} -DBINARY=$<TARGET_FILE:romflash>
            -DCHECK=ppc32be -P ${_romflash_check_elf})
endif()
