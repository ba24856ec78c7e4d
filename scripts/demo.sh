#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job, end to end on the simulated chip: build romflash and the
# simulator, program a 4 MiB ROM image with WRITE at 16 MHz, read it back with
# FREAD and compare, then show what the device saw.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh cmake ninja-build g++

# The demo preset's folder, or BUILD_DIR (relative or absolute) configured by that preset.
build=$(realpath -m "${BUILD_DIR:-build-demo}")
echo "== building in $build"
cmake --preset demo -B "$build" >/dev/null
cmake --build "$build" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
romflash=$build/src/romflash
flashsim=$build/sim/flashsim
head -c $((4 * 1024 * 1024)) /dev/urandom > "$work/flash.img"

echo "== a fresh 16 MiB chip holding old firmware (every byte 0x00)"
"$flashsim" create --state "$work/chip" --profile default --fill 0x00
"$flashsim" run --state "$work/chip" -- "$romflash" -d /dev/spi0 -o RDID

# WRITE redraws its erase progress with carriage returns: on a terminal one
# line that counts up, in a log one line of 3.5 KB. The demo shows the line as
# it ends, as a terminal leaves it.
last_redraw() { sed -u 's/.*\r//'; }

echo
echo "== romflash -d /dev/spi0 -s 16000 -o WRITE 0x000000 -f flash.img"
"$flashsim" run --state "$work/chip" --summary -- \
  "$romflash" -d /dev/spi0 -s 16000 -o WRITE 0x000000 -f "$work/flash.img" 2>&1 | last_redraw

echo
echo "== romflash -d /dev/spi0 -s 16000 -o FREAD 0x000000 0x400000 -w read.img"
# flashsim's summary goes to standard error; both runs show it on standard output.
"$flashsim" run --state "$work/chip" --summary -- \
  "$romflash" -d /dev/spi0 -s 16000 -o FREAD 0x000000 0x400000 -w "$work/read.img" 2>&1

if cmp -s "$work/flash.img" "$work/read.img"; then
  echo "== read-back identical to the image: $(sha256sum < "$work/flash.img" | cut -c1-16)..."
else
  echo "== read-back DIFFERS from the image" >&2
  exit 1
fi
