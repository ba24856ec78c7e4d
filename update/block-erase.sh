# SPDX-License-Identifier: MIT
# romflash-update, sourced: one run's erase and program. WRITE erases in 64 KiB
# steps, so on a part whose 0xD8 erases a larger block it would erase each
# block once per 64 KiB: here such a block gets one erase of its own and PP
# programs the run (skipping blank pages, ending with its own checksum).
# shellcheck shell=sh disable=SC3043,SC2154  # local; the settings romflash-update.sh makes

# AT LENGTH RUN_FILE SPAN RECOVERY
write_run() {
  local block end=$(($1 + $2)) at="$1"
  block=$(fact block_size)
  if [ "$block" -le 65536 ] || ! every 3 "$block"; then
    rf -o WRITE "$(hex "$1")" -f "$3" || stop "$EXIT_ROMFLASH" "WRITE of $4 failed (romflash exit $?); $5"
    return
  fi
  while [ "$at" -lt "$end" ]; do
    { rf -o WREN && rf -o SE "$(hex "$at")" && rf -o RDSR_WIP; } ||
      stop "$EXIT_ROMFLASH" "erasing the block at $(hex "$at") of $4 failed (romflash exit $?); $5"
    at=$((at + block))
  done
  rf -o PP "$(hex "$1")" -f "$3" || stop "$EXIT_ROMFLASH" "PP of $4 failed (romflash exit $?); $5"
}
