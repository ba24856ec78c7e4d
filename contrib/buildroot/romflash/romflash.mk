# SPDX-License-Identifier: MIT
################################################################################
#
# romflash
#
################################################################################

# Built from this source tree, used as a BR2_EXTERNAL:
#   make BR2_EXTERNAL=/path/to/romflash/contrib/buildroot menuconfig
ROMFLASH_VERSION = 1.0.0
ROMFLASH_SITE = $(BR2_EXTERNAL_ROMFLASH_PATH)/../..
ROMFLASH_SITE_METHOD = local
ROMFLASH_LICENSE = MIT
ROMFLASH_LICENSE_FILES = LICENSE

# The infrastructure already passes CMAKE_BUILD_TYPE=Release and
# BUILD_TESTING=OFF; they are repeated so the project's own check of this
# file (scripts/check-packaging.sh) configures exactly this way.
ROMFLASH_CONF_OPTS = -DBUILD_TESTING=OFF -DROMFLASH_WERROR=OFF

# The fleet component is not part of the default install.
ifeq ($(BR2_PACKAGE_ROMFLASH_FLEET),y)
define ROMFLASH_INSTALL_FLEET
	DESTDIR=$(TARGET_DIR) $(BR2_CMAKE) --install $(ROMFLASH_BUILDDIR) --component fleet
endef
ROMFLASH_POST_INSTALL_TARGET_HOOKS += ROMFLASH_INSTALL_FLEET
endif

$(eval $(cmake-package))
