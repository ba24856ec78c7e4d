#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Wall-clock figures of romflash on the simulator's realtime chip (sleeps really
# sleep, the chip follows the wall clock), against the job's physical bound, the
# same build with the default timer slack, and flashrom (Debian) doing the same
# job. Printed, never asserted. Started by `bench/run.sh --realtime`, which
# builds and hands over ROMFLASH and FLASHSIM.
#
#   bench/run.sh --realtime [--runs N] [--peer-runs N] [--jobs NAME,...] [--boost]
#
# Jobs (all at 16 MHz): write4m-old (WRITE 4 MiB over a chip of 0x00),
# write4m-erased (WRITE 4 MiB into erased flash), write16m (WRITE 16 MiB over
# 0x00), fread16m (FREAD 16 MiB), pp4m (PP 4 MiB into erased flash). Each runs
# --runs times (default 3; median and spread), flashrom --peer-runs times
# (default --runs; 0 leaves it out). --boost runs everything in a session of its
# own whose scheduler group gets a higher weight (autogroup nice -15, needs
# root): on a shared machine the other sessions' load otherwise preempts the
# waits and the figures measure the machine, not the program.
#
# Physical bound: bus time of the bytes the job cannot do without, plus the
# chip's busy times, from the profile's timings (profile.txt of the chip):
#   - erase: WREN (1 byte), the 64 KiB erase frame (4), one status read that
#     sees the erase done (2), and the erase time, for every sector whose old
#     data must go; when none must (erased flash), reading the range once
#     instead, to know that, is cheaper and is what counts;
#   - program: WREN (1), PP with address and 256 data bytes (260), one status
#     read (2) and the page program time, for every page of the image (random
#     data: no page is blank);
#   - read, the read-back of a write included: one READ frame (4 bytes) per
#     bufsiz (4096) data bytes, the largest message the node takes, plus the data.
# Not counted: the simulator's per-message charge (FLASHSIM_OVERHEAD_NS), status
# polls beyond one per busy period, WEL checks, romflash's fixed 2 s pause
# before it reads a write back.
# Protocol floor: the bound plus that 2 s pause, which the protocol itself asks
# for; what a run spends beyond the floor is time the protocol does not ask for.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
peer_runs=
jobs=write4m-old,write4m-erased,pp4m,fread16m,write16m
boost=
arguments=("$@")
while [ $# -gt 0 ]; do
  case $1 in
    --boost) boost=1; shift ;;
    --runs) runs=$2; shift 2 ;;
    --peer-runs) peer_runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) echo "bench/realtime.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
peer_runs=${peer_runs:-$runs}
if [ -n "$boost" ] && [ -z "${BENCH_SESSION:-}" ]; then
  BENCH_SESSION=1 exec setsid --wait "$0" "${arguments[@]}"
fi
scheduling="scheduler group of the machine's other work"
if [ -n "$boost" ] && echo -15 2>/dev/null > /proc/self/autogroup; then
  scheduling="own session, autogroup nice -15"
fi

romflash=${ROMFLASH:?} flashsim=${FLASHSIM:?}
hz=16000000
bufsiz=4096
spi=(-d /dev/spi0 -s $((hz / 1000)))
flashrom_spi=(-p "linux_spi:dev=/dev/spi0,spispeed=$((hz / 1000))")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gcc -O2 -shared -fPIC -o "$work/keep_slack.so" bench/keep_slack.c -ldl
gcc -O2 -o "$work/back_to_back" bench/back_to_back.c
head -c $((16 << 20)) /dev/urandom > "$work/16m.img"
head -c $((4 << 20)) "$work/16m.img" > "$work/4m.img"
printf '0x000000:0x3fffff region\n0x400000:0xffffff rest\n' > "$work/layout.txt"

# Bus nanoseconds of BYTES at the clock, rounded up like the simulator does.
bus_ns() { echo $(((8 * $1 * 1000000000 + hz - 1) / hz)); }

# bound_ns KIND SIZE FILL, KIND write, pp or read; the profile read from $work/chip.
bound_ns() {
  local kind=$1 size=$2 fill=$3 total=0
  local -A timing
  while IFS== read -r key value; do timing[$key]=$value; done < "$work/chip/profile.txt"
  local chunks=$(((size + bufsiz - 1) / bufsiz)) pages=$((size / 256)) sectors=$(((size + 65535) / 65536))
  local read_ns
  read_ns=$(bus_ns $((size + 4 * chunks)))
  if [ "$kind" = write ]; then
    local erase_ns=$((sectors * ($(bus_ns 7) + timing[erase64k_ns])))
    if [ "$fill" = 0xFF ]; then total=$((total + (erase_ns < read_ns ? erase_ns : read_ns)))
    else total=$((total + erase_ns)); fi
  fi
  if [ "$kind" != read ]; then total=$((total + pages * ($(bus_ns 263) + timing[page_program_ns]))); fi
  echo $((total + read_ns))
}

# timed LABEL PROFILE FILL MODE PRELOAD -- COMMAND...: a fresh chip, one run of
# the command under /usr/bin/time inside `flashsim run` (so the figures are the
# command's own process, which holds the simulator too); appends
# "wall user+sys peak_kB" to $work/LABEL.
timed() {
  local label=$1 profile=$2 fill=$3 mode=$4 preload=$5
  shift 6
  rm -rf "$work/chip"
  "$flashsim" create --state "$work/chip" --profile "$profile" --fill "$fill"
  local realtime=()
  [ "$mode" = realtime ] && realtime=(--realtime)
  LD_PRELOAD=$preload "$flashsim" run --state "$work/chip" "${realtime[@]}" -- \
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    echo "$label: failed" >&2; cat "$work/err" >&2; return 1; }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time" | tee -a "$work/$label" |
    sed "s/^/  $label: /" >&2
}

# stats LABEL: "median spread" of the walls, "-" when the label never ran.
stats() {
  [ -s "$work/$1" ] || { echo "- -"; return; }
  sort -n "$work/$1" | awk '{ w[NR] = $1 } END {
    m = NR % 2 ? w[(NR + 1) / 2] : (w[NR / 2] + w[NR / 2 + 1]) / 2
    printf "%.2f %.2f\n", m, w[NR] - w[1] }'
}
# column LABEL N: the median of field N over the runs.
column() {
  sort -n -k"$2" "$work/$1" | awk -v f="$2" '{ v[NR] = $f } END { print v[int((NR + 1) / 2)] }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.3f\n", a / b }'; }

# job NAME KIND SIZE FILL -- ROMFLASH_ARGS... [--peer FLASHROM_ARGS...]
job() {
  local name=$1 kind=$2 size=$3 fill=$4
  shift 5
  local args=() peer=()
  while [ $# -gt 0 ] && [ "$1" != --peer ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && { shift; peer=("$@"); }
  case ",$jobs," in *",$name,"*) ;; *) return 0 ;; esac

  echo "== $name" >&2
  local i
  for ((i = 0; i < runs; ++i)); do
    timed "$name" default "$fill" realtime "" -- "$romflash" "${spi[@]}" "${args[@]}"
    timed "$name.slack" default "$fill" realtime "$work/keep_slack.so" -- "$romflash" "${spi[@]}" "${args[@]}"
  done
  if [ ${#peer[@]} -gt 0 ]; then
    for ((i = 0; i < peer_runs; ++i)); do
      timed "$name.flashrom" w25q128 "$fill" realtime "" -- flashrom "${flashrom_spi[@]}" "${peer[@]}" || true
    done
  fi
  timed "$name.virtual" default "$fill" virtual "" -- "$romflash" "${spi[@]}" "${args[@]}"

  local bound floor wall spread slack slack_spread peer_wall peer_spread cpu rss cpu_virtual
  bound=$(awk -v ns="$(bound_ns "$kind" "$size" "$fill")" 'BEGIN { printf "%.2f\n", ns / 1e9 }')
  local pause=0
  [ "$kind" != read ] && pause=2
  floor=$(awk -v b="$bound" -v p="$pause" 'BEGIN { printf "%.2f\n", b + p }')
  read -r wall spread < <(stats "$name")
  read -r slack slack_spread < <(stats "$name.slack")
  read -r peer_wall peer_spread < <(stats "$name.flashrom")
  cpu=$(column "$name" 2)
  rss=$(column "$name" 3)
  cpu_virtual=$(column "$name.virtual" 2)
  printf '%-15s %7s %7s %7s %6s %6s %6s %7s %6s %6s %7s %6s %6s %6s %5.1f%% %6s %5.1f%% %8s\n' \
    "$name" "$bound" "$floor" "$wall" "$spread" "$(ratio "$wall" "$bound")" "$(ratio "$wall" "$floor")" \
    "$slack" "$slack_spread" "$(ratio "$slack" "$wall")" \
    "$peer_wall" "$peer_spread" "$(ratio "$wall" "$peer_wall")" \
    "$cpu" "$(awk -v a="$cpu" -v b="$wall" 'BEGIN { print 100 * a / b }')" \
    "$cpu_virtual" "$(awk -v a="$cpu_virtual" -v b="$wall" 'BEGIN { print 100 * a / b }')" "$rss"
}

echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1), Linux $(uname -r)"
echo "start: $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg), $scheduling"

# The simulator alone: 4096 back-to-back READs of 256 bytes, wall against bus time.
rm -rf "$work/chip"
"$flashsim" create --state "$work/chip" --profile default
stand_in_wall=$("$flashsim" run --state "$work/chip" --realtime --summary --format=keys -- \
  "$work/back_to_back" /dev/spi0 "$hz" 4096 256 2>"$work/err")
stand_in_bus=$(awk '$1 == "run.bus_ns" { printf "%.9f", $2 / 1e9 }' "$work/err")
echo "simulator: 4096 messages of 4+256 bytes, wall $stand_in_wall s, bus $stand_in_bus s" \
  "(with ${FLASHSIM_OVERHEAD_NS:-10000} ns per message), ratio $(ratio "$stand_in_wall" "$stand_in_bus")"

printf '%-15s %7s %7s %7s %6s %6s %6s %7s %6s %6s %7s %6s %6s %6s %6s %6s %6s %8s\n' \
  job bound_s floor_s wall_s spread ×bound ×floor slack_s spread ×fast flashr_s spread ×flr \
  cpu_s cpu% cpu_v_s cpu_v% peak_kB
job write4m-old write $((4 << 20)) 0x00 -- -o WRITE 0 -f "$work/4m.img" \
  --peer -l "$work/layout.txt" -i region -w "$work/16m.img"
job write4m-erased write $((4 << 20)) 0xFF -- -o WRITE 0 -f "$work/4m.img" \
  --peer -l "$work/layout.txt" -i region -w "$work/16m.img"
job pp4m pp $((4 << 20)) 0xFF -- -o PP 0 -f "$work/4m.img"
job fread16m read $((16 << 20)) 0xFF -- -o FREAD 0 0x1000000 -w "$work/read.img" \
  --peer -r "$work/read.img"
job write16m write $((16 << 20)) 0x00 -- -o WRITE 0 -f "$work/16m.img" \
  --peer -w "$work/16m.img"
echo "end: $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
