# SPDX-License-Identifier: MIT
# romflash-update, sourced: block protection, settled before anything is
# erased, and cleared with a register write that keeps what it does not mean
# to change.
# shellcheck shell=sh disable=SC3043,SC2154  # local; the settings romflash-update.sh makes

# A chip drops a protected erase or program without an error: any BP bit (their
# regions differ between parts) is settled before anything is erased. Sets bp,
# bp_text, clear_value (the WRR1 operand that clears them) and protection.
check_protection() {
  local status
  rf -o RDSR || stop "$EXIT_ROMFLASH" "RDSR failed on $device; nothing was written to $target"
  status=$(sed -n 's/^STATUS_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
  [ -n "$status" ] || stop "$EXIT_ROMFLASH" "RDSR on $device printed no status; nothing was written to $target"
  bp=$(((status >> 2) & 7))
  # WRR1 writes its operand's high byte: BP2..BP0 cleared, bits 7..5 kept (WIP, WEL: read-only).
  clear_value=$(printf '0x%02X00' $((status & 0xE0)))
  bp_text="BP2..BP0 = $(((bp >> 2) & 1))$(((bp >> 1) & 1))$((bp & 1)) in status $status"
  [ "$bp" -eq 0 ] || [ -n "$unprotect" ] || stop "$EXIT_PROTECTED" \
    "blocks $blocks: block protection is set ($bp_text): the chip would drop the erase and program; nothing was erased. Run again with -u, or clear it with: romflash -d $device -o WREN; romflash -d $device -o WRR1 $clear_value; romflash -d $device -o RDSR_WIP"
  protection="$bp_text, would be cleared with WRR1 $clear_value"
  [ "$bp" -ne 0 ] || protection="none"
  if [ "$bp" -eq 0 ]; then say "status: $status, no block protection"; else say "status: $protection"; fi
}

# The second register and how the write keeps it. Where the second WRR byte
# writes a register that 0x35 reads (RDCR prints it), the 8-bit write may clear
# it (QUAD among it): both bytes go out with WRR2, the second as read. Where
# 0x35 would enter QPI or quad mode, the register is not read, and the 8-bit
# write is taken to leave it. Sets clear_op, clear_value and second.
second_register() {
  clear_op=WRR1 second=''
  if ! every 8 'read-config|read-status2' || ! every 9 'config|status2'; then
    say "status: the second register is not read (0x35 may enter QPI or quad mode, or it is not known); WRR1 writes the status alone, assumed to leave it"
    return 0
  fi
  rf -o RDCR || stop "$EXIT_ROMFLASH" "RDCR failed on $device; nothing was erased"
  second=$(sed -n 's/^CONFIG_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
  [ -n "$second" ] || stop "$EXIT_ROMFLASH" "RDCR on $device printed no register; nothing was erased"
  clear_op=WRR2 clear_value=$(printf '0x%02X%02X' $((clear_value >> 8)) "$second")
}

# Cleared once, right before the first erase, so that an update with nothing
# to write writes no register either. Sets bp to 0.
clear_protection() {
  local after kept=''
  [ "$bp" -ne 0 ] || return 0
  second_register
  { rf -o WREN && rf -o RDSR_WEL && rf -o "$clear_op" "$clear_value" && rf -o RDSR_WIP && rf -o RDSR; } ||
    stop "$EXIT_ROMFLASH" "clearing block protection ($bp_text) failed; nothing was erased"
  after=$(sed -n 's/^STATUS_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
  { [ -n "$after" ] && [ $(((after >> 2) & 7)) -eq 0 ]; } ||
    stop "$EXIT_PROTECTED" "block protection still set after $clear_op $clear_value (status ${after:-unread}; a write-protect pin with SRWD set?); nothing was erased"
  if [ -n "$second" ]; then
    rf -o RDCR && kept=$(sed -n 's/^CONFIG_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
    [ "$kept" = "$second" ] ||
      stop "$EXIT_PROTECTED" "the second register read $second before $clear_op $clear_value and ${kept:-unread} after it; nothing was erased"
    kept=", second register $second kept"
  fi
  say "status: $bp_text, cleared, now $after$kept"
  bp=0
}
