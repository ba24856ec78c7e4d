#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update behind Debian's own swupdate and mender on the simulated chip: the
# build's romflash and fleet components installed into a scratch prefix, the installed
# romflash replaced by tests/update/simulated-romflash.sh, then one row per scenario, each
# on a fresh chip. Prints "fleet: N passed, F failed".
#   fleet_test.sh BUILD       (a native build tree; run as root: mender's modules
#                              directory is fixed, so it is bind-mounted in a private
#                              mount namespace, never written)
set -u
build=$(cd "${1:?usage: $0 BUILD}" && pwd) || exit 1
tests=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
export T_ROMFLASH="$build/src/romflash" T_FLASHSIM="$build/sim/flashsim" T_EMU='' T_RUN=''
export T_LIB="$build/sim/libflashsim.so" T_STATE="$work/chip" T_TRACE="$work/trace" T_CUT=''
export T_CORRUPT='' TMPDIR="$work/tmp"
usr=$work/usr
mkdir "$TMPDIR" && cmake --install "$build" --prefix "$usr" >/dev/null &&
  cmake --install "$build" --prefix "$usr" --component fleet >/dev/null &&
  cp "$tests/update/simulated-romflash.sh" "$usr/bin/romflash" || exit 1
PATH=$usr/bin:$PATH
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -days 1 -subj /CN=fleet-test 2>/dev/null || exit 1
echo 'globals: { };' >"$work/swupdate.cfg"

# 1 MiB of old contents and an image of 0x12345 bytes for 0x010800 (as the update test's).
seq 1 200000 | head -c 1048576 >"$work/old.bin"
seq 500000 700000 | head -c 74565 >"$work/image.bin"
{ head -c $((0x10800)) "$work/old.bin" && cat "$work/image.bin" &&
  tail -c +$((0x10800 + 74565 + 1)) "$work/old.bin"; } >"$work/new.bin"

swupdate_run() {  # swupdate_run STEP: install (the .swu), tampered (one byte of its image
  swu=$work/art.swu  # changed) or rollback (romflash-update -R, SWUpdate's route to it)
  [ "$1" != rollback ] || { romflash-update -d /dev/spi0 -s 16000 -J "$work/journal" -R; return; }
  if [ "$1" = tampered ]; then  # a Z over the first 5 of the image's 500123
    cp "$swu" "$work/tampered.swu" && swu=$work/tampered.swu && printf Z | dd of="$swu" bs=1 \
      seek="$(grep -boa 500123 "$swu" | head -n 1 | cut -d: -f1)" conv=notrunc 2>/dev/null
  fi
  LUA_PATH="$usr/share/lua/5.3/?.lua;;" swupdate -f "$work/swupdate.cfg" -H sim:1.0 \
    -k "$work/cert.pem" -i "$swu" -l 3
}
swupdate_build() { romflash-swu "$@" -k "$work/key.pem" -c "$work/cert.pem" -H 1.0 \
  -o "$work/art.swu"; }
mender_build() { romflash-mender "$@" -n image -t sim -o "$work/art.mender"; }
mender_run() {  # mender_run STEP: install (the artifact), commit or rollback
  [ "$1" != install ] || set -- install "$work/art.mender"
  unshare -m sh -c 'mount --bind "$0/share/mender/modules/v3" /usr/share/mender/modules/v3 &&
    mount --bind "$1/etc" /etc/mender && m=$1 && shift &&
    exec mender -b "$m/none.conf" -d "$m/data" --no-syslog "$@"' "$usr" "$work/mender" "$@"
}

# name | client | options of romflash-swu and romflash-mender | runs, in order ("cut": the
# chip's power is cut after message 2000, mid-write; the run must fail leaving the journal,
# and the chip is power-cycled) | exit of the last run | text in the clients' output |
# checks: old/new (the chip holds old.bin / new.bin), wire=OPS (the opcodes sent, all runs)
rows='
swu install | swupdate | -j "01 20 14" | install | 0 | done: image 0x010800-0x022B44 in place | new
swu wrong chip | swupdate | -j EF4018 | install | 1 | expected EF 40 18; nothing was | old wire=9F
swu tampered | swupdate | | tampered | 1 | HASH mismatch | old wire=
swu power cut | swupdate | | cut install; install | 0 | journal: finished and verified | new
swu keep, roll back | swupdate | -R | install; rollback | 0 | rollback: done | old
mender commit | mender | -j 012014 | install; commit | 0 | kept copy | new
mender rollback | mender | | install; rollback | 0 | rollback: done | old
mender past the end | mender | -a 0xF0000 | install | 1 | ends past the part | old wire=9F
mender power cut | mender | | cut install; install; commit | 0 | kept copy | new
'
passed=0 failed=0
fail() {
  echo "FAIL $name: $*"
  sed 's/^/  | /' "$work/out"
  bad=1
}
while IFS='|' read -r name client options runs want text checks; do
  [ -n "$name" ] || continue
  bad=0
  "$T_FLASHSIM" create --state "$T_STATE" --profile small --image "$work/old.bin" >/dev/null
  rm -rf "$T_TRACE" "$work/journal" "$work/mender" "$work"/*.swu "$work"/art.*
  mkdir -p "$work/mender/etc" "$work/mender/data"
  echo artifact_name=before >"$work/mender/etc/artifact_info"
  echo device_type=sim >"$work/mender/data/device_type"
  set -- -f "$work/image.bin" -d /dev/spi0 -a 0x10800 -J "$work/journal" -s 16000
  eval "${client}_build \"\$@\" $options" >"$work/out" 2>&1 || fail "no artifact was built"
  IFS=';'
  # shellcheck disable=SC2086 # the runs, split at the semicolons
  set -- $runs
  unset IFS
  for step in "$@"; do
    set -- $step
    [ "$1" != cut ] || { T_CUT=2000 && shift; }
    "${client}_run" "$1" >"$work/out" 2>&1
    rc=$?
    [ -z "$T_CUT" ] || {
      [ "$rc" -ne 0 ] && [ -d "$work/journal/_dev_spi0.journal" ] || fail "the cut missed"
      T_CUT='' && "$T_FLASHSIM" power-cycle --state "$T_STATE" >/dev/null
    }
  done
  [ "$rc" -eq "$want" ] || fail "exit $rc, expected $want"
  grep -qF -- "$text" "$work/out" || fail "no \"$text\" in the output"
  for check in $checks; do
    case $check in
      old | new) "$T_FLASHSIM" compare --state "$T_STATE" "$work/$check.bin" >/dev/null ||
        fail "the chip does not hold $check.bin" ;;
      wire=*) wire=$(sed -n 's/^  seg [0-9]* tx \(..\).*/\1/p' "$T_TRACE" 2>/dev/null | sort -u |
        paste -sd, -)
        [ "$wire" = "${check#wire=}" ] || fail "on the wire: $wire" ;;
    esac
  done
  [ "$bad" -eq 1 ] && failed=$((failed + 1)) || passed=$((passed + 1))
done <<EOF
$(printf '%s\n' "$rows" | sed 's/ *| */|/g')
EOF
echo "fleet: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
