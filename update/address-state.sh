# SPDX-License-Identifier: MIT
# romflash-update, sourced: the address state a boot loader may leave on a part
# above 16 MiB (a bank register not 0, 4-byte addresses), settled before
# anything is erased. romflash can read neither, and sends 3-byte addresses.
# shellcheck shell=sh disable=SC3043,SC2154  # local; the settings romflash-update.sh makes

# Sets address_state, the word the journal keeps: reset (written back to 0 by
# romflash's own operations), power-up (-P), probed (a part of 16 MiB or less:
# 4-byte mode alone, checked by reads) or none (a part without banks).
settle_addresses() {
  address_state=none
  [ -n "$(fact assume)" ] || return 0
  # On S25FL-S, B9h is BRAC, not a power-down: the WRR after it writes the bank
  # register, bank and EXTADD (4-byte addresses) together, without WREN.
  if every 6 bar && every 7 bank-access; then
    { rf -o DP && rf -o WRR1 0x0000; } ||
      stop "$EXIT_STATE" "writing the bank register back to 0 (DP, WRR1 0x0000) failed on $device; nothing was erased"
    address_state=reset
    say "address: bank register written back to 0 with 3-byte addresses (B9h BRAC, then WRR1 0x0000), as at power-up"
  elif ! awk -F '\t' -v window="$WINDOW" 'NF >= 3 && $2 > window { n++ } END { exit !n }' "$work/candidates"; then
    # Within 16 MiB every address is reached whatever the bank: only 4-byte mode matters.
    address_state=probed
    say "address: no candidate is larger than 16 MiB, so a bank register reaches nothing; 4-byte mode is checked by reads"
  elif [ -z "$powerup" ]; then
    # An EAR and 4-byte mode need C5h or E9h, which romflash cannot send, and no
    # 3-byte read names the bank it reaches.
    stop "$EXIT_STATE" "$names: $(fact assume) and 4-byte mode may be left set by a boot loader, and romflash can neither read nor reset them: the image could land 16 MiB away or across the chip. Power-cycle the board (both return to 0) and run again with -P before the boot loader touches the part; nothing was erased"
  else
    address_state=power-up
    warn "address: taking $(fact assume) as 0 with 3-byte addresses, as at power-up (-P); if a boot loader changed them since, the image lands elsewhere"
  fi
  probe_addr4
}

# In 4-byte mode the byte clocked after a 3-byte READ address completes a
# 4-byte one (address * 256 + that byte), so READ 0x000001 no longer returns
# bytes 1.. of READ 0x000000 (it reads from 0x000100 on, shifted by a byte).
# The part's first 512 bytes (where a boot loader lives) tell unless they
# repeat one byte; then the reset or -P stands alone, and is said so.
probe_addr4() {
  { rf -o READ 0x000000 512 -w "$work/probe0.bin" && rf -o READ 0x000001 256 -w "$work/probe1.bin"; } ||
    stop "$EXIT_ROMFLASH" "READ at 0x000000 failed on $device; nothing was erased"
  if ! tail -c +2 "$work/probe0.bin" | head -c 256 | cmp -s - "$work/probe1.bin"; then
    stop "$EXIT_STATE" "$device answers as a part in 4-byte address mode (READ 0x000000 and READ 0x000001 disagree by more than their offset): every write would land across the chip. Power-cycle the board and run again before the boot loader touches the part; nothing was erased"
  fi
  [ "$(od -An -v -tx1 "$work/probe0.bin" | tr -s ' ' '\n' | sed '/^$/d' | sort -u | wc -l)" -gt 1 ] ||
    warn "address: the first 512 bytes repeat one byte, so reads cannot tell 4-byte mode; taken as off ($address_state)"
}

# Before a resume: the journal's recorded state and the one settled now. Each
# word means the same addresses (bank 0, 3-byte), reached another way, and a
# run that cannot reach them has stopped before this; so a resume under another
# word (-P now, a BRAC reset then) writes where the journal's run wrote, and
# the line says both for whoever reads the log.
check_journal_state() {
  local recorded
  recorded=$(sed -n 's/^address //p' "$journal/plan")
  say "journal: written with address state ${recorded:-none}, settled again now: $address_state"
}
