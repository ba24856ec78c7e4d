#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update on the simulated chip, one row per scenario, under BusyBox
# ash, dash and bash.
#   update_test.sh SCRIPT ROMFLASH FLASHSIM LIBFLASHSIM [EMULATOR WORDS]
set -u
[ $# -ge 4 ] || { echo "usage: $0 SCRIPT ROMFLASH FLASHSIM LIBFLASHSIM [EMULATOR]" >&2; exit 2; }
script=$1
export T_ROMFLASH="$2" T_FLASHSIM="$3" T_LIB="$4" T_EMU="${5:-}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-verify_asan_link_order=0:detect_leaks=1}"
command -v busybox >/dev/null || { echo "busybox not found (Debian package busybox)" >&2; exit 1; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
export T_STATE="$work/chip" T_TRACE="$work/trace" T_RUN T_CORRUPT

# The romflash the script finds on PATH: the real binary on the simulated chip,
# one flashsim run per call, all on one state directory. No simulator fault
# leaves a wrong byte behind a WRITE that passes its own checksum, so with
# T_CORRUPT set this wrapper overwrites two bytes there once WRITE is done.
mkdir "$work/bin" && printf XY >"$work/corrupt"
cat >"$work/bin/romflash" <<'EOF'
#!/bin/sh
set -- --state "$T_STATE" --trace "$T_TRACE" --lib "$T_LIB" $T_RUN -- "$T_ROMFLASH" "$@"
[ -z "$T_EMU" ] || set -- --emulator "$T_EMU" "$@"
$T_EMU "$T_FLASHSIM" run "$@"
rc=$?
case " $* " in
  *" WRITE "*) [ -z "$T_CORRUPT" ] || $T_EMU "$T_FLASHSIM" load --state "$T_STATE" --offset "$T_CORRUPT" "${T_STATE%/*}/corrupt" ;;
esac
exit $rc
EOF
chmod +x "$work/bin/romflash"
PATH="$work/bin:$PATH"
flashsim() { $T_EMU "$T_FLASHSIM" "$@" >/dev/null; }

# A 1 MiB chip full of text that differs in every sector, and an image of
# 0x12345 bytes for 0x010800-0x022B44: its sectors 0x010000-0x02FFFF keep
# 0x800 bytes before it and 0xD4BB after it.
seq 1 200000 | head -c 1048576 >"$work/old.bin"
seq 500000 700000 | head -c 74565 >"$work/image.bin"
cp "$work/old.bin" "$work/new.bin"
dd if="$work/image.bin" of="$work/new.bin" bs=1 seek=$((0x10800)) conv=notrunc 2>/dev/null
tail -c +$((0x10000 + 1)) "$work/old.bin" | head -c $((0x20000)) >"$work/sectors.bin"

# name | shell | chip settings | flashsim run options (corrupt: XY over
# 0x02FFFE, in the kept bytes, after the WRITE) | romflash-update options |
# exit | text in the output (empty: no output at all) | checks:
#   new/old  the whole chip holds the image over the old data / the old data
#   clean    romflash ran, with no erase, program or register write on the wire
#   backup   the -b file holds the covered sectors as they were
rows='
unaligned      | busybox sh |                   |             | -j "01 20 14" -b $work/backup.bin | 0 | verify: sectors 0x010000-0x02FFFF identical | new backup
quiet          | bash       |                   |             | -j 0x01,0x20,0x14 -q | 0 |                                                       | new
wrong chip     | busybox sh |                   |             | -j EF4018            | 3 | holds chip 01 20 14, expected EF 40 18; nothing was written to 0x010800-0x022B44 | old clean
absent (FF)    | busybox sh |                   | --absent ff |                      | 3 | no chip answers on /dev/spi0 (ID FF FF FF)            | old clean
absent (00)    | dash       |                   | --absent 00 |                      | 3 | no chip answers on /dev/spi0 (ID 00 00 00)            | old clean
protected      | busybox sh | --set status=0x9C |             |                      | 4 | sectors 0x010000-0x02FFFF: block protection is set (BP2..BP0 = 111 in status 0x9C) | old clean
unprotect      | dash       | --set status=0x9C |             | -u                   | 0 | BP2..BP0 = 111 in status 0x9C, cleared, now 0x80        | new
dry run        | busybox sh | --set status=0x14 |             | -n -u                | 0 | erase    64 KiB sectors at 0x010000 0x020000          | old clean
mismatch       | busybox sh |                   | corrupt     |                      | 6 | verify 0x010000-0x02FFFF: 2 bytes differ, the first at 0x02FFFE (flash 0x58, expected 0x39) |
erase fails    | busybox sh |                   | --fail-opcode 0xD8 |               | 5 | WRITE of 0x010000-0x02FFFF failed (romflash exit 11)  |
past the chip  | busybox sh |                   |             | -a 0xF0000           | 2 | sectors 0x0F0000-0x10FFFF for image 0x0F0000-0x102344 end past the chip'"'"'s last address 0x0FFFFF | old clean
past -c size   | dash       |                   |             | -c 0x20000           | 2 | end past the chip'"'"'s last address 0x01FFFF               | old clean
past 24 bits   | busybox sh |                   |             | -a 0xFFF000          | 2 | image 0xFFF000-0x1011344: ends past 0xFFFFFF          | old
bad option     | busybox sh |                   |             | -x                   | 2 | -x: unknown option                                    | old
'

failed=0 count=0
check() {
  echo "FAIL $name: $*"
  sed 's/^/  | /' "$work/out"
  row_failed=1
}
trim() { printf '%s' "$1" | sed 's/^ *//; s/ *$//'; }
while IFS='|' read -r name shell settings run options want text checks; do
  [ -n "$name" ] || continue
  name=$(trim "$name") want=$(trim "$want") text=$(trim "$text") count=$((count + 1)) row_failed=0
  T_RUN='' T_CORRUPT=''
  case $run in *corrupt*) T_CORRUPT=0x2FFFE ;; *) T_RUN=$run ;; esac
  flashsim create --state "$T_STATE" --profile small --image "$work/old.bin" $settings
  rm -f "$T_TRACE" "$work/backup.bin"
  eval "$shell \"\$script\" -d /dev/spi0 -s 16000 -f \"\$work/image.bin\" -a 0x10800 $options" </dev/null >"$work/out" 2>&1
  rc=$?
  [ "$rc" -eq "$want" ] || check "exit $rc, expected $want"
  if [ -n "$text" ]; then
    grep -qF -- "$text" "$work/out" || check "no \"$text\" in the output"
  elif [ -s "$work/out" ]; then
    check "output where none was expected"
  fi
  for item in $checks; do
    case $item in
      new | old) flashsim compare --state "$T_STATE" "$work/$item.bin" || check "chip does not hold the $item data" ;;
      clean)
        grep -q '^  seg 1 tx 9F$' "$T_TRACE" || check "no RDID in the trace"
        ! grep -E '^  seg [0-9]+ tx (06|50|01|02|20|40|52|D8|60|C7)( |$)' "$T_TRACE" || check "written to" ;;
      backup) cmp -s "$work/sectors.bin" "$work/backup.bin" || check "backup differs from the old sectors" ;;
    esac
  done
  failed=$((failed + row_failed))
done <<EOF
$rows
EOF
echo "$((count - failed)) of $count rows passed"
[ "$failed" -eq 0 ] && [ "$count" -gt 0 ]
