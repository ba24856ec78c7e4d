// SPDX-License-Identifier: MIT
// What `flashsim run` hands to libflashsim.so through the environment, the
// defaults both sides assume, and the files a state directory holds besides
// the chip.
#pragma once
#include <cstdint>

#define FLASHSIM_ENV_STATE "FLASHSIM_STATE"
#define FLASHSIM_ENV_DEVICE "FLASHSIM_DEVICE"
#define FLASHSIM_ENV_TRACE "FLASHSIM_TRACE"
#define FLASHSIM_ENV_REALTIME "FLASHSIM_REALTIME"
#define FLASHSIM_ENV_BUFSIZ "FLASHSIM_BUFSIZ"
#define FLASHSIM_ENV_OVERHEAD "FLASHSIM_OVERHEAD_NS"
#define FLASHSIM_ENV_FAULTS "FLASHSIM_FAULTS"

namespace flashsim {

constexpr const char* DEFAULT_DEVICE = "/dev/spi0";
constexpr uint32_t DEFAULT_BUFSIZ = 4096;
constexpr uint64_t DEFAULT_OVERHEAD_NS = 10000;
constexpr const char* BUFSIZ_SYSFS_PATH = "/sys/module/spidev/parameters/bufsiz";

// Files in the state directory beside the chip's own.
constexpr const char* SETTINGS_FILE_NAME = "spidev-settings";  // mode and word size
constexpr const char* SUMMARY_FILE_NAME = "flashsim-summary";  // traffic counters

}  // namespace flashsim
