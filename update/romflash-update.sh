#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update: writes a ROM image into the SPI NOR flash with romflash, so
# that the right chip is written, block protection cannot make the write
# silently vanish, every byte outside the image keeps its value and the result
# is checked byte for byte. Built only from romflash invocations; POSIX sh,
# runs under BusyBox ash, dash and bash.
set -u

VERSION=1.0.0               # the release: project(romflash VERSION ...) in CMakeLists.txt
SECTOR=65536                # romflash WRITE erases 64 KiB sectors
ADDRESS_LIMIT=16777216      # 24-bit flash addresses

# One exit status per outcome.
EXIT_INTERNAL=1 EXIT_USAGE=2 EXIT_CHIP=3 EXIT_PROTECTED=4 EXIT_ROMFLASH=5 EXIT_MISMATCH=6

usage() {
  cat <<EOF
Usage: romflash-update -d DEVICE -f IMAGE [-a ADDRESS] [-s KHZ] [-j JEDEC] [-c SIZE]
                       [-u] [-b BACKUP] [-n] [-q]
       romflash-update -V
Writes IMAGE into the SPI NOR flash from ADDRESS with romflash WRITE, keeping
every byte of the covered 64 KiB sectors outside the image, then reads the
sectors back and compares them byte for byte.
  -d DEVICE   spidev device, e.g. /dev/spi0
  -f IMAGE    ROM image file (not empty)
  -a ADDRESS  flash address of the image's first byte (default 0)
  -s KHZ      SPI clock in kHz (default: romflash's own, 500)
  -j JEDEC    expected JEDEC ID, e.g. "EF 40 18" or EF4018: any other chip is refused
  -c SIZE     chip size in bytes (default: 2^n from the ID's capacity byte n)
  -u          clear block protection (BP2..BP0) when set, instead of stopping
  -b BACKUP   save the covered sectors, as read before writing, to BACKUP
  -n          dry run: identify, read and print the plan; erase and write nothing
  -q          quiet: errors only
  -h          this text
  -V          the version of romflash-update
Numbers are decimal or 0x hexadecimal. Exit status: 0 done, 1 internal failure,
2 usage, 3 wrong or absent chip, 4 block protection set, 5 romflash failed,
6 verification mismatch.
EOF
}

say() {
  [ -n "$quiet" ] || printf 'romflash-update: %s\n' "$*"
}

stop() {
  status=$1
  shift
  printf 'romflash-update: %s\n' "$*" >&2
  exit "$status"
}

usage_error() {
  printf 'romflash-update: %s\n' "$*" >&2
  usage >&2
  exit "$EXIT_USAGE"
}

# Prints the value of a decimal or 0x hexadecimal number; anything else (octal
# included, which the shell would read differently from romflash) is refused.
number() {
  case $2 in
    0[xX]*) digits=${2#??}; max=8 ;;
    0 | [1-9]*) digits=$2; max=10 ;;
    0[0-9]*) usage_error "$1 $2: a leading zero would be octal; write it in decimal without it or in 0x hexadecimal" ;;
    *) usage_error "$1 $2: not a number" ;;
  esac
  case $digits in
    '' | *[!0-9a-fA-F]*) usage_error "$1 $2: not a number" ;;
  esac
  case $2 in
    0[xX]*) ;;
    *[!0-9]*) usage_error "$1 $2: not a number" ;;
  esac
  [ "${#digits}" -le "$max" ] || usage_error "$1 $2: too large"
  echo $(($2))
}

# Inclusive address range START..END-1 as the messages show it.
range() {
  printf '0x%06X-0x%06X' "$1" $(($2 - 1))
}

bytes_of() {
  echo $(($(wc -c <"$1")))
}

# romflash on the device. Its own lines pass through (not with -q) and are
# kept in $work/out for the steps that read a value from them.
rf() {
  if [ -n "$khz" ]; then set -- -s "$khz" "$@"; fi
  if [ -n "$quiet" ]; then
    "$romflash" -d "$device" "$@" >"$work/out"
    return
  fi
  { "$romflash" -d "$device" "$@"; echo $? >"$work/rc"; } | tee "$work/out"
  return "$(cat "$work/rc")"
}

device='' khz='' image='' start=0 jedec='' chip_size='' unprotect='' backup='' dry_run='' quiet=''
while getopts ':d:s:f:a:j:c:ub:nqhV' option; do
  case $option in
    d) device=$OPTARG ;;
    s) khz=$(number -s "$OPTARG") || exit ;;
    f) image=$OPTARG ;;
    a) start=$(number -a "$OPTARG") || exit ;;
    j)
      jedec=$(printf '%s' "$OPTARG" | sed 's/0[xX]//g; s/[ ,:]//g' | tr a-f A-F)
      case $jedec in
        [0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F]) ;;
        *) usage_error "-j $OPTARG: not three hexadecimal bytes" ;;
      esac
      ;;
    c)
      chip_size=$(number -c "$OPTARG") || exit
      [ "$chip_size" -gt 0 ] || usage_error "-c $OPTARG: a chip has some bytes"
      ;;
    u) unprotect=1 ;;
    b) backup=$OPTARG ;;
    n) dry_run=1 ;;
    q) quiet=1 ;;
    h) usage; exit 0 ;;
    V) echo "romflash-update (romflash) $VERSION"; exit 0 ;;
    :) usage_error "-$OPTARG needs an argument" ;;
    *) usage_error "-$OPTARG: unknown option" ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || usage_error "$1: unexpected argument"
[ -n "$device" ] || usage_error "no device (-d)"
[ -n "$image" ] || usage_error "no image (-f)"
[ -f "$image" ] && [ -r "$image" ] || usage_error "$image: not a readable file"

size=$(bytes_of "$image")
[ "$size" -gt 0 ] || usage_error "$image: empty, nothing to write"
end=$((start + size))
[ "$end" -le "$ADDRESS_LIMIT" ] ||
  usage_error "image $(range "$start" "$end"): ends past 0xFFFFFF, the last 24-bit address"
first=$((start / SECTOR * SECTOR))
last=$(((end + SECTOR - 1) / SECTOR * SECTOR))
length=$((last - first))
sectors=$(range "$first" "$last")
target=$(range "$start" "$end")

romflash=$(dirname "$0")/romflash
[ -x "$romflash" ] || romflash=$(command -v romflash) ||
  stop "$EXIT_ROMFLASH" "romflash not found beside $0 or on PATH; nothing was written to $target"

work=$(mktemp -d "${TMPDIR:-/tmp}/romflash-update.XXXXXX") || exit "$EXIT_INTERNAL"
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Identify: the expected chip, and a chip at all (a bus without one reads as
# all ones or all zeros).
rf -o RDID || stop "$EXIT_ROMFLASH" "RDID failed on $device; nothing was written to $target"
id=$(sed -n 's/^MANUF_ID: 0x\([0-9A-F][0-9A-F]\)$/\1/p; s/^DEVICE_ID: 0x\([0-9A-F]\{4\}\)$/\1/p' "$work/out" | tr -d '\n')
[ "${#id}" -eq 6 ] || stop "$EXIT_ROMFLASH" "RDID on $device printed no ID; nothing was written to $target"
shown=$(echo "$id" | sed 's/\(..\)\(..\)\(..\)/\1 \2 \3/')
case $id in
  FFFFFF | 000000) stop "$EXIT_CHIP" "no chip answers on $device (ID $shown); nothing was written to $target" ;;
esac
[ -z "$jedec" ] || [ "$jedec" = "$id" ] ||
  stop "$EXIT_CHIP" "$device holds chip $shown, expected $(echo "$jedec" | sed 's/\(..\)\(..\)\(..\)/\1 \2 \3/'); nothing was written to $target"

# The chip size: -c, else 2^n from the ID's third byte, which most vendors
# use as the capacity (a hint only; some parts number it otherwise).
capacity=$((0x${id#????}))
if [ -n "$chip_size" ]; then
  size_note="chip size $chip_size bytes (-c)"
elif [ "$capacity" -ge 16 ] && [ "$capacity" -le 32 ]; then
  chip_size=$ADDRESS_LIMIT
  [ "$capacity" -ge 24 ] || chip_size=$((1 << capacity))
  unit="$((chip_size >> 20)) MiB"
  [ "$chip_size" -ge 1048576 ] || unit="$((chip_size >> 10)) KiB"
  size_note="chip size $unit by its capacity byte 0x${id#????} (-c overrides)"
else
  size_note="chip size unknown (capacity byte 0x${id#????}): only 24-bit addressing is checked, -c gives it"
fi
say "identify: $device holds chip $shown, $size_note"
[ -z "$chip_size" ] || [ "$last" -le "$chip_size" ] ||
  stop "$EXIT_USAGE" "sectors $sectors for image $target end past the chip's last address $(printf '0x%06X' $((chip_size - 1))); nothing was written"

# Block protection: a protected erase or program is dropped by the chip
# without an error, so it is settled before anything is erased. Any BP bit
# counts, whatever region it covers: the mapping differs between parts.
rf -o RDSR || stop "$EXIT_ROMFLASH" "RDSR failed on $device; nothing was written to $target"
status=$(sed -n 's/^STATUS_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
[ -n "$status" ] || stop "$EXIT_ROMFLASH" "RDSR on $device printed no status; nothing was written to $target"
bp=$(((status >> 2) & 7))
# WRR1 writes the high byte of its operand: the status with BP2..BP0 cleared
# and bits 7..5 kept (WIP and WEL are not writable).
clear_value=$(printf '0x%02X00' $((status & 0xE0)))
bp_text="BP2..BP0 = $(((bp >> 2) & 1))$(((bp >> 1) & 1))$((bp & 1)) in status $status"
if [ "$bp" -eq 0 ]; then
  protection="none"
  say "status: $status, no block protection"
elif [ -z "$unprotect" ]; then
  stop "$EXIT_PROTECTED" "sectors $sectors: block protection is set ($bp_text): the chip would drop the erase and program; nothing was erased. Run again with -u, or clear it with: romflash -d $device -o WREN; romflash -d $device -o WRR1 $clear_value; romflash -d $device -o RDSR_WIP"
elif [ -n "$dry_run" ]; then
  protection="$bp_text, would be cleared with WRR1 $clear_value"
  say "status: $protection"
else
  rf -o WREN && rf -o RDSR_WEL && rf -o WRR1 "$clear_value" && rf -o RDSR_WIP && rf -o RDSR ||
    stop "$EXIT_ROMFLASH" "sectors $sectors: clearing block protection ($bp_text) failed; nothing was erased"
  after=$(sed -n 's/^STATUS_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
  [ -n "$after" ] && [ $(((after >> 2) & 7)) -eq 0 ] ||
    stop "$EXIT_PROTECTED" "sectors $sectors: block protection still set after WRR1 $clear_value (status ${after:-unread}; a write-protect pin with SRWD set?); nothing was erased"
  protection="$bp_text, cleared"
  say "status: $protection, now $after"
fi

# Read the covered sectors and lay the image over them: the merged range is
# what the sectors must hold afterwards.
say "read: sectors $sectors ($((length / SECTOR)) of 64 KiB)"
rf -o FREAD "$(printf '0x%06X' "$first")" "$(printf '0x%06X' "$length")" -w "$work/old.bin" ||
  stop "$EXIT_ROMFLASH" "FREAD of $sectors failed; nothing was erased"
[ "$(bytes_of "$work/old.bin")" -eq "$length" ] ||
  stop "$EXIT_ROMFLASH" "FREAD of $sectors returned a short file; nothing was erased"
keep_before=$((start - first))
keep_after=$((last - end))
{ head -c "$keep_before" "$work/old.bin" && cat "$image" &&
  tail -c +$((keep_before + size + 1)) "$work/old.bin"; } >"$work/new.bin" &&
  [ "$(bytes_of "$work/new.bin")" -eq "$length" ] ||
  stop "$EXIT_INTERNAL" "could not merge $image into $sectors in $work; nothing was erased"
if [ -n "$backup" ]; then
  cp "$work/old.bin" "$backup" || stop "$EXIT_USAGE" "cannot write the backup of $sectors to $backup; nothing was erased"
  say "backup: sectors $sectors saved in $backup"
fi

if [ -n "$dry_run" ]; then
  list='' address=$first
  while [ "$address" -lt "$last" ]; do
    list="$list $(printf '0x%06X' "$address")"
    address=$((address + SECTOR))
  done
  say "plan (dry run, nothing erased or written):"
  say "  image    $target, $size bytes from $image"
  say "  erase    64 KiB sectors at$list"
  kept_before='' kept_after=''
  [ "$keep_before" -eq 0 ] || kept_before=" ($(range "$first" "$start"))"
  [ "$keep_after" -eq 0 ] || kept_after=" ($(range "$end" "$last"))"
  say "  keep     $keep_before bytes before the image$kept_before, $keep_after after it$kept_after"
  say "  protect  $protection"
  say "  change   $(cmp -l "$work/old.bin" "$work/new.bin" | wc -l | tr -d ' ') of the $length bytes in $sectors differ from the flash"
  exit 0
fi

# WRITE from the first sector's start: its erases are aligned and it writes
# every kept byte back.
say "write: sectors $sectors, image $target, keeping $keep_before bytes before it and $keep_after after"
rf -o WRITE "$(printf '0x%06X' "$first")" -f "$work/new.bin" ||
  stop "$EXIT_ROMFLASH" "WRITE of $sectors failed (romflash exit $?); the sectors may be partly erased${backup:+, their old contents are in $backup}"

# Verify byte for byte: WRITE's 16-bit sum misses swapped pages and
# compensating errors.
rf -o FREAD "$(printf '0x%06X' "$first")" "$(printf '0x%06X' "$length")" -w "$work/read.bin" ||
  stop "$EXIT_ROMFLASH" "FREAD of $sectors for the verification failed"
[ "$(bytes_of "$work/read.bin")" -eq "$length" ] ||
  stop "$EXIT_ROMFLASH" "FREAD of $sectors for the verification returned a short file"
cmp -l "$work/new.bin" "$work/read.bin" >"$work/differences"
if [ -s "$work/differences" ]; then
  stop "$EXIT_MISMATCH" "verify $sectors: $(awk -v base="$first" '
    function octal(text,  value, i) {
      for (i = 1; i <= length(text); i++) value = value * 8 + substr(text, i, 1)
      return value
    }
    NR == 1 { at = base + $1 - 1; expected = octal($2); found = octal($3) }
    END { printf "%d bytes differ, the first at 0x%06X (flash 0x%02X, expected 0x%02X)", NR, at, found, expected }
  ' "$work/differences")"
fi
say "verify: sectors $sectors identical, image $target in place"
