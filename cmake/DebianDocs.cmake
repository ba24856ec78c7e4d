# SPDX-License-Identifier: MIT
# Run by CPack on each staged package tree before the .deb is made: Debian
# wants manual pages gzipped (-9n, reproducible) and the licence in a
# machine-readable copyright file, /usr/share/doc/PACKAGE/copyright, rather
# than as a loose LICENSE file.
file(READ ${CPACK_ROMFLASH_LICENSE_FILE} _licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${_licence}")
set(_holders ${CMAKE_MATCH_1})
# The terms are the text after the copyright line, each line indented by one
# blank and each empty line written as " ." (a DEP-5 field's continuation).
string(REGEX REPLACE "^.*Copyright[^\n]*\n+" "" _terms "${_licence}")
string(REGEX REPLACE "\n+$" "" _terms "${_terms}")
string(REPLACE "\n\n" "\n.\n" _terms "${_terms}")
string(REPLACE "\n" "\n " _terms " ${_terms}")

file(GLOB _staged LIST_DIRECTORIES true ${CPACK_TEMPORARY_DIRECTORY}/*)
foreach(_tree IN LISTS _staged)
  get_filename_component(_component ${_tree} NAME)
  set(_package romflash)
  if(_component STREQUAL "simulator")
    set(_package flashsim)
  elseif(_component STREQUAL "fleet")
    set(_package romflash-fleet)
  endif()
  file(GLOB_RECURSE _pages ${_tree}/usr/share/man/*.[1-9])
  foreach(_page IN LISTS _pages)
    execute_process(COMMAND gzip -9n ${_page} RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "gzip ${_page} failed")
    endif()
  endforeach()
  file(GLOB _loose ${_tree}/usr/share/doc/*/LICENSE)
  if(_loose)
    file(REMOVE ${_loose})
  endif()
  file(MAKE_DIRECTORY ${_tree}/usr/share/doc/${_package})
  # "Expat" is Debian's name for the licence SPDX calls MIT.
  file(WRITE ${_tree}/usr/share/doc/${_package}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: romflash

Files: *
Copyright: ${_holders}
License: Expat

License: Expat
${_terms}
")
endforeach()
