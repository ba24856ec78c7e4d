#!/bin/sh
# SPDX-License-Identifier: MIT
# flatten-catalogue, as the build runs it: the catalogue with one line changed is
# refused with its file and line and nothing written; the catalogue as it is gives
# the flat table and marks table, which carry the datasheet facts resolved.
#   flatten_test.sh FLATTEN CATALOGUE [EMULATOR WORDS]
set -u
[ $# -ge 2 ] || { echo "usage: $0 FLATTEN CATALOGUE [EMULATOR]" >&2; exit 2; }
flatten=$1 good=$2 emu=${3:-}
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL $*"; failed=1; }
# shellcheck disable=SC2086 # the emulator is a word list
run() { $emu "$flatten" "$1" "$work/flat" "$work/marks" 2>"$work/err"; }

# Bad rows, one refusal each: the first line matching WHERE becomes NEW (empty:
# a blank line), and the reader names NAMED's line (empty: the changed one).
# WHERE @ NEW @ the refusal @ NAMED
while IFS=@ read -r where new reason named; do
  at=$(grep -n -m1 -e "$where" "$good" | cut -d: -f1)
  [ -n "$at" ] || { fail "no line matches $where"; continue; }
  awk -v at="$at" -v new="$new" 'NR == at { print new; next } { print }' "$good" >"$work/bad.txt"
  [ -z "$named" ] || at=$(grep -n -m1 -e "$named" "$work/bad.txt" | cut -d: -f1)
  rm -f "$work/flat" "$work/marks"
  run "$work/bad.txt"
  rc=$? err=$(cat "$work/err")
  case $rc:$err in
    "1:$work/bad.txt:$at: $reason"*) ;;
    *) fail "$where -> $new: exit $rc, '$err', wanted line $at: $reason" ;;
  esac
  if [ -e "$work/flat" ] || [ -e "$work/marks" ]; then fail "$new: a table was written"; fi
done <<'ROWS'
^part default$@size 1M | DS@'size' before the first part line@
^config  *0x00  *| SIM@colour red | SIM@unknown field 'colour'@
^time-register@@default lacks time-register@^part default$
^base  *SST25VF016B@base SST25VF999@no part SST25VF999 to take as base@
^base  *default@base small@base of small leads back to itself@
^size  *16M  *| SIM@size 16M@'size' needs its marks after '|'@
^size  *16M  *| SIM@size 16M | XX@unknown mark 'XX'@
^wrr1  *status  *| SIM@lock bp | SIM@'lock' given twice for default@
^eraseD8  *64K @eraseD8 64X | SIM@eraseD8: a block size@
^eraseD8  *8K\*4@eraseD8 8K*4 32K 64K*31 32K 8K*4 | FR@SST26VF016B: eraseD8: the block map covers 2112K@^part SST26VF016B
^banks  *ear@banks none | DS@MX25L25645G: size 32M above 16 MiB needs banks bar or ear@^part MX25L25645G
ROWS

# The catalogue as it is: datasheet facts, resolved (sizes and blocks in bytes, the
# D8h map of SST26VF016B expanded, the ID-CFI area's length 4Dh and its 77 bytes).
run "$good" || fail "the catalogue refused: $(cat "$work/err")"
map=$(awk 'BEGIN { s = "8192,8192,8192,8192,32768"; for (i = 0; i < 30; i++) s = s ",65536"
  print s ",32768,8192,8192,8192,8192" }')
# PROFILE @ KEY=VALUE the part's line holds
while IFS=@ read -r profile fact; do
  grep -q "^profile=$profile .* $fact\( \|$\)" "$work/flat" || fail "$profile: no $fact"
done <<ROWS
w25q128jv@size=16777216
sst26vf016b@eraseD8=$map
sst25vf016b@program=byte
s25fl512s@eraseD8=262144
s25fl512s@ext=cfi
s25fl512s@rdid=4D0080$(awk 'BEGIN { while (n++ < 75) printf "[0-9A-F][0-9A-F]" }')
ROWS
[ "$(grep -c '^profile=' "$work/flat")" -eq "$(grep -c '^part ' "$good")" ] ||
  fail "not one line per part"
# A fact taken through base is a sibling's: SST25VF040B's 20h erase, DSf on SST25VF016B.
grep -qx 'sst25vf040b erase20 FR Q DSs' "$work/marks" || fail "marks: $(grep 'sst25vf040b erase20' "$work/marks")"
exit $failed
