#!/bin/sh
# SPDX-License-Identifier: MIT
# The romflash that an update script finds on PATH in the tests: the real
# binary on the simulated chip, one flashsim run per call, all on one state
# directory. No simulator fault leaves a wrong byte behind a WRITE that passes
# its own checksum, so with T_CORRUPT set this wrapper overwrites two bytes
# there once WRITE is done.
# With T_CUT set it cuts the chip's power after message T_CUT of the whole
# update (counted since the chip was made), and nothing answers after that; it
# notes how many messages went before each run in chip.starts. It waits while T_HOLD exists.
# The environment: T_ROMFLASH T_FLASHSIM T_LIB T_EMU T_STATE T_TRACE T_RUN T_CORRUPT T_XY T_CUT T_HOLD.
sim() { $T_EMU "$T_FLASHSIM" "$@"; }
cut=''
[ -z "${T_HOLD:-}" ] || { : >"$T_HOLD.held" && while [ -e "$T_HOLD" ]; do sleep 1; done; }
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
