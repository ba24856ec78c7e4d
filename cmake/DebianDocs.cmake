# SPDX-License-Identifier: MIT
# Run by CPack on each staged package tree before the .deb is made: Debian
# wants manual pages gzipped (-9n, reproducible) and a copyright file in
# /usr/share/doc/PACKAGE.
file(GLOB _staged LIST_DIRECTORIES true ${CPACK_TEMPORARY_DIRECTORY}/*)
foreach(_tree IN LISTS _staged)
  get_filename_component(_component ${_tree} NAME)
  set(_package romflash)
  if(_component STREQUAL "simulator")
    set(_package flashsim)
  endif()
  file(GLOB_RECURSE _pages ${_tree}/usr/share/man/*.[1-9])
  foreach(_page IN LISTS _pages)
    execute_process(COMMAND gzip -9n ${_page} RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "gzip ${_page} failed")
    endif()
  endforeach()
  file(MAKE_DIRECTORY ${_tree}/usr/share/doc/${_package})
  file(WRITE ${_tree}/usr/share/doc/${_package}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: romflash

Files: *
Copyright: 2026 the romflash developers
License: UNLICENSED
 No licence has been granted yet; this package is for the project's own
 boards and test machines.
")
endforeach()
