#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update's planner (update/plan.awk) on its own: candidate parts and an
# image's range in, the plan out; one row per case, under BusyBox awk and the
# host's awk.
#   plan_test.sh PLAN.AWK
set -u
[ $# -eq 1 ] || { echo "usage: $0 PLAN.AWK" >&2; exit 2; }
planner=$1
command -v busybox >/dev/null || { echo "busybox not found (Debian package busybox)" >&2; exit 1; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# name | candidates: NAME SIZE ERASE [PROGRAM LOCK BANKS], ';' between; ERASE "absent" or
#   a map from 0 upward, terms joined by '+' | range START END (END exclusive) | changed
#   blocks (by address) | the plan: KEY=VALUE (exactly) or KEY~TEXT (contains), ';' between
# Numbers with K or M are KiB and MiB (1984K:32K is 2031616:32768).
rows='
uniform 64 KiB | A 1M 64K | 0x10800 0x22B45 | 64K 128K | first=64K; last=192K;
  bounds=64K 128K 192K; block_size=64K; runs=64K:128K; rewritten=2; skipped=0;
  blocks=0x010000-0x02FFFF; run=64K 128K 0;
  lost=2048 bytes in 0x010000-0x0107FF and 54459 bytes in 0x022B45-0x02FFFF
a changed block between unchanged | A 1M 64K | 0x0 0x30000 | 0 128K | runs=0:64K 128K:64K;
  rewritten=2; skipped=1; blocks=0x000000-0x00FFFF 0x020000-0x02FFFF
nothing changed | A 1M 64K | 0x10800 0x22B45 | | runs=; rewritten=0; skipped=2; lost=
256 KiB blocks | S 64M 256K | 0x3F800 0x51B45 | 256K | first=0; last=512K; bounds=0 256K 512K;
  block_size=256K; runs=256K:256K; rewritten=1; skipped=1;
  lost=189627 bytes in 0x051B45-0x07FFFF
SST26 map, bottom | T 2M 8K*4+32K+64K*30+32K+8K*4 | 0x1000 0x9000 | 0 8K 32K | first=0;
  last=64K; bounds=0 8K 16K 24K 32K 64K; alone=0 8K 16K 24K 32K; block_size=-1;
  runs=0:8K 8K:8K 32K:32K; rewritten=3; skipped=2; refuse=
SST26 map, top | T 2M 8K*4+32K+64K*30+32K+8K*4 | 0x1F7000 0x1FB000 | 1984K 2016K 2024K |
  first=1984K; last=2032K; bounds=1984K 2016K 2024K 2032K; runs=1984K:32K 2016K:8K 2024K:8K;
  lost=28672 bytes in 0x1F0000-0x1F6FFF and 4096 bytes in 0x1FB000-0x1FBFFF
SST26 map, 64 KiB blocks join | T 2M 8K*4+32K+64K*30+32K+8K*4 | 0x10000 0x30000 | 64K 128K |
  alone=; runs=64K:128K
three candidates | A 16M 64K; B 8M 256K; C 16M 4K*16+64K*255 | 0x3F800 0x51B45 | |
  candidates=3; names=A, B or C; part_size=8M; block_size=-1; bounds=0 256K 512K;
  refuse~9 A, B or C: 0xD8 erases blocks under 64 KiB in 0x000000-0x03FFFF, which WRITE
past the end | A 1M 64K | 0xF0000 0x102345 | | first=; bounds=;
  refuse~8 image 0x0F0000-0x102344 ends past the part'"'"'s last address 0x0FFFFF (A)
no 0xD8 | B 2M absent page none none | 0x0 0x1000 | | refuse~9 B: it has no 0xD8 erase
bank register | M 32M 64K page bp bar | 0x0 0x1000 | | refuse=;
  assume=M'"'"'s bank address register
'

# Sizes with K and M as bytes.
bytes() {
  awk '{ while (match($0, /[0-9]+[KM]/)) {
      n = substr($0, RSTART, RLENGTH - 1) * (substr($0, RSTART + RLENGTH - 1, 1) == "K" ? 1024 : 1048576)
      $0 = substr($0, 1, RSTART - 1) n substr($0, RSTART + RLENGTH) } print }'
}
failed=0 count=0
for awk in "busybox awk" awk; do
  while IFS='|' read -r name parts range changed plan; do
    [ -n "$name" ] || continue
    count=$((count + 1)) row_failed=0
    printf '%s\n' "$parts" | tr ';' '\n' | bytes |
      awk 'NF { gsub(/\+/, " ", $3)  # a map'"'"'s terms
        printf "%s\t%s\t%s\t%s\t%s\t%s\n", $1, $2, $3, $4 ? $4 : "page", $5 ? $5 : "none", $6 ? $6 : "none" }' \
        >"$work/candidates"
    # shellcheck disable=SC2086 # START END and extra awk options, word by word
    set -- $range
    start=$(($1)) end=$(($2))
    shift 2
    # shellcheck disable=SC2086 # the awk command and the extra -v words
    $awk -v start="$start" -v end="$end" -v changed="$(echo "$changed" | bytes)" "$@" -f "$planner" \
      "$work/candidates" >"$work/plan" 2>&1 || { echo "FAIL $awk, $name: exit $?"; row_failed=1; }
    printf '%s\n' "$plan" | tr ';' '\n' | bytes >"$work/checks"
    while read -r check; do
      key=${check%%[=~]*} want=${check#*[=~]}
      got=$(sed -n "s/^$key //p" "$work/plan")
      case $check in
        "$key="*) [ "$got" = "$want" ] && continue ;;
        *) case $got in *"$want"*) continue ;; esac ;;
      esac
      echo "FAIL $awk, $name: $key is \"$got\", expected $check"
      row_failed=1
    done <"$work/checks"
    [ "$row_failed" -eq 0 ] || sed 's/^/  | /' "$work/plan"
    failed=$((failed + row_failed))
  done <<ROWS
$(printf '%s\n' "$rows" | awk '/^ / { row = row " " substr($0, 3); next }
  { if (row != "") print row; row = $0 } END { print row }' | sed 's/ *| */|/g')
ROWS
done
echo "$((count - failed)) of $count planner rows passed"
[ "$failed" -eq 0 ]
