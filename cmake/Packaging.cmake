# SPDX-License-Identifier: MIT
# Debian packages, made with `cpack -G DEB` in a build tree:
#   romflash  the program, its manual page and bash completion, for the
#             architecture the tree was built for (a cross build packages for
#             its target);
#   flashsim  the simulator (command, LD_PRELOAD library, manual page and
#             completion), from host builds only;
#   romflash-fleet  the fleet component (SWUpdate handler, Mender update
#             module, the scripts that build their images), architecture
#             all, from host builds only.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME romflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(ROMFLASH_DEB_MAINTAINER "romflash developers <romflash@localhost>" CACHE STRING
  "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${ROMFLASH_DEB_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_ROMFLASH_PACKAGE_NAME romflash)
set(CPACK_DEBIAN_ROMFLASH_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_ROMFLASH_DESCRIPTION "program SPI NOR flash through spidev
romflash inspects and programs the SPI NOR flash of an embedded Linux
board through the kernel's spidev device: it identifies the chip, reads
and waits on its registers, erases, reads ranges into files, prints
checksums, and writes ROM images with verification.")

set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME flashsim)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION "simulated SPI NOR flash for testing spidev tools
flashsim keeps a simulated SPI NOR flash chip in a directory and runs
unmodified spidev programs (romflash, flashrom, update scripts) against
it through an LD_PRELOAD library, with traces, fault injection and
simulated device time, so flash updates can be tested in CI.")

set(CPACK_DEBIAN_FLEET_PACKAGE_NAME romflash-fleet)
set(CPACK_DEBIAN_FLEET_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FLEET_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_FLEET_PACKAGE_DEPENDS "romflash")
set(CPACK_DEBIAN_FLEET_PACKAGE_SUGGESTS "swupdate, mender-client, mender-artifact, cpio, openssl")
set(CPACK_DEBIAN_FLEET_DESCRIPTION "SWUpdate handler and Mender update module for romflash-update
romflash-fleet lets SWUpdate and Mender update the SPI NOR flash of boards
that expose it only through spidev: a Lua image handler for SWUpdate and
an update module for Mender install images with romflash-update, which
journals, verifies and keeps what it replaced for a rollback; romflash-swu
and romflash-mender build the signed .swu and the Mender artifact.")

# Man pages compressed, and the copyright file, as Debian packages carry them.
set(CPACK_ROMFLASH_LICENSE_FILE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianDocs.cmake)

if(CMAKE_CROSSCOMPILING)
  # The simulator is a development host's tool: only romflash is packaged.
  set(CPACK_COMPONENTS_ALL romflash)
  set(_deb_arch_of_powerpc powerpc)
  set(_deb_arch_of_arm armhf)
  set(_deb_arch_of_aarch64 arm64)
  set(ROMFLASH_DEB_ARCHITECTURE "${_deb_arch_of_${CMAKE_SYSTEM_PROCESSOR}}" CACHE STRING
    "Debian architecture of the packages of this cross build")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ROMFLASH_DEB_ARCHITECTURE})
  # dpkg-shlibdeps cannot work here: the cross C library
  # (libc6-<arch>-cross) has a shlibs file naming itself, "libc6:<arch>",
  # and no symbols file, so the result would be neither the target's
  # package name nor the version the binary needs. The C library is all
  # romflash links, so its Depends is the newest GLIBC_ symbol version that
  # the binary asks for, read when the package is made.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/CPackCrossDepends.cmake CONTENT
"execute_process(COMMAND \"${CMAKE_OBJDUMP}\" -T \"$<TARGET_FILE:romflash>\"
  OUTPUT_VARIABLE _symbols RESULT_VARIABLE _rc)
string(REGEX MATCHALL \"GLIBC_[0-9]+\\\\.[0-9]+(\\\\.[0-9]+)?\" _versions \"\${_symbols}\")
if(NOT _rc EQUAL 0 OR NOT _versions)
  message(FATAL_ERROR \"no GLIBC_ symbol versions in $<TARGET_FILE:romflash>\")
endif()
set(_newest 0)
foreach(_version IN LISTS _versions)
  string(REPLACE GLIBC_ \"\" _version \"\${_version}\")
  if(_version VERSION_GREATER _newest)
    set(_newest \${_version})
  endif()
endforeach()
set(CPACK_DEBIAN_ROMFLASH_PACKAGE_DEPENDS \"libc6 (>= \${_newest})\")
")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackCrossDepends.cmake)
else()
  set(CPACK_COMPONENTS_ALL romflash simulator fleet)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
