#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Device time of romflash-update on the simulated chip at 16 MHz (the w25q128
# profile, which flashrom identifies too), set against the romflash runs it
# cannot do without, each measured alone on the same chip, and against
# flashrom (Debian) writing the same contents. Printed, never asserted.
#
#   bench/run.sh --update [--no-chart]    (builds, then hands over ROMFLASH and FLASHSIM)
#
# U0  a 4 MiB image at 0 over itself           goal <= 1.05 x FREAD 4 MiB
# U1  over its previous version, one 64 KiB    goal <= 1.15 x (FREAD 4 MiB + WRITE 64 KiB
#     block changed                                         + FREAD 64 KiB)
# U2  over unrelated data                      goal <= 1.10 x (WRITE 4 MiB + FREAD 4 MiB)
# U1 on S25FL512S (256 KiB erase blocks): a 1 MiB image, its first block changed
#                                              goal <= 1.10 x (FREAD 1 MiB + one erase
#                                                 + PP 256 KiB + FREAD 256 KiB)
#
# Then device time against image size for romflash WRITE, romflash-update
# (unchanged, one block changed, all changed), flashrom (all changed) and the
# physical bounds, into docs/update-bench.svg (gnuplot) unless --no-chart.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh flashrom
romflash=${ROMFLASH:?} flashsim=${FLASHSIM:?}
khz=16000
chip_size=$((16 << 20))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c "$chip_size" /dev/urandom >"$work/old.img"    # what the chip holds at first
head -c "$chip_size" /dev/urandom >"$work/other.img"  # unrelated data
head -c "$chip_size" /dev/zero | tr '\0' '\377' >"$work/ff.img"  # erased
# romflash for the update script: the real one on the bench's chip.
mkdir "$work/bin"
printf '#!/bin/sh\nexec "%s" run --state "%s" -- "%s" "$@"\n' "$flashsim" "$work/chip" "$romflash" \
  >"$work/bin/romflash"
chmod +x "$work/bin/romflash"

# device CONTENTS -- COMMAND...: a fresh chip holding CONTENTS, the command run on it
# (its romflash runs attach to the chip themselves), and the device time in seconds the
# chip's clock moved since it was made.
device() {
  local contents=$1
  shift 2
  rm -rf "$work/chip"
  "$flashsim" create --state "$work/chip" --profile "${profile:-w25q128}" --image "$contents"
  "$@" >"$work/out" 2>&1 || { echo "failed: $*" >&2; cat "$work/out" >&2; return 1; }
  "$flashsim" summary --state "$work/chip" --format=keys |
    awk '$1 == "total.device_ns" { printf "%.9f\n", $2 / 1e9 }'
}
rf() { "$flashsim" run --state "$work/chip" -- "$romflash" -d /dev/spi0 -s "$khz" "$@"; }
# The built copy beside ROMFLASH's build: it reads the build's flat parts table.
update() {
  PATH="$work/bin:$PATH" "${romflash%/*}/../update/romflash-update" -d /dev/spi0 -s "$khz" \
    -J "$work/journal" "$@"
}
# flashrom writing FILE's first SIZE bytes over the chip: a layout region, the rest kept.
flashrom_write() {
  printf '0x000000:0x%06x region\n' $(($2 - 1)) >"$work/layout.txt"
  "$flashsim" run --state "$work/chip" -- flashrom -p "linux_spi:dev=/dev/spi0,spispeed=$khz" \
    -l "$work/layout.txt" -i region -w "$1"
}
# over BASE SIZE CHANGED: BASE with its first SIZE bytes replaced by the image, whose
# first CHANGED 64 KiB blocks differ from BASE (all of them when CHANGED is "all");
# prints the image's name and leaves $work/full.img, the whole chip's new contents.
over() {
  local base=$1 size=$2 changed=$3
  head -c "$size" "$base" >"$work/image.img"
  if [ "$changed" = all ]; then
    head -c "$size" "$work/other.img" >"$work/image.img"
  elif [ "$changed" -gt 0 ]; then
    head -c $((changed << 16)) "$work/other.img" |
      dd of="$work/image.img" conv=notrunc status=none
  fi
  { cat "$work/image.img" && tail -c +$((size + 1)) "$base"; } >"$work/full.img"
  echo "$work/image.img"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# U1 on S25FL512S: the bound's parts each alone on the same part.
profile=s25fl512s kib256=$((256 << 10)) mib1=$((1 << 20))
fread1m=$(device "$work/old.img" -- rf -o FREAD 0 $mib1 -w "$work/read.img")
fread256k=$(device "$work/old.img" -- rf -o FREAD 0 $kib256 -w "$work/read.img")
erase_alone() { rf -o WREN && rf -o SE 0 && rf -o RDSR_WIP; }
erase256k=$(device "$work/old.img" -- erase_alone)
head -c $kib256 "$work/other.img" >"$work/block.img"
pp256k=$(device "$work/ff.img" -- rf -o PP 0 -f "$work/block.img")
image=$(over "$work/old.img" $mib1 0)
head -c $kib256 "$work/other.img" | dd of="$image" conv=notrunc status=none
time=$(device "$work/old.img" -- update -f "$image")
bound=$(awk -v a="$fread1m" -v b="$erase256k" -v c="$pp256k" -v d="$fread256k" 'BEGIN { print a + b + c + d }')
printf '%-46s %9.3f %9.3f %7s %6s %10s\n' "U1 S25FL512S 1 MiB, one 256 KiB block changed" "$time" \
  "$bound" "$(ratio "$time" "$bound")" 1.10 -
printf 'alone on S25FL512S: FREAD 1 MiB %.3f s, erase 256 KiB %.3f s, PP 256 KiB %.3f s, FREAD 256 KiB %.3f s\n' \
  "$fread1m" "$erase256k" "$pp256k" "$fread256k"
profile=w25q128
[ "${BENCH_ONLY:-}" != s25fl512s ] || exit 0  # this line alone, for its goal

mib4=$((4 << 20))
fread4m=$(device "$work/old.img" -- rf -o FREAD 0 $mib4 -w "$work/read.img")
fread64k=$(device "$work/old.img" -- rf -o FREAD 0 0x10000 -w "$work/read.img")
write64k=$(device "$work/old.img" -- rf -o WRITE 0 -f "$(over "$work/old.img" 65536 all)")
write4m=$(device "$work/old.img" -- rf -o WRITE 0 -f "$(over "$work/old.img" $mib4 all)")

echo "romflash-update on the w25q128 profile at 16 MHz, device time (flashrom: the same contents)"
printf '%-46s %9s %9s %7s %6s %10s\n' scenario device_s bound_s ratio goal flashrom_s
# scenario NAME CHANGED GOAL BOUND: the 4 MiB update and flashrom doing the same.
scenario() {
  local name=$1 changed=$2 goal=$3 bound=$4 image time peer
  image=$(over "$work/old.img" $mib4 "$changed")
  time=$(device "$work/old.img" -- update -f "$image")
  peer=$(device "$work/old.img" -- flashrom_write "$work/full.img" $mib4 || echo nan)
  printf '%-46s %9.3f %9.3f %7s %6s %10.3f\n' "$name" "$time" "$bound" "$(ratio "$time" "$bound")" \
    "$goal" "$peer"
}
scenario "U0 4 MiB, unchanged" 0 1.05 "$fread4m"
scenario "U1 4 MiB, one 64 KiB block changed" 1 1.15 \
  "$(awk -v a="$fread4m" -v b="$write64k" -v c="$fread64k" 'BEGIN { print a + b + c }')"
scenario "U2 4 MiB over unrelated data" all 1.10 \
  "$(awk -v a="$write4m" -v b="$fread4m" 'BEGIN { print a + b }')"
printf 'alone: FREAD 4 MiB %.3f s, WRITE 64 KiB %.3f s, FREAD 64 KiB %.3f s, WRITE 4 MiB %.3f s\n' \
  "$fread4m" "$write64k" "$fread64k" "$write4m"

[ "${1:-}" != --no-chart ] || exit 0
scripts/install-packages.sh gnuplot-nox
# The physical bounds of SIZE bytes at the clock, from the chip's timings: writing them
# (per 64 KiB block WREN, erase frame and one status read plus the erase; per page WREN,
# the page with its frame and one status read plus the program; the read-back) and
# reading them, one READ frame per 4 KiB message.
bounds() {
  awk -F= -v size="$1" -v hz=$((khz * 1000)) '
    function bus(bytes) { return 8 * bytes / hz }
    { t[$1] = $2 / 1e9 }
    END {
      erase = size / 65536 * (bus(7) + t["erase64k_ns"])
      program = size / 256 * (bus(263) + t["page_program_ns"])
      read = bus(size + 4 * size / 4096)
      printf "%.3f %.3f\n", erase + program + read, read
    }' "$work/chip/profile.txt"
}
echo "size_kib write_s unchanged_s one_block_s all_s flashrom_s bound_write_s bound_read_s" |
  tee "$work/chart.dat"
for kib in 64 256 1024 4096 16384; do
  size=$((kib << 10))
  write=$(device "$work/old.img" -- rf -o WRITE 0 -f "$(over "$work/old.img" $size all)")
  all=$(device "$work/old.img" -- update -f "$work/image.img")
  peer=$(device "$work/old.img" -- flashrom_write "$work/full.img" $size)
  unchanged=$(device "$work/old.img" -- update -f "$(over "$work/old.img" $size 0)")
  one=$(device "$work/old.img" -- update -f "$(over "$work/old.img" $size 1)")
  echo "$kib $write $unchanged $one $all $peer $(bounds $size)" |
    awk '{ for (i = 2; i <= NF; i++) $i = sprintf("%.3f", $i) } 1' | tee -a "$work/chart.dat"
done
gnuplot <<EOF
set terminal svg size 800,500 dynamic noenhanced font "sans,12" background rgb "white"
set output "docs/update-bench.svg"
set title "Device time at 16 MHz on the simulated W25Q128 (bench/update.sh), image at 0x000000"
set xlabel "image size (KiB)"
set ylabel "device time (s)"
set logscale xy
set xrange [48:22000]
set xtics (64, 256, 1024, 4096, 16384)
set key bottom right
set grid
titles = "'romflash WRITE' 'romflash-update, unchanged' 'romflash-update, one 64 KiB block changed' \
  'romflash-update, all changed' 'flashrom -w, all changed' 'bound: erase, program, read back' \
  'bound: read once'"
plot for [c=2:8] "$work/chart.dat" using 1:c with linespoints title word(titles, c - 1)
EOF
echo "chart: docs/update-bench.svg"
