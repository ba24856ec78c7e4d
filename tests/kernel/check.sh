#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Host side of the kernel stage: reads scenarios.txt, makes its images, writes
# the rows one boot runs in the guest, then checks that boot's console log and
# flash file against the rows and against the same rows run on flashsim.
#   check.sh images DIR | boots | rows BOOT | verify BOOT CONSOLE FLASH DIR
# verify needs FLASHSIM, ROMFLASH and ROMFLASH_FLAT (host builds); prints one line per row
# and "kernel rows: P passed, F failed"; exits non-zero on any failure.
set -euo pipefail
rows_file=$(dirname "$0")/scenarios.txt
update_script=$(cd "$(dirname "$0")/../.." && pwd)/update/romflash-update.sh
sum16() { perl -0777 -ne 'BEGIN{($o,$n)=(oct($ARGV[1]||0),defined $ARGV[2]?oct($ARGV[2]):-1); splice @ARGV,1}
  $s+=$_ for unpack "C*", $n<0 ? substr($_,$o) : substr($_,$o,$n); printf "%04X", $s & 0xFFFF' "$@"; }
lsum16() { printf '%x' "0x$(sum16 "$@")"; }   # as the verify line of PP and WRITE prints it
# Rows of boot $1 as "FLAG|STATUS|COMMAND|OUTPUT|FLASH", trimmed, numbered from 1.
boot_rows() { awk -F' *[|] *' -v OFS='|' -v b="$1" \
  '/^boot /{n++; next} /^[=~]/ && n==b {$1 = $1; print}' "$rows_file"; }

case $1 in
images) awk '$1=="image"{print $2, $3, $4}' "$rows_file" | while read -r name size seed; do
    perl -e 'srand($ARGV[1]); print pack "C*", map int rand 256, 1..$ARGV[0]' "$size" "$seed" > "$2/$name"; done ;;
boots) awk '$1=="boot"{print ++n, $2, $3}' "$rows_file" ;;
rows) boot_rows "$2" | awk -F'|' -v q="'" '{print "row " NR " " q $3 q}' ;;
verify)
  boot=$2 console=$3 final=$4 dir=$5 passed=0 failed=0
  read -r _ bufsiz image < <(awk -v b="$boot" '$1=="boot" && ++n==b' "$rows_file")
  mkdir -p "$dir/kernel" "$dir/sim"
  tr -d '\r' < "$console" | awk -v d="$dir/kernel" '
    /^@@ [0-9]+ status=/ { n=$2; sub(/.*=/, ""); print > (d "/" n ".status"); b64 = d "/" n ".b64"; printf "" > b64; next }
    /^@@ [0-9]+ end/ { b64 = ""; next }
    /^@@ bufsiz / { print $3 > (d "/bufsiz") }
    b64 != "" { print >> b64 }'
  for f in "$dir"/kernel/*.b64; do [ -e "$f" ] && base64 -d "$f" > "${f%.b64}.out"; done
  if [ "$(cat "$dir/kernel/bufsiz" 2>/dev/null)" != "$bufsiz" ]; then
    echo "FAIL boot $boot: spidev bufsiz is not $bufsiz"; failed=1; fi
  # The same rows on flashsim, with the chip and images the guest started from.
  state=$dir/chip work=$dir/sim/work
  # QEMU's model starts with status 0 and programs whole pages, where the part has its
  # BP bits set and programs one byte per 02h: the chip is made to start as QEMU's does.
  "$FLASHSIM" create --state "$state" --profile sst25vf016b --set status=0x00 --set "program=page 256" \
    ${image:+--image "$dir/work/$image"} >/dev/null
  rm -rf "$work"; cp -r "$dir/work" "$work"
  rf() { "$FLASHSIM" run --state "$state" --bufsiz "$bufsiz" -- "$ROMFLASH" -d /dev/spi0 "$@"; }
  mkdir -p "$dir/bin" && printf '#!/bin/sh\nexec "%s" run --state "%s" --bufsiz %s --device /dev/spidev0.0 -- "%s" "$@"\n' \
    "$FLASHSIM" "$state" "$bufsiz" "$ROMFLASH" > "$dir/bin/romflash" && chmod +x "$dir/bin/romflash"
  # The update beside its data and the romflash wrapper, as the guest has it.
  cp "$update_script" "$dir/bin/romflash-update" &&
    cp "$ROMFLASH_FLAT" "${update_script%/*}"/*.awk "${update_script%/*}"/*.sh "$dir/bin/"
  ru() { sh "$dir/bin/romflash-update" -d /dev/spidev0.0 "$@"; }
  row() { local s=0; (cd "$work" && eval "$2") > "$dir/sim/$1.out" 2>&1 || s=$?; echo $s > "$dir/sim/$1.status"; }
  eval "$("$0" rows "$boot")"
  "$FLASHSIM" dump --state "$state" -o "$dir/sim.bin"
  n=0 tolerated=()
  while IFS='|' read -r flag status cmd output flash; do
    n=$((n + 1)) why=()
    k=$dir/kernel/$n s=$dir/sim/$n
    [ "$(cat "$k.status" 2>/dev/null)" = "$status" ] || why+=("status $(cat "$k.status" 2>/dev/null || echo none), not $status")
    want=$(cd "$dir/work" && eval "printf '%b' \"$output\""; echo x)
    actual=$(cat "$k.out" 2>/dev/null; echo x)   # the x keeps trailing newlines
    # shellcheck disable=SC2053 # the expected output is a glob pattern
    [[ $actual == $want ]] || why+=("output differs from the pattern")
    if [ "$flag" = = ]; then
      cmp -s "$k.out" "$s.out" && [ "$(cat "$s.status")" = "$(cat "$k.status" 2>/dev/null)" ] ||
        why+=("flashsim differs: status $(cat "$s.status")")
    elif r=${flag#\~} && [ -n "$r" ]; then tolerated+=("$((${r%-*}))-$((${r#*-}))"); fi
    for m in $flash; do
      addr=${m%%+*} rest=${m#*+} len=${m#*+} len=${len%%=*} src=${m#*=}
      if [ "$src" = FF ]; then ref=$dir/ff.bin skip=0; head -c $((len)) /dev/zero | tr '\0' '\377' > "$ref"
      else ref=$dir/work/${src%@*} skip=$((${src#*@})); fi
      cmp -s -n $((len)) -i $((addr)):$skip "$final" "$ref" || why+=("flash ${m} does not hold")
    done
    if [ ${#why[@]} -eq 0 ]; then passed=$((passed + 1)); echo "ok   $boot.$n $cmd"
    else failed=$((failed + 1)); echo "FAIL $boot.$n $cmd: $(IFS=';'; echo "${why[*]}")"
      for w in kernel:$k flashsim:$s; do sed "s/^/    ${w%%:*}: /" "${w#*:}.out" 2>/dev/null | cut -c1-150 | head -n 5; done; fi
  done < <(boot_rows "$boot")
  # Final flashes: every differing byte must lie in a known difference's range.
  stray=$(cmp -l "$final" "$dir/sim.bin" | awk -v r="${tolerated[*]}" '
    BEGIN { n = split(r, t, "[ -]") }  # low, high, low, high, ...
    { a = $1 - 1; for (i = 1; i < n; i += 2) if (a >= t[i] + 0 && a <= t[i + 1] + 0) next
      printf "0x%06X ", a; if (++c == 8) exit }' || true)
  if [ -z "$stray" ]; then passed=$((passed + 1)); echo "ok   $boot.flash kernel and flashsim flashes agree"
  else failed=$((failed + 1)); echo "FAIL $boot.flash kernel and flashsim flashes differ at $stray"; fi
  echo "kernel rows: $passed passed, $failed failed"
  [ "$failed" -eq 0 ] ;;
esac
