#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update: writes a ROM image into SPI NOR flash with romflash only, so
# that the part is known before anything is erased, block protection cannot make
# the write vanish, every byte outside the image keeps its value, only changed
# blocks are rewritten, a power cut loses nothing and the result is checked.
# shellcheck disable=SC3043  # local: BusyBox ash, dash and bash all have it
# shellcheck disable=SC2034,SC2154  # set here and used by the phases it sources, and back
set -u

VERSION=1.0.0                  # the release: project(romflash VERSION ...) in CMakeLists.txt
WINDOW=16777216                # romflash sends 3-byte addresses: the first 16 MiB
JOURNAL_DEFAULT=/var/lib/romflash-update
INSTALLED_DATA='@ROMFLASH_DATADIR@/romflash'  # the catalogue and the planner; set when installed

# One exit status per outcome; 7 and up refuse before anything is erased or written.
EXIT_INTERNAL=1 EXIT_USAGE=2 EXIT_CHIP=3 EXIT_PROTECTED=4 EXIT_ROMFLASH=5 EXIT_MISMATCH=6
EXIT_UNKNOWN=7 EXIT_FIT=8 EXIT_JOURNAL=11 EXIT_NOTHING_KEPT=12 EXIT_STATE=13 EXIT_BUSY=14  # 8-10: planner

usage() {
  cat <<EOF
Usage: romflash-update -d DEVICE -f IMAGE [-a ADDRESS] [-s KHZ] [-j JEDEC] [-c SIZE]
                       [-g SIZE:ERASE] [-J DIR] [-u] [-P] [-b BACKUP] [-k] [-n] [-q]
       romflash-update -d DEVICE -R [-s KHZ] [-j JEDEC] [-c SIZE] [-g SIZE:ERASE]
                       [-J DIR] [-u] [-P] [-n] [-q]
       romflash-update -d DEVICE -C [-J DIR] [-n] [-q]
       romflash-update -V
Writes IMAGE into the SPI NOR flash from ADDRESS with romflash WRITE, keeping
every byte of the covered erase blocks outside the image and rewriting only
the blocks that change, then reads them back and compares them byte for byte.
The part is looked up in the parts catalogue by its JEDEC ID.
  -d DEVICE   spidev device, e.g. /dev/spi0
  -f IMAGE    ROM image file (not empty)
  -a ADDRESS  flash address of the image's first byte (default 0)
  -s KHZ      SPI clock in kHz (default: romflash's own, 500)
  -j JEDEC    expected JEDEC ID, e.g. "EF 40 18" or EF4018: any other chip is refused
  -c SIZE     the part's size in bytes is at most SIZE
  -g SIZE:ERASE  the part's size and the block its 0xD8 erases, in bytes (needed
              for a part the catalogue does not know; for a known part the larger
              block and the smaller size are taken)
  -J DIR      journal directory on persistent storage (default $JOURNAL_DEFAULT);
              -J '' updates without a journal
  -u          clear block protection (BP2..BP0) when set, instead of stopping
  -P          the part is as at power-up: its bank register 0, 3-byte addresses
              (needed above 16 MiB where romflash cannot reset them)
  -b BACKUP   save the covered blocks, as read before writing, to BACKUP
  -k          keep the covered blocks, as read before the first erase, in the
              journal directory for a rollback (a copy not yet committed is
              left as it is)
  -R          roll back: write the kept blocks back, with the same checks,
              journal and verify, then remove them
  -C          commit: remove the kept blocks
  -n          dry run: identify, read and print the plan; erase and write nothing
  -q          quiet: errors only
  -h          this text
  -V          the version of romflash-update
Numbers are decimal or 0x hexadecimal. Exit status: 0 done, 1 internal failure,
2 usage, 3 wrong or absent chip, 4 block protection set, 5 romflash failed,
6 verification mismatch, 7 unknown part, 8 image does not fit the part or
3-byte addresses, 9 WRITE cannot program the part, 10 part locked beyond
romflash's operations, 11 unusable journal (on tmpfs or ramfs, writable or
written by another user, torn or for another chip) or kept copy, 12 no kept
copy to roll back, 13 bank register or 4-byte mode unknown or set
(power-cycle the board), 14 another update holds the device.
EOF
}

say() { [ -n "$quiet" ] || printf 'romflash-update: %s\n' "$1"; }
warn() { printf 'romflash-update: %s\n' "$1" >&2; }  # a risk to data: shown even with -q
# stop STATUS MESSAGE: with the unfinished journal found, if any, which the cause leaves as it is.
stop() { printf 'romflash-update: %s%s\n' "$2" "${unfinished:+; $unfinished}" >&2; exit "$1"; }
# The cause and where the usage is: the whole text would bury the cause.
usage_error() { printf 'romflash-update: %s\n' "$1" "-h prints the usage" >&2; exit "$EXIT_USAGE"; }

# Prints the value of a decimal or 0x hexadecimal number; anything else (octal
# included, which the shell would read differently from romflash) is refused.
number() {
  local digits="$2" max=10
  case $2 in
    0[0-9]*) usage_error "$1 $2: a leading zero would be octal; write it in decimal without it or in 0x hexadecimal" ;;
    0[xX]*) digits=${2#??} max=8 ;;
  esac
  case $max:$digits in *: | 8:*[!0-9a-fA-F]* | 10:*[!0-9]*) usage_error "$1 $2: not a number" ;; esac
  [ "${#digits}" -le "$max" ] || usage_error "$1 $2: too large"
  echo $(($2))
}

hex() { printf '0x%06X' "$1"; }
range() { printf '0x%06X-0x%06X' "$1" $(($2 - 1)); }  # START END: as the messages show it
bytes_of() { echo $(($(wc -c <"$1"))); }
count_of() { if [ "$1" -eq 1 ]; then echo "1 $2"; else echo "$1 ${2}s"; fi; }  # 1 block, 2 blocks
tally() { echo "$(count_of "$rewritten" block) to rewrite, $skipped unchanged"; }
kib() { if [ $(($1 % 1048576)) -eq 0 ]; then echo "$(($1 >> 20)) MiB"; else echo "$(($1 >> 10)) KiB"; fi; }
# FILE OFFSET LENGTH: bytes of FILE (both multiples of 4 KiB, as erase blocks are).
slice() { dd if="$1" bs=4096 skip=$(($2 / 4096)) count=$(($3 / 4096)) 2>/dev/null; }
# The checksum of a journal: its plan up to the md5 line, and its data.
digest() { { sed '/^md5 /,$d' "$1/plan" && cat "$1/data"; } | md5sum | sed 's/ .*//'; }

# romflash on the device. Its own lines pass through (not with -q) and are kept
# in $work/out for the steps that read a value from them. fread AT LENGTH FILE.
rf() {
  if [ -n "$khz" ]; then set -- -s "$khz" "$@"; fi
  if [ -n "$quiet" ]; then "$romflash" -d "$device" "$@" >"$work/out"; return; fi
  { "$romflash" -d "$device" "$@"; echo $? >"$work/rc"; } | tee "$work/out"
  return "$(cat "$work/rc")"
}
fread() { rf -o FREAD "$(hex "$1")" "$(hex "$2")" -w "$3" && [ "$(bytes_of "$3")" -eq "$2" ]; }

# Sets the settings: device khz image start jedec size_limit geometry (-g as a
# candidate line for the planner) journal_dir unprotect backup dry_run quiet,
# and mode (k, R, C or '') and placed (-a given).
parse_options() {
  local option geometry_size geometry_erase
  device='' khz='' image='' start=0 jedec='' size_limit='' geometry='' unprotect='' backup=''
  dry_run='' quiet='' journal_dir=$JOURNAL_DEFAULT mode='' placed='' powerup=''
  while getopts ':d:s:f:a:j:c:g:J:uPb:kRCnqhV' option; do
    case $option in
      d) device=$OPTARG ;;
      s) khz=$(number -s "$OPTARG") || exit ;;
      f) image=$OPTARG ;;
      a) start=$(number -a "$OPTARG") placed=1 || exit ;;
      j) jedec=$(printf '%s' "$OPTARG" | sed 's/0[xX]//g; s/[ ,:]//g' | tr a-f A-F)
        { [ "${#jedec}" -eq 6 ] && [ -n "${jedec##*[!0-9A-F]*}" ]; } ||
          usage_error "-j $OPTARG: not three hexadecimal bytes" ;;
      c) size_limit=$(number -c "$OPTARG") || exit
        [ "$size_limit" -gt 0 ] || usage_error "-c $OPTARG: a chip has some bytes" ;;
      g) case $OPTARG in *:*) ;; *) usage_error "-g $OPTARG: not SIZE:ERASE" ;; esac
        geometry_size=$(number -g "${OPTARG%%:*}") || exit
        geometry_erase=$(number -g "${OPTARG#*:}") || exit
        { [ "$geometry_erase" -gt 0 ] && [ $((geometry_erase % 4096)) -eq 0 ] &&
          [ "$geometry_size" -gt 0 ] && [ $((geometry_size % geometry_erase)) -eq 0 ]; } ||
          usage_error "-g $OPTARG: the erase block is a multiple of 4 KiB and the size a multiple of it"
        geometry=$(printf 'the geometry of -g\t%s\t%s\tpage\tnone\tnone' "$geometry_size" "$geometry_erase") ;;
      J) journal_dir=$OPTARG ;;
      u) unprotect=1 ;;
      P) powerup=1 ;;
      b) backup=$OPTARG ;;
      k | R | C) [ -z "$mode" ] || [ "$mode" = "$option" ] ||
        usage_error "-$mode and -$option: one of -k, -R, -C"
        mode=$option ;;
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
  case $mode in R | C) return ;; esac  # the kept copy is the image: kept_mode
  [ -n "$image" ] || usage_error "no image (-f)"
  { [ -f "$image" ] && [ -r "$image" ]; } || usage_error "$image: not a readable file"
}

# Sets romflash (beside this script or on PATH), lookup, planner and catalogue
# (the flat table: beside the script, as in the build tree, or with the rest)
# and reads the journal checks and the lock: beside the script when the planner
# is (the source tree), else installed.
find_files() {
  local here data=$INSTALLED_DATA part
  here=$(dirname "$0")
  romflash=$here/romflash
  [ -x "$romflash" ] || romflash=$(command -v romflash) ||
    stop "$EXIT_ROMFLASH" "romflash not found beside $0 or on PATH; nothing was written to $target"
  [ ! -r "$here/plan.awk" ] || data=$here
  lookup=$data/catalogue.awk planner=$data/plan.awk catalogue=$here/catalogue.flat
  [ -r "$catalogue" ] || catalogue=$data/catalogue.flat
  [ -r "$catalogue" ] || catalogue=''
  { [ -r "$lookup" ] && [ -r "$planner" ]; } ||
    stop "$EXIT_INTERNAL" "$lookup or $planner not found; nothing was written to $target"
  # The phases that live in files of their own, beside the planner.
  for part in journal-checks kept-copy device-lock address-state protection block-erase; do
    [ -r "$data/$part.sh" ] || stop "$EXIT_INTERNAL" "$data/$part.sh not found; nothing was written to $target"
    # shellcheck source=/dev/null
    . "$data/$part.sh"
  done
}

# The expected chip, and a chip at all (a bus without one reads as all ones or
# all zeros). Sets chip_id ("01 20 14") and chip_ext: what RDID answered after
# the ID, the length byte and the bytes it announces ("00" when that was 0).
identify() {
  local id
  rf -o RDID || stop "$EXIT_ROMFLASH" "RDID failed on $device; nothing was written to $target"
  id=$(sed -n 's/^MANUF_ID: 0x\([0-9A-F][0-9A-F]\)$/\1/p; s/^DEVICE_ID: 0x\([0-9A-F]\{4\}\)$/\1/p' "$work/out" | tr -d '\n')
  [ "${#id}" -eq 6 ] || stop "$EXIT_ROMFLASH" "RDID on $device printed no ID; nothing was written to $target"
  chip_id=$(echo "$id" | sed 's/\(..\)\(..\)\(..\)/\1 \2 \3/')
  { [ "$id" != FFFFFF ] && [ "$id" != 000000 ]; } ||
    stop "$EXIT_CHIP" "no chip answers on $device (ID $chip_id); nothing was written to $target"
  [ -z "$jedec" ] || [ "$jedec" = "$id" ] ||
    stop "$EXIT_CHIP" "$device holds chip $chip_id, expected $(echo "$jedec" | sed 's/\(..\)\(..\)\(..\)/\1 \2 \3/'); nothing was written to $target"
  chip_ext=$(sed -n 's/^  0x[0-9A-F]\{8\}://p' "$work/out" | tr '\n' ' ' | awk '{
    for (i = 4; i <= NF; i++) printf "%s%s", $i, (i < NF ? " " : "") } END { if (NF < 4) print "00" }')
}

# The planner's facts ("KEY VALUE" lines), given the blocks that differ once known.
plan() {  # CHANGED
  awk -v start="$start" -v end="$end" -v limit="${size_limit:-0}" -v changed="$1" -f "$planner" \
    "$work/candidates" >"$work/plan" || stop "$EXIT_INTERNAL" "the planner $planner failed"
}
fact() { sed -n "s/^$1 //p" "$work/plan"; }  # KEY: the value of one
# COLUMN PATTERN: true when every candidate line's COLUMN (catalogue.awk's
# order; -g lines have no 7th column on) matches the extended PATTERN whole.
every() {
  awk -F '\t' -v c="$1" -v p="^($2)\$" 'NF >= 3 { n++; if ($c !~ p) bad = 1 } END { exit !n || bad }' \
    "$work/candidates"
}
# The device as one file name, for its lock, journal and kept copy.
device_name() { printf '%s' "$device" | tr -c 'A-Za-z0-9._-' '_'; }

# The part (the catalogue's rows that answer its ID, and -g) and the blocks the
# image covers. Sets names, part_size, erases, first, last and blocks.
plan_part() {
  local refusal known
  { [ -z "$catalogue" ] || awk -v id="$chip_id" -v extended="$chip_ext" -v sfdp="$work/sfdp" \
    -f "$lookup" "$catalogue"; } >"$work/candidates" || stop "$EXIT_INTERNAL" "could not read the parts catalogue $catalogue"
  [ -z "$geometry" ] || echo "$geometry" >>"$work/candidates"
  plan ''
  names=$(fact names) part_size=$(fact part_size) first=$(fact first) last=$(fact last)
  [ "$(fact candidates)" -gt 0 ] || [ ! -s "$work/sfdp" ] ||
    stop "$EXIT_UNKNOWN" "$device holds chip $chip_id, which Linux knows as $(awk 'NR > 1 { printf ", " } { printf "%s", $0 }' "$work/sfdp") but sizes from the part's own SFDP table, which romflash cannot read; give its size and the block its 0xD8 erases with -g SIZE:ERASE; nothing was written to $target"
  [ "$(fact candidates)" -gt 0 ] ||
    stop "$EXIT_UNKNOWN" "$device holds chip $chip_id (RDID length byte ${chip_ext%% *}), which the parts catalogue ${catalogue:-(none found beside $0 nor at $INSTALLED_DATA/catalogue.flat)} does not know; give its size and the block its 0xD8 erases with -g SIZE:ERASE; nothing was written to $target"
  erases="0xD8 erases blocks by address"
  [ "$(fact block_size)" -le 0 ] || erases="0xD8 erases $(kib "$(fact block_size)")"
  known=": $names,"
  [ "$(fact candidates)" -eq 1 ] || known=", which is $names; taking what loses no data:"
  say "identify: $device holds chip $chip_id$known $(kib "$part_size"), $erases"
  refusal=$(fact refuse)
  [ -z "$refusal" ] || stop "${refusal%% *}" "${refusal#* }"
  blocks=$(range "$first" "$last")
}

# AT LENGTH RANGE RECOVERY: reads the run back and compares it with
# $work/run.bin byte for byte (WRITE's 16-bit sum misses swapped pages).
verify_run() {
  local offset expected found
  fread "$1" "$2" "$work/read.bin" ||
    stop "$EXIT_ROMFLASH" "FREAD of $3 for the verification failed; $4"
  cmp -l "$work/run.bin" "$work/read.bin" >"$work/differences"
  # cmp -l: the 1-based offset, then the expected and the found byte in octal.
  read -r offset expected found <"$work/differences" &&
    stop "$EXIT_MISMATCH" "verify $3: $(wc -l <"$work/differences" | tr -d ' ') bytes differ, the first at $(hex $(($1 + offset - 1))) (flash $(printf '0x%02X' "0$found"), expected $(printf '0x%02X' "0$expected")); $4"
  say "verify: blocks $3 identical"
}

# DIR RECOVERY: each run of the plan in DIR, one WRITE from its start (its 64 KiB
# erase steps erase every block of a run), verified. A failure says RECOVERY.
write_runs() {
  local listed run at length span
  listed=$(sed -n 's/^run \([0-9]*\) \([0-9]*\) \([0-9]*\)$/\1:\2:\3/p' "$1/plan")
  for run in $listed; do
    at=${run%%:*} length=${run#*:}
    length=${length%:*}
    span=$(range "$at" $((at + length)))
    { slice "$1/data" "${run##*:}" "$length" >"$work/run.bin" &&
      [ "$(bytes_of "$work/run.bin")" -eq "$length" ]; } ||
      stop "$EXIT_INTERNAL" "could not take blocks $span out of $1/data; $2"
    say "write: blocks $span"
    write_run "$at" "$length" "$work/run.bin" "$span" "$2"
    verify_run "$at" "$length" "$span" "$2"
  done
}

# Renamed first: a power cut while the files go leaves $journal.old, which no
# run reads, rather than a part of the journal that the next run finds torn.
forget_journal() {
  { rm -rf "$journal.old" && mv "$journal" "$journal.old" && rm -rf "$journal.old"; } ||
    stop "$EXIT_INTERNAL" "the update is verified, but the journal $journal could not be removed: remove it by hand"
}
finish_journal() {
  unfinished=''
  check_journal_state
  clear_protection
  write_runs "$journal" "the journal $journal stays: run romflash-update again to finish it"
  forget_journal
  say "journal: finished and verified blocks $resume; removed"
}

# Reads the covered blocks ($work/old.bin) and lays the image over them: the
# merged range ($work/new.bin) is what the blocks must hold afterwards.
read_blocks() {
  local length=$((last - first))
  say "read: blocks $blocks"
  fread "$first" "$length" "$work/old.bin" ||
    stop "$EXIT_ROMFLASH" "FREAD of $blocks failed; nothing was erased"
  { { head -c $((start - first)) "$work/old.bin" && cat "$image" &&
    tail -c +$((start - first + size + 1)) "$work/old.bin"; } >"$work/new.bin" &&
    [ "$(bytes_of "$work/new.bin")" -eq "$length" ]; } ||
    stop "$EXIT_INTERNAL" "could not merge $image into $blocks in $work; nothing was erased"
  [ -z "$backup" ] || cp "$work/old.bin" "$backup" ||
    stop "$EXIT_USAGE" "cannot write the backup of $blocks to $backup; nothing was erased"
  [ -z "$backup" ] || say "backup: blocks $blocks saved in $backup"
}

# Compares block by block and plans the runs that rewrite what changed. Sets runs
# (AT:LENGTH words), rewritten, skipped and lost (what a power cut could lose).
compare_blocks() {
  local at='' block_end changed=''
  for block_end in $(fact bounds); do
    [ -z "$at" ] || cmp -s -n $((block_end - at)) "$work/old.bin" "$work/new.bin" \
      $((at - first)) $((at - first)) || changed="$changed $at"
    at=$block_end
  done
  plan "$changed"
  runs=$(fact runs) rewritten=$(fact rewritten) skipped=$(fact skipped) lost=$(fact lost)
}

# The dry run's report: the plan, and what the update would do with it.
print_plan() {
  local kept_before='' kept_after='' writes='' run
  [ "$start" -eq "$first" ] || kept_before=" ($(range "$first" "$start"))"
  [ "$end" -eq "$last" ] || kept_after=" ($(range "$end" "$last"))"
  for run in $(fact blocks); do writes="$writes, WRITE $run"; done
  say "plan (dry run, nothing erased or written):"
  say "  part     $names, $(kib "$part_size"), $erases"
  say "  image    $target, $size bytes from $image"
  say "  blocks   $blocks: $(tally)$writes"
  say "  keep     $((start - first)) bytes before the image$kept_before, $((last - end)) after it$kept_after"
  say "  protect  $protection"
  say "  change   $(cmp -l "$work/old.bin" "$work/new.bin" | wc -l | tr -d ' ') of the $((last - first)) bytes in $blocks differ from the flash"
  if [ -n "$resume" ]; then
    say "  journal  unfinished in $journal: blocks $resume, finished first (the plan above is against the flash as it is now)"
  elif [ "$rewritten" -eq 0 ]; then
    say "  journal  none needed: no block changes, nothing would be erased or written"
  elif [ -n "$journal" ]; then
    say "  journal  $journal, written before the first erase"
  else
    say "  journal  none (-J ''): a power cut while blocks are rewritten loses ${lost:-nothing}"
  fi
}

# The plan and the blocks' new contents, in DIR/NAME.new made durable and renamed
# to the journal DIR/NAME, or in the work directory without one. Sets plan_dir
# and recovery (what a failure from here on leaves, and what to do).
write_plan() {
  local run length=0 full="; nothing was erased. Give -J DIR on persistent storage, or -J '' to update without a journal"
  plan_dir=$work/plan.d
  [ -z "$journal" ] || plan_dir=$journal.new
  { { [ -z "$journal" ] || mkdir -p "$journal_dir"; } && rm -rf "$plan_dir" && mkdir "$plan_dir"; } ||
    stop "$EXIT_USAGE" "cannot make $plan_dir$full"
  for run in $runs; do
    slice "$work/new.bin" $((${run%:*} - first)) "${run#*:}" && length=$((length + ${run#*:}))
  done >"$plan_dir/data"
  { { printf 'romflash-update journal 1\ndevice %s\nid %s\nimage %s (%s bytes of %s)\naddress %s\n' \
    "$device" "$chip_id" "$target" "$size" "$image" "$address_state" && sed -n '/^blocks /p; /^run /p' "$work/plan"; } \
    >"$plan_dir/plan" && [ "$(bytes_of "$plan_dir/data")" -eq "$length" ] &&
    printf 'md5 %s\nend\n' "$(digest "$plan_dir")" >>"$plan_dir/plan"; } ||
    stop "$EXIT_USAGE" "cannot write the plan into $plan_dir$full"
  if [ -z "$journal" ]; then
    recovery="the blocks may be partly erased: their bytes outside the image are lost${backup:+ but for the copy in $backup}"
    say "journal: none (-J ''): a power cut before the verify ends loses ${lost:-nothing}${backup:+ (a copy is in $backup)}"
    return
  fi
  { sync && mv "$plan_dir" "$journal" && sync; } ||
    stop "$EXIT_USAGE" "cannot commit the journal $journal; nothing was erased"
  plan_dir=$journal
  recovery="the journal $journal keeps the blocks' new contents: run romflash-update again to finish"
  say "journal: the plan and $length bytes of new contents saved in $journal"
}

# Journals and their directories are refused when others can write them: make none that way.
umask 022
invocation="romflash-update $*" unfinished=''
parse_options "$@"
target=flash find_files
work=$(mktemp -d "${TMPDIR:-/tmp}/romflash-update.XXXXXX") || exit "$EXIT_INTERNAL"
trap 'rm -rf "$work"; release_lock' EXIT && trap 'exit 130' INT && trap 'exit 143' TERM
# Before the kept copy is read or removed (-R, -C): another run may be using it.
take_lock "$invocation"
kept_mode
size=$(bytes_of "$image")
[ "$size" -gt 0 ] || usage_error "$image: empty, nothing to write"
end=$((start + size)) target=$(range "$start" $((start + size)))
open_journal
[ "$end" -le "$WINDOW" ] ||
  stop "$EXIT_FIT" "image $target ends past 0xFFFFFF, the last 3-byte address; nothing was written"
identify
plan_part
settle_addresses
check_protection
find_journal
[ -z "$resume" ] || [ -n "$dry_run" ] || finish_journal
read_blocks
keep_blocks
compare_blocks
# Never on to the writes, even when the plan could not be printed.
if [ -n "$dry_run" ]; then print_plan; exit 0; fi
[ "$rewritten" -gt 0 ] || { say "done: blocks $blocks already hold image $target; 0 blocks rewritten, $skipped unchanged skipped$([ -n "$resume" ] || echo ', nothing erased or written')"; kept_done; exit 0; }
say "compare: $(tally)"
write_plan
clear_protection
write_runs "$plan_dir" "$recovery"
[ -z "$journal" ] || forget_journal
say "done: image $target in place; $(count_of "$rewritten" block) rewritten, $skipped unchanged skipped"
kept_done
