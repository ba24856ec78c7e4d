// SPDX-License-Identifier: MIT
// The write enable before every program or erase, and the waits around it.
#include "flash/flash.h"

int enable_write() {
  FlashCommand work;
  if (select_command(&work, WREN) == 0 || flash_transfer(&work, nullptr, 0) != 0) {
    return STATUS_FAIL;
  }
  if (select_command(&work, RDSR_WEL) == 0) return STATUS_FAIL;
  return poll_status(&work, STATUS_WEL_MASK, true, WEL_TIMEOUT_MS);
}

int wait_write_done() {
  FlashCommand work;
  if (select_command(&work, RDSR_WIP) == 0) return STATUS_FAIL;
  return poll_status(&work, STATUS_WIP_MASK, false, WIP_TIMEOUT_MS);
}
