# SPDX-License-Identifier: MIT
SUMMARY = "Inspect and program SPI NOR flash through spidev"
DESCRIPTION = "romflash identifies the board's SPI NOR flash, reads and waits \
on its registers, erases, reads ranges into files, prints checksums and \
writes ROM images with verification, through the kernel's spidev device. \
It needs nothing but the C library at run time."
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=5c82bc03606b07c0e8d6c78f5cdf281b"

# Built from a checkout of this repository; in local.conf:
#   INHERIT += "externalsrc"
#   EXTERNALSRC:pn-romflash = "/path/to/romflash"
#   EXTERNALSRC_BUILD:pn-romflash = "${WORKDIR}/build"

inherit cmake

EXTRA_OECMAKE = "-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DROMFLASH_WERROR=OFF"

# The simulator is a development host's tool: its install component is
# never asked for here. The fleet component (SWUpdate handler, Mender update
# module, the scripts that build their images) is installed with
# PACKAGECONFIG:append:pn-romflash = " fleet", into ${PN}-fleet. Everything
# installed is claimed below.
PACKAGECONFIG ??= ""
PACKAGECONFIG[fleet] = ""
do_install:append() {
    if ${@bb.utils.contains('PACKAGECONFIG', 'fleet', 'true', 'false', d)}; then
        DESTDIR=${D} cmake --install ${B} --component fleet
    fi
}
PACKAGES =+ "${PN}-fleet ${PN}-bash-completion"
FILES:${PN}-fleet = "${bindir}/romflash-swu ${bindir}/romflash-mender ${datadir}/lua ${datadir}/mender"
RDEPENDS:${PN}-fleet = "${PN}"
FILES:${PN} = "${bindir} ${datadir}/romflash"
FILES:${PN}-doc = "${mandir} ${docdir}"
FILES:${PN}-bash-completion = "${datadir}/bash-completion"
RDEPENDS:${PN}-bash-completion = "bash-completion"
