# SPDX-License-Identifier: MIT
# Checks on the built romflash binary, run by CTest as `cmake -P`:
#
#   -DREADELF=<readelf of the target> -DBINARY=<file> -DCHECK=needed
#       The board offers the C library and nothing else, so the only shared
#       objects the binary may ask for are libc and the dynamic loader. A binary
#       that asks for no libc at all is rejected too: it would be a static link,
#       which the LD_PRELOAD simulator cannot reach.
#
#   -DREADELF=... -DBINARY=... -DCHECK=ppc32be
#       A cross build that silently fell back to the host compiler still
#       produces a "romflash" that runs its tests; only its header tells.
cmake_minimum_required(VERSION 3.20)

foreach(var READELF BINARY CHECK)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_elf.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${BINARY}")
  message(FATAL_ERROR "no such file: ${BINARY}")
endif()

function(run_readelf flag out)
  execute_process(COMMAND "${READELF}" ${flag} "${BINARY}"
    OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${READELF} ${flag} ${BINARY} failed (${rc}): ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(CHECK STREQUAL "needed")
  run_readelf(-d dynamic)
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" lines "${dynamic}")
  set(needed "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ".*\\[([^]]+)\\]$" "\\1" lib "${line}")
    list(APPEND needed "${lib}")
  endforeach()
  message(STATUS "${BINARY} needs: ${needed}")

  set(foreign "")
  foreach(lib IN LISTS needed)
    # libc.so.6 (glibc), and the loader under its per-architecture names:
    # ld.so.1 (32-bit PowerPC), ld64.so.N, ld-linux*.so.N.
    if(NOT lib MATCHES "^(libc\\.so\\.6|ld\\.so\\.1|ld64\\.so\\.[0-9]+|ld-linux[-a-z0-9_]*\\.so\\.[0-9]+)$")
      list(APPEND foreign "${lib}")
    endif()
  endforeach()
  if(foreign)
    list(JOIN foreign ", " foreign)
    message(FATAL_ERROR "${BINARY} needs more than the C library: ${foreign}")
  endif()
  if(NOT "libc.so.6" IN_LIST needed)
    message(FATAL_ERROR "${BINARY} is not linked dynamically against libc.so.6")
  endif()

elseif(CHECK STREQUAL "ppc32be")
  run_readelf(-h header)
  set(problems "")
  if(NOT header MATCHES "Class:[ \t]+ELF32\n")
    list(APPEND problems "not a 32-bit ELF file")
  endif()
  if(NOT header MATCHES "Data:[^\n]*big endian")
    list(APPEND problems "not big-endian")
  endif()
  if(NOT header MATCHES "Machine:[ \t]+PowerPC\n")
    list(APPEND problems "not built for 32-bit PowerPC")
  endif()
  if(problems)
    list(JOIN problems ", " problems)
    message(FATAL_ERROR "${BINARY}: ${problems}\n${header}")
  endif()

else()
  message(FATAL_ERROR "check_elf.cmake: unknown CHECK '${CHECK}'")
endif()
