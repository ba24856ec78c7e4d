#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Speed and memory figures of romflash on the simulated chip, printed, never
# asserted. "device" is the simulated chip's clock: what the run would take on
# silicon at that SPI clock with datasheet-typical program and erase times.
# "wall" and "peak RSS" are this machine's cost of running it.
#
#   bench/run.sh            romflash alone
#   bench/run.sh --flashrom also flashrom (Debian) writing the same image, for comparison
#   bench/run.sh --realtime [--runs N] [--peer-runs N] [--jobs LIST]
#                           wall-clock figures on the realtime chip (bench/realtime.sh)
#   bench/run.sh --update [--no-chart]
#                           romflash-update against its bounds and flashrom (bench/update.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

# The demo preset's folder, or BUILD_DIR (relative or absolute) configured by that preset.
build=$(realpath -m "${BUILD_DIR:-build-demo}")
scripts/install-packages.sh cmake ninja-build g++ time
cmake --preset demo -B "$build" >/dev/null
cmake --build "$build" >/dev/null
romflash=$build/src/romflash
flashsim=$build/sim/flashsim

if [ "${1:-}" = "--realtime" ]; then
  shift
  scripts/install-packages.sh gcc flashrom
  ROMFLASH=$romflash FLASHSIM=$flashsim exec bench/realtime.sh "$@"
fi
if [ "${1:-}" = "--update" ]; then
  shift
  ROMFLASH=$romflash FLASHSIM=$flashsim exec bench/update.sh "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((4 << 20)) /dev/urandom > "$work/4m.img"
head -c $((16 << 20)) /dev/urandom > "$work/16m.img"

printf '%-44s %10s %8s %8s %11s %9s\n' scenario device_s wall_s cpu_s peak_rss_kB messages
# bench NAME PROFILE FILL -- COMMAND...: a fresh chip, one run, one line of figures.
bench() {
  local name=$1 profile=$2 fill=$3
  shift 4
  rm -rf "$work/chip"
  "$flashsim" create --state "$work/chip" --profile "$profile" --fill "$fill"
  /usr/bin/time -f '%e %U %M' -o "$work/time" \
    "$flashsim" run --state "$work/chip" --summary --format=keys -- "$@" >/dev/null 2>"$work/err" || {
    echo "$name: failed" >&2; cat "$work/err" >&2; return 1; }
  local device messages wall cpu rss
  device=$(awk '$1 == "run.device_ns" { printf "%.3f", $2 / 1e9 }' "$work/err")
  messages=$(awk '$1 == "run.messages" { print $2 }' "$work/err")
  read -r wall cpu rss < "$work/time"
  printf '%-44s %10s %8.2f %8.2f %11s %9s\n' "$name" "$device" "$wall" "$cpu" "$rss" "$messages"
}

bench "romflash WRITE 4 MiB @16 MHz" default 0x00 -- \
  "$romflash" -d /dev/spi0 -s 16000 -o WRITE 0 -f "$work/4m.img"
bench "romflash WRITE 16 MiB @16 MHz" default 0x00 -- \
  "$romflash" -d /dev/spi0 -s 16000 -o WRITE 0 -f "$work/16m.img"
bench "romflash PP 4 MiB into erased flash @16 MHz" default 0xFF -- \
  "$romflash" -d /dev/spi0 -s 16000 -o PP 0 -f "$work/4m.img"
bench "romflash FREAD 16 MiB @16 MHz" default 0xFF -- \
  "$romflash" -d /dev/spi0 -s 16000 -o FREAD 0 0x1000000 -w "$work/read.img"
bench "romflash CHKSUM 16 MiB @16 MHz" default 0xFF -- \
  "$romflash" -d /dev/spi0 -s 16000 -o CHKSUM 0 0x1000000

if [ "${1:-}" = "--flashrom" ]; then
  scripts/install-packages.sh flashrom
  bench "romflash WRITE 16 MiB @16 MHz (W25Q128)" w25q128 0x00 -- \
    "$romflash" -d /dev/spi0 -s 16000 -o WRITE 0 -f "$work/16m.img"
  bench "flashrom -w 16 MiB @16 MHz (W25Q128)" w25q128 0x00 -- \
    flashrom -p linux_spi:dev=/dev/spi0,spispeed=16000 -w "$work/16m.img"
fi
