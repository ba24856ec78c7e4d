# SPDX-License-Identifier: MIT
include $(sort $(wildcard $(BR2_EXTERNAL_ROMFLASH_PATH)/romflash/*.mk))
