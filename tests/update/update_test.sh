#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update on the simulated chip: one row per scenario, under BusyBox
# ash, dash and bash, and a power-cut sweep over a whole update. PART picks one
# bounded piece, so that each is a test of its own:
#   rows:K/N     every N-th row from the K-th on
#   cuts:K/N     every N-th cut point from the K-th on (of a first, counted update)
#   large:K/N    the same, a sample of cuts on a part above 16 MiB with 256 KiB blocks
#   update_test.sh SCRIPT ROMFLASH FLASHSIM LIBFLASHSIM STRIDE PART [EMULATOR WORDS]
# STRIDE thins the sweep's cut points (1 natively). Each row and cut point is
# announced before it runs, so the last lines of a stopped run say where it was.
# T_ONLY=PATTERN: only the rows it names.
set -u
[ $# -ge 6 ] || { echo "usage: $0 SCRIPT ROMFLASH FLASHSIM LIB STRIDE PART [EMULATOR]" >&2; exit 2; }
# shellcheck disable=SC2034 # script is read through the eval in update()
script=$1 main_script=$1 stride=$5 part=$6 piece=${6#*:}
pieces=${piece#*/} piece=${piece%/*}
export T_ROMFLASH="$2" T_FLASHSIM="$3" T_LIB="$4" T_EMU="${7:-}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-verify_asan_link_order=0:detect_leaks=1}"
command -v busybox >/dev/null || { echo "busybox not found (Debian package busybox)" >&2; exit 1; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work" /dev/shm/romflash-update-test' EXIT
export T_STATE="$work/chip" T_TRACE="$work/trace" T_XY="$work/corrupt" T_RUN T_CORRUPT T_CUT
# Each test's own lock directory: the tests run at once, each on a /dev/spi0 of its own.
export ROMFLASH_UPDATE_LOCK_DIR="$work/lock"
mkdir "$work/lock" || exit 1
only=${T_ONLY:-*} lock=$work/lock/romflash-update._dev_spi0.lock

# The romflash the script finds on PATH: tests/update/simulated-romflash.sh, the real binary
# on the simulated chip (its power cut by T_CUT, two bytes corrupted after each WRITE by
# T_CORRUPT).
mkdir "$work/bin" && printf XY >"$work/corrupt" &&
  cp "$(dirname "$0")/simulated-romflash.sh" "$work/bin/romflash" && chmod +x "$work/bin/romflash"
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

# The script beside a flat parts table in which two of Linux's parts answer one ID, with
# different sizes and erase blocks (Linux's tables have no such pair).
mkdir "$work/collide" && cp "$script" "$work/collide/romflash-update"
cat >"$work/collide/catalogue.flat" <<'EOF'
part=WIDE kind=kernel size=1048576 jedec=9D6014 ext=none rdid=00 eraseD8=262144 program=page lock=none banks=none
part=NARROW kind=kernel size=2097152 jedec=9D6014 ext=none rdid=00 eraseD8=65536 program=page lock=none banks=none
EOF

# name | shell (ash: BusyBox) | chip: profile, contents at 0 (old, new, gap, one: new up
# to 0x020000, old from there), settings |
# flashsim run options (corrupt: XY over 0x02FFFE after each WRITE; torn: a journal whose
# data does not match its plan's checksum; collide: the script beside the parts file
# above) | options; the options of each later run on the
# same chip and journal, without -f and -a ("cut": its power is cut half as many messages in
# as the runs before it took, it must fail leaving the journal, and the chip is
# power-cycled); j=DIR,OWNER,MODE: a whole journal of other bytes for block 0 in $work/DIR
# (1777 but for journal), OWNER's, files of MODE; held: a first update holds the lock, waits,
# then must finish; stale: a dead pid's lock | exit | output text (empty: none at all) of the
# last run | checks:
#   old/new    the chip holds what it held / that with the image at -a (0x10800)
#   wire=OPS   the commands on the wire, by opcode: 9F RDID, 05 RDSR, 0B FREAD, ...
#   erased=AT  the 0xD8 erases sent, by address
#   backup     the -b file holds the covered blocks as they were
#   kept/none  the journal directory holds a kept copy / none
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
torn journal | ash | small old | torn | | 11 | _dev_spi0.journal is torn | old wire=
planted | ash | small old | j=shared,nobody,644 | -J $work/shared | 11 | shared can be written by |
  old wire=
foreign | dash | small old | j=journal,nobody,644 | | 11 | belongs to user 65534, not to user 0 |
  old wire=
writable | ash | small old | j=journal,0,666 | | 11 | plan can be written by other users (mode 666) |
  old wire=
tmpfs (/dev/shm) | ash | small old | | -J /dev/shm/romflash-update-test | 11 | is on tmpfs, | old wire=
unfinished | ash | small old --set status=0x9C | j=journal,0,644 | | 4 |
  journal $work/journal/_dev_spi0.journal covers blocks 0x000000-0x00FFFF from | old wire=05,9F
held | ash | small old | held | | 14 | another update holds /dev/spi0: pid | old wire=
stale lock | dash | small old | stale | | 0 | lock: took over | new
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
byte program | ash | sst25vf016b old | | -u | 9 | WRITE would erase and then fail | old wire=9F
global lock | dash | sst26vf016b old | | | 10 | SST26VF016B: every block is locked at power-up |
  old wire=9F
unknown part | ash | small old --set jedec=012018 --set ext=none | | | 7 | byte 00), which the |
  old wire=9F
geometry | ash | small old --set jedec=C22817 | | -g 0x100000:0x10000 | 0 | -g, 1 MiB | new
256 KiB | ash | s25fl128s old | | -a 0x3F800 | 0 | S25FL128S; taking what loses no data: 16 MiB, |
  new erased=000000,010000,020000,030000,040000,050000,060000,070000
bad option | ash | small old | | -x | 2 | -x: unknown option | old wire=
roll back | ash | small old | | -k; -R | 0 | rollback: done; the kept copy | old none
unchanged rollback | dash | small new | | -k; -R | 0 | 0 blocks rewritten, 2 | new none
commit | dash | small old | | -k; -C | 0 | commit: the kept copy | new none
keep over kept | ash | small old | | -k; -k -a 0x10000 -f $work/blocks.bin; -R | 0 | done; |
  old none
keep other blocks | ash | small old | | -k; -k -a 0 -f $work/blocks.bin | 11 | not committed, |
  new kept
nothing kept | ash | small old | | ; -R | 12 | no kept copy in | old wire= none
cut rollback | bash | small old | | -k; cut -R; -R | 0 | rollback: done | old none
Linux: named | dash | w25q32 old | | | 0 | W25Q32, 4 MiB, 0xD8 erases 64 KiB | new
Linux: one ID | ash | small old --set jedec=1F4700 | | | 0 | AT25DF321 or AT26DF321; taking | new
Linux: collision | ash | small old --set jedec=9D6014 | collide | | 0 | is WIDE or NARROW; taking what loses no data: 1 MiB, 0xD8 erases 256 KiB |
  new erased=000000,010000,020000,030000
Linux: sibling | dash | s25fl128s1 old | | | 0 | is S25FL129P1 or S25FL128S1; taking what loses no data: 16 MiB, 0xD8 erases 64 KiB |
  new erased=010000,020000
Linux: byte | ash | sst25vf080b old | | -u | 9 | SST25VF080B: its page program (0x02) programs |
  old wire=9F
Linux: 256 KiB | dash | m25p128 old | | -a 0x3F800 | 0 | M25P128, 16 MiB, 0xD8 erases 256 KiB |
  new erased=000000,040000
Linux: SFDP | ash | s25fs256t old --set size=1M --set eraseD8=64K | | | 7 | knows as S25FS256T but sizes from |
  old wire=9F
Linux: SFDP -g | dash | s25fs256t old --set size=1M --set eraseD8=64K | | -g 0x100000:0x10000 | 0 | -g, 1 MiB | new
bank 1, BRAC | ash | s25fl512s old --set bank=1 | | | 0 | bank register written back to 0 |
  new erased=000000 sent=B9
bank 1, EAR | ash | mx25l25645g old --set bank=1 | | | 13 | Power-cycle the board | old wire=9F
4-byte, BRAC | dash | s25fl512s old --set addr4=1 | | | 0 | in place; 1 block rewritten | new
  erased=000000
4-byte, EAR | ash | mx25l25645g old --set addr4=1 | | -P | 13 | in 4-byte address mode |
  old wire=03,9F
power-up | bash | mx25l25645g old | | -P -q | 0 | as at power-up (-P); if a boot | new lines=1
second register | ash | s25fl512s old --set status=0x1C --set config=0x02 | | -u | 0 | second register 0x02 kept |
  new written=01_00_02
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
  run "$1" "-f \"\$work/image.bin\" -a $at $2"
}
run() {  # run SHELL OPTIONS
  eval "$1 \"\$script\" -d /dev/spi0 -s 16000 -J \"\$work/journal\" $2" </dev/null >"$work/out" 2>&1
}
messages() { sim summary --state "$T_STATE" --format=keys | sed -n 's/^total\.messages //p'; }
later() {  # later SHELL RUN...: each later run of a row, and its power cut
  shell=$1 && shift
  for step in "$@"; do
    case $step in *cut*) T_CUT=$(($(messages) * 3 / 2)) step=${step#*cut} ;; esac
    run "$shell" "$step"
    rc=$?
    [ -z "$T_CUT" ] || { { [ "$rc" -ne 0 ] && [ -d "$journal" ]; } || check "the cut missed"
      T_CUT='' && flashsim power-cycle --state "$T_STATE"; }
  done
  return "$rc"
}
journal=$work/journal/_dev_spi0.journal
journal() {  # DIR OWNER MODE
  set -- "$work/$1/_dev_spi0.journal" "$2" "$3" "$1" && mkdir -p "$1"
  [ "$4" = journal ] || chmod 1777 "${1%/*}"
  seq 900000 999999 | head -c 65536 >"$1/data"
  printf 'romflash-update journal 1\nid 01 20 14\nimage 0x000000-0x00FFFF\nblocks 0x000000-0x00FFFF\nrun 0 65536 0\n' >"$1/plan"
  printf 'md5 %s\nend\n' "$(cat "$1/plan" "$1/data" | md5sum | cut -c1-32)" >>"$1/plan"
  chown -R "$2" "$1" && chmod "$3" "$1"/*
}
run_rows() {
  index=0
  while IFS='|' read -r name shell settings run options want text checks; do
    [ -n "$name" ] || continue
    # shellcheck disable=SC2254 # T_ONLY is a pattern
    case $name in $only) ;; *) continue ;; esac
    index=$((index + 1))
    [ $((index % pieces)) -eq $((piece % pieces)) ] || continue
    echo "row $index: $name ($shell)"
    count=$((count + 1)) row_failed=0 T_RUN='' T_CORRUPT='' T_CUT='' first=''
    [ "$shell" != ash ] || shell="busybox sh"
    at=$(printf '%s' "${options%%;*}" | sed -n 's/.*-a \(0x[0-9A-F]*\).*/\1/p')
    at=${at:-0x10800}
    chip $settings
    rm -rf "$work/shared" "$work/lock" /dev/shm/romflash-update-test && mkdir "$work/lock"
    case $run in
      corrupt) T_CORRUPT=0x2FFFE ;;
      collide) script=$work/collide/romflash-update ;;
      torn) journal journal 0 644 && echo other >"$journal/data" ;;
      j=*) IFS=, && set -- ${run#j=} && unset IFS && journal "$@" ;;
      held) : >"$work/hold" && (export T_HOLD="$work/hold" T_TRACE='' && update "busybox sh" "") &
        first=$! && until [ -e "$work/hold.held" ] || ! kill -0 "$first"; do sleep 1; done ;;
      stale) mkdir "$lock" && echo "pid $(sh -c 'echo $$')" >"$lock/owner" ;;
      *) T_RUN=$run ;;
    esac
    eval "text=\"$text\""
    IFS=';'
    # shellcheck disable=SC2086 # the runs, split at the semicolons
    set -- $options
    unset IFS
    case $options in ';'*) ;; *) update "$shell" "${1:-}" ;; esac
    rc=$?
    [ $# -le 1 ] || { shift && later "$shell" "$@"; rc=$?; }
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
        sent=*) grep -q "^  seg [0-9]* tx $(echo "${item#*=}" | tr _ ' ')\$" "$T_TRACE" ||
          check "${item#*=} not sent" ;;
        written=*) [ "$(written)" = "${item#*=}" ] || check "status writes: $(written)" ;;
        kept) [ -d "$work/journal/_dev_spi0.kept" ] || check "no kept copy" ;;
        none) [ ! -e "$work/journal/_dev_spi0.kept" ] || check "a kept copy stays" ;;
        lines=*) [ "$(wc -l <"$work/out")" -eq "${item#*=}" ] || check "not ${item#*=} lines" ;;
      esac
    done
    [ -z "$first" ] || { rm "$work/hold" "$work/hold.held" && wait "$first" &&
      flashsim compare --state "$T_STATE" "$work/after.bin"; } || check "the first did not finish"
    [ ! -e "$lock" ] || check "the lock stays after the update"
    failed=$((failed + row_failed)) script=$main_script
  done <<EOF
$(printf '%s\n' "$rows" | awk '{ gsub(/ *\| */, "|"); sub(/ *$/, "") }
  /^ / { sub(/^ */, ""); row = row $0; next } { if (row != "") print row; row = $0 } END { print row }')
EOF
  echo "$((count - failed)) of $count rows passed (every $pieces-th from row $piece)"
  [ "$failed" -eq 0 ] && [ "$count" -gt 0 ]
}

# The power-cut sweep: the update of the first row, its power cut after message k for k
# spread over the whole update (and natively after each romflash run's last message), the
# chip power-cycled, the same update run again with the same journal: it must finish with
# the image in place and every other byte as it was, and remove the journal. At least ten
# points, so that each of ten shares has one. The first cut that leaves a journal in each
# share is shown to a dry run first; the share that holds the last cut point, which comes
# after the journal is written, must have had one.
#   run_cuts WHAT POINTS EVERY_RUN CHIP...: about POINTS cuts, EVERY_RUN 1 adds each run's last
run_cuts() {
  what=$1 points=$2 every_run=$3
  shift 3
  name=sweep at=0x10800 T_RUN='' T_CORRUPT='' T_CUT=999999999 T_TRACE=''
  chip "$@"
  update "busybox sh" ""
  total=$(messages)
  { awk -v n="$points" -v m="$total" \
    'BEGIN { for (i = 0; i < n; i++) print 1 + int(i * (m - 1) / (n - 1)) }'
    [ "$every_run" -ne 1 ] || sed '/^0$/d' "$T_STATE.starts"; } | sort -nu >"$work/all"
  awk -v k="$piece" -v n="$pieces" '(NR - k) % n == 0' "$work/all" >"$work/cuts"
  cuts=0 dry_run=''
  for k in $(cat "$work/cuts"); do
    echo "cut after message $k"
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
  echo "sweep update power cut$what, slice $piece of $pieces: $total messages, $cuts tried," \
    "$((cuts - failed)) survived, 0 refused"
  [ "$failed" -eq 0 ] && [ "$cuts" -gt 0 ] &&
    { [ -n "$dry_run" ] || [ "$(tail -n 1 "$work/all")" != "$(tail -n 1 "$work/cuts")" ]; }
}

case $part in
  rows:*/[1-9]*) run_rows ;;
  cuts:*/[1-9]*) run_cuts '' $((50 / stride + 1 > 10 ? 50 / stride + 1 : 10)) $((stride == 1)) small old ;;
  # A part above 16 MiB with 256 KiB blocks, its bank register left at 1 (a power cycle resets it).
  large:*/[1-9]*) run_cuts ' above 16 MiB' $((4 / stride + 2)) 0 s25fl512s old --set bank=1 ;;
  *) echo "$0: PART is rows:K/N, cuts:K/N or large:K/N, not '$part'" >&2; exit 2 ;;
esac
