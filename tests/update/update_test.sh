#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update on the simulated chip: one row per scenario, under BusyBox
# ash, dash and bash, then a power-cut sweep over a whole update.
#   update_test.sh SCRIPT ROMFLASH FLASHSIM LIBFLASHSIM STRIDE [EMULATOR WORDS]
# STRIDE thins the sweep's cut points (1 natively). To iterate on some rows: T_ONLY=TEXT runs
# the rows whose name holds TEXT, and no sweep.
set -u
[ $# -ge 5 ] || { echo "usage: $0 SCRIPT ROMFLASH FLASHSIM LIB STRIDE [EMULATOR]" >&2; exit 2; }
script=$1 stride=$5
export T_ROMFLASH="$2" T_FLASHSIM="$3" T_LIB="$4" T_EMU="${6:-}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-verify_asan_link_order=0:detect_leaks=1}"
command -v busybox >/dev/null || { echo "busybox not found (Debian package busybox)" >&2; exit 1; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
export T_STATE="$work/chip" T_TRACE="$work/trace" T_XY="$work/corrupt" T_RUN T_CORRUPT T_CUT

# The romflash the script finds on PATH: the real binary on the simulated chip,
# one flashsim run per call, all on one state directory. No simulator fault
# leaves a wrong byte behind a WRITE that passes its own checksum, so with
# T_CORRUPT set this wrapper overwrites two bytes there once WRITE is done.
# With T_CUT set it cuts the chip's power after message T_CUT of the whole
# update (counted since the chip was made), and nothing answers after that; it
# notes how many messages went before each run in chip.starts.
mkdir "$work/bin" && printf XY >"$work/corrupt"
cat >"$work/bin/romflash" <<'EOF'
#!/bin/sh
sim() { $T_EMU "$T_FLASHSIM" "$@"; }
cut=''
if [ -n "$T_CUT" ]; then
  done=$(sim summary --state "$T_STATE" --format=keys | sed -n 's/^total\.messages //p')
  echo "$done" >>"$T_STATE.starts"
  [ "$T_CUT" -gt "$done" ] || exit 1
  cut="--power-cut $((T_CUT - done))"
fi
set -- --state "$T_STATE" ${T_TRACE:+--trace "$T_TRACE"} --lib "$T_LIB" $T_RUN $cut -- \
  "$T_ROMFLASH" "$@"
[ -z "$T_EMU" ] || set -- --emulator "$T_EMU" "$@"
sim run "$@"
rc=$?
case " $* " in
  *" WRITE "*) [ -z "$T_CORRUPT" ] || sim load --state "$T_STATE" --offset "$T_CORRUPT" "$T_XY" ;;
esac
exit $rc
EOF
chmod +x "$work/bin/romflash"
PATH="$work/bin:$PATH"
sim() { $T_EMU "$T_FLASHSIM" "$@"; }
flashsim() { sim "$@" >/dev/null; }

# 1 MiB of text that differs in every block, an image of 0x12345 bytes (at
# 0x010800 it covers the 64 KiB blocks 0x010000-0x02FFFF, keeping 0x800 bytes
# before it and 0xD4BB after it), the chip as that update leaves it (new), and
# the chip as the image at 0x00F800 leaves its second block only (gap).
seq 1 200000 | head -c 1048576 >"$work/old.bin"
seq 500000 700000 | head -c 74565 >"$work/image.bin"
lay() { head -c $(($2)) "$1" && cat "$work/image.bin" && tail -c +$(($2 + 74565 + 1)) "$1"; }
lay "$work/old.bin" 0x10800 >"$work/new.bin"
{ head -c 65536 "$work/old.bin" && tail -c +2049 "$work/image.bin" | head -c 65536 &&
  tail -c +131073 "$work/old.bin"; } >"$work/gap.bin"
tail -c +$((0x10000 + 1)) "$work/old.bin" | head -c $((0x20000)) >"$work/blocks.bin"
{ head -c 131072 "$work/new.bin" && tail -c +131073 "$work/old.bin"; } >"$work/one.bin"

# name | shell (ash: BusyBox) | chip: profile, contents at 0 (old, new, gap, one: new up
# to 0x020000, old from there), settings |
# flashsim run options (corrupt: XY over 0x02FFFE after each WRITE; torn: a journal whose
# data does not match its plan's checksum) | options | exit | output text (empty: none at all) |
# checks:
#   old/new    the chip holds what it held / that with the image at -a (0x10800)
#   wire=OPS   the commands on the wire, by opcode: 9F RDID, 05 RDSR, 0B FREAD, ...
#   erased=AT  the 0xD8 erases sent, by address
#   backup     the -b file holds the covered blocks as they were
#   lines=N    the output has N lines
#   sent=HEX   a message whose bytes are HEX (spaces as _) was sent
#   written=HEX  the status writes (01 not right after B9, BRAC), joined by commas
# A line that starts with blanks continues the row above.
rows='
unaligned | ash | small old | | -b $work/backup.bin | 0 | in place; 2 blocks rewritten, 0 unch |
  new backup erased=010000,020000
quiet | bash | small old | | -j 0x01,0x20,0x14 -q | 0 | | new
unchanged | ash | small new | | | 0 | 0 blocks rewritten, 2 unchanged skipped, nothing erased |
  new wire=05,0B,9F
gap | dash | small gap | | -a 0xF800 | 0 | 2 blocks rewritten, 1 unchanged skipped |
  new erased=000000,020000
one block | bash | small one | | | 0 | in place; 1 block rewritten, 1 unchanged skipped |
  new erased=020000
dry unchanged | dash | small new | | -n | 0 | journal  none needed: no block changes, nothing |
  new wire=05,0B,9F
no image | ash | small old | | -f "" | 2 | romflash-update: -h prints the usage | old wire= lines=2
no journal | ash | small old | | -J "" | 0 | 2048 bytes in 0x010000-0x0107FF and 54459 bytes |
  new
torn journal | ash | small old | torn | | 11 | _dev_spi0.journal is torn | old wire=05,9F
wrong chip | ash | small old | | -j EF4018 | 3 | holds chip 01 20 14, expected EF 40 18; |
  old wire=9F
absent (FF) | ash | small old | --absent ff | | 3 | no chip answers on /dev/spi0 (ID FF FF FF) |
  old wire=9F
absent (00) | dash | small old | --absent 00 | | 3 | no chip answers on /dev/spi0 (ID 00 00 00) |
  old wire=9F
protected | ash | small old --set status=0x9C | | | 4 | set (BP2..BP0 = 111 in status 0x9C) |
  old wire=05,9F
unprotect | dash | small old --set status=0x9C | | -u | 0 | 0x9C, cleared, now 0x80 | new
dry run | ash | small old --set status=0x14 | | -n -u | 0 | 0x02FFFF: 2 blocks to rewrite, 0 |
  old wire=05,0B,9F
mismatch | ash | small old | corrupt | | 6 | 2 bytes differ, the first at 0x02FFFE (flash 0x58 |
erase fails | ash | small old | --fail-opcode 0xD8 | | 5 | 0x02FFFF failed (romflash exit 11) |
past the chip | ash | small old | | -a 0xF0000 | 8 | 0x0F0000-0x102344 ends past the | old wire=9F
past -c | dash | small old | | -c 0x20000 | 8 | 0x01FFFF (small (simulator model), -c | old wire=9F
past 24 bits | ash | small old | | -a 0xFFF000 | 8 | ends past 0xFFFFFF, the last 3-byte | old wire=
wrap | ash | sst25vf016b old | | -a 0x1FFFFF | 8 | 0x1FFFFF-0x212343 ends past the | old wire=9F
byte program | ash | sst25vf016b old | | -u | 9 | WRITE would erase and then fail | old wire=9F
global lock | dash | sst26vf016b old | | | 10 | SST26VF016B: every block is locked at power-up |
  old wire=9F
unknown part | ash | small old --set jedec=012018 --set ext=none | | | 7 | byte 00), which the |
  old wire=9F
geometry | ash | small old --set jedec=C22817 | | -g 0x100000:0x10000 | 0 | -g, 1 MiB | new
256 KiB | ash | s25fl128s old | | -a 0x3F800 | 0 | S25FL128S; taking what loses no data: 16 MiB, |
  new erased=000000,010000,020000,030000,040000,050000,060000,070000
bad option | ash | small old | | -x | 2 | -x: unknown option | old wire=
bank 1, BRAC | ash | s25fl512s old --set bank=1 | | | 0 | bank register written back to 0 |
  new erased=000000 sent=B9
bank 1, EAR | ash | mx25l25645g old --set bank=1 | | | 12 | Power-cycle the board | old wire=9F
4-byte, BRAC | dash | s25fl512s old --set addr4=1 | | | 0 | in place; 1 block rewritten | new
  erased=000000
4-byte, EAR | ash | mx25l25645g old --set addr4=1 | | -P | 12 | in 4-byte address mode |
  old wire=03,9F
power-up | bash | mx25l25645g old | | -P -q | 0 | as at power-up (-P); if a boot | new lines=1
second register | ash | s25fl512s old --set status=0x1C --set config=0x02 | | -u | 0 | second register 0x02 kept |
  new written=01_00_02
one erase a block | ash | s25fl512s old | | -a 0x3F800 | 0 | 2 blocks rewritten, 0 unch |
  new erased=000000,040000
'

failed=0 count=0
check() {
  echo "FAIL $name: $*"
  sed 's/^/  | /' "$work/out"
  row_failed=1
}
# wire PATTERN [all]: what PATTERN's group matched in the messages on the wire, sorted, joined
# by commas; once each, or with all each time it was sent.
wire() {
  sed -n "s/^  seg [0-9]* tx $1.*/\\1/p" "$T_TRACE" 2>/dev/null | tr -d ' ' |
    if [ -n "${2:-}" ]; then sort; else sort -u; fi | paste -sd, -
}
written() {
  awk '/^  seg [0-9]* tx / { sub(/^  seg [0-9]* tx /, ""); if (/^01/ && last != "B9") out = out (out == "" ? "" : ",") $0
    last = $0 } END { print out }' "$T_TRACE" | tr ' ' _
}
# chip PROFILE CONTENTS SETTINGS...: a fresh chip; before.bin holds its contents, after.bin
# those with the image at $at.
chip() {
  set -- "$@" --profile "$1" --image "$work/$2.bin"
  shift 2
  flashsim create --state "$T_STATE" "$@"
  sim dump --state "$T_STATE" -o "$work/before.bin"
  lay "$work/before.bin" "$at" >"$work/after.bin"
  rm -rf "$T_TRACE" "$T_STATE.starts" "$work/backup.bin" "$work/journal"
}
update() {  # update SHELL OPTIONS
  eval "$1 \"\$script\" -d /dev/spi0 -s 16000 -f \"\$work/image.bin\" -J \"\$work/journal\"" \
    "-a $at $2" </dev/null >"$work/out" 2>&1
}
journal=$work/journal/_dev_spi0.journal
while IFS='|' read -r name shell settings run options want text checks; do
  if [ -z "$name" ] || [ "${T_PART:-}" = large ]; then continue; fi
  case $name in *"${T_ONLY:-}"*) ;; *) continue ;; esac
  count=$((count + 1)) row_failed=0 T_RUN='' T_CORRUPT='' T_CUT=''
  [ "$shell" != ash ] || shell="busybox sh"
  at=$(printf '%s' "$options" | sed -n 's/.*-a \(0x[0-9A-F]*\).*/\1/p')
  at=${at:-0x10800}
  chip $settings
  case $run in
    corrupt) T_CORRUPT=0x2FFFE ;;
    torn)
      mkdir -p "$journal" && echo other >"$journal/data"
      printf 'romflash-update journal 1\nid 01 20 14\nmd5 %s\nend\n' \
        "$(md5sum <"$work/old.bin" | cut -c1-32)" >"$journal/plan" ;;
    *) T_RUN=$run ;;
  esac
  update "$shell" "$options"
  rc=$?
  [ "$rc" -eq "$want" ] || check "exit $rc, expected $want"
  if [ -n "$text" ]; then
    grep -qF -- "$text" "$work/out" || check "no \"$text\" in the output"
  elif [ -s "$work/out" ]; then
    check "output where none was expected"
  fi
  for item in $checks; do
    case $item in
      old) flashsim compare --state "$T_STATE" "$work/before.bin" || check "chip changed" ;;
      new) flashsim compare --state "$T_STATE" "$work/after.bin" || check "image not in place" ;;
      wire=*) [ "$(wire '\(..\)')" = "${item#*=}" ] || check "on the wire: $(wire '\(..\)')" ;;
      erased=*) [ "$(wire 'D8 \(.*\)' all)" = "${item#*=}" ] || check "erased: $(wire 'D8 \(.*\)' all)" ;;
      backup) cmp -s "$work/blocks.bin" "$work/backup.bin" || check "backup differs" ;;
      lines=*) [ "$(wc -l <"$work/out")" -eq "${item#*=}" ] || check "not ${item#*=} lines" ;;
      sent=*) grep -q "^  seg [0-9]* tx $(echo "${item#*=}" | tr _ ' ')\$" "$T_TRACE" ||
        check "${item#*=} not sent" ;;
      written=*) [ "$(written)" = "${item#*=}" ] || check "status writes: $(written)" ;;
    esac
  done
  failed=$((failed + row_failed))
done <<EOF
$(printf '%s\n' "$rows" | awk '{ gsub(/ *\| */, "|"); sub(/ *$/, "") }
  /^ / { row = row $0; next } { if (row != "") print row; row = $0 } END { print row }')
EOF
echo "$((count - failed)) of $count rows passed"
[ -z "${T_ONLY:-}" ] || exit $((failed != 0))

# The power-cut sweep: an update, its power cut after message k for k spread over the whole
# update (and natively, on the small part, after each romflash run's last message), the chip
# power-cycled, the same update run again with the same journal: it must finish with the image
# in place and every other byte as it was, and remove the journal. The first cut that leaves a
# journal is shown to a dry run first.
#   sweep POINTS EVERY_RUN CHIP...: about POINTS cuts; EVERY_RUN 1 adds the runs' last messages
sweep() {
  points=$1 every_run=$2 cuts=0 dry_run=''
  shift 2
  name="sweep $1" at=0x10800 T_RUN='' T_CORRUPT='' T_CUT=999999999 T_TRACE='' started=$(date +%s)
  chip "$@"
  update "busybox sh" ""
  total=$(sim summary --state "$T_STATE" --format=keys | sed -n 's/^total\.messages //p')
  for k in $({ awk -v n="$points" -v m="$total" \
    'BEGIN { for (i = 0; i < n; i++) print 1 + int(i * (m - 1) / (n - 1)) }'
    [ "$every_run" -ne 1 ] || sed '/^0$/d' "$T_STATE.starts"; } | sort -nu); do
    chip "$@"
    T_CUT=$k
    update "busybox sh" ""
    rc=$? T_CUT='' row_failed=0 cuts=$((cuts + 1))
    if [ -z "$dry_run" ] && [ -d "$journal" ]; then
      dry_run=$k
      update dash -n && grep -q "journal  unfinished in" "$work/out" ||
        check "cut after message $k: the dry run does not report the unfinished journal"
    fi
    flashsim power-cycle --state "$T_STATE"
    update "busybox sh" "" && [ "$rc" -ne 0 ] && [ ! -e "$journal" ] &&
      flashsim compare --state "$T_STATE" "$work/after.bin" ||
      check "cut after message $k (exit $rc): the next run did not finish the update"
    failed=$((failed + row_failed))
  done
  echo "sweep $* power cut: $total messages, $cuts cut points, $((cuts + count - failed))" \
    "of $((cuts + count)) rows and cuts passed, $(($(date +%s) - started)) s"
  [ -n "$dry_run" ] || failed=$((failed + 1))
}
# T_PART=large: instead of the rows and the small part's sweep, a sample of cuts on a part
# above 16 MiB with 256 KiB blocks, its bank register left at 1 (a power cycle resets it).
if [ "${T_PART:-}" = large ]; then
  sweep $((4 / stride + 2)) 0 s25fl512s old --set bank=1
else
  sweep $((50 / stride + 1)) $((stride == 1)) small old
fi
[ "$failed" -eq 0 ]
