#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs romflash on Linux's own spidev and spi-imx drivers: boots Debian's armhf
# kernel on QEMU's sabrelite board (i.MX6Q, an SST25VF016B flash model on
# ECSPI1, backed by a file) once per "boot" of tests/kernel/scenarios.txt, and
# has tests/kernel/check.sh check each boot and hold it against flashsim.
#
#   scripts/kernel-stage.sh [HOST_BUILD_DIR]     (default build, the native preset)
#
# The kernel and busybox come from Debian's armhf packages, downloaded with
# apt-get and unpacked (never installed) into a cache that later runs reuse:
# ROMFLASH_KERNEL_CACHE, else ~/.cache/romflash-kernel-stage.
# Exit status 0 passed, 1 failed, 77 skipped (packages cannot be had).
set -euo pipefail
cd "$(dirname "$0")/.."

readonly PACKAGES=(qemu-system-arm g++-arm-linux-gnueabihf device-tree-compiler cpio
  cmake ninja-build g++)
readonly ECSPI1=/soc/bus@2000000/spba-bus@2000000/spi@2008000
cache=${ROMFLASH_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/romflash-kernel-stage}
host_build=${1:-build}
arm_build=build-kernel-arm
jobs=${ROMFLASH_BUILD_JOBS:-2}
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)

skip() { echo "kernel stage: SKIPPED: $*"; exit 77; }
# A built program by name, wherever the build tree's layout puts it.
program() { (cd "$1" && find "$PWD" -path '*/CMakeFiles' -prune -o -type f -name "$2" -perm -u+x -print | head -n 1); }

# Name and version of an armhf package as apt knows it now.
candidate() { apt-cache show --no-all-versions "$1:armhf" 2>/dev/null | sed -n 's/^Version: //p' | head -n 1; }
kernel_package() {
  apt-cache depends linux-image-armmp:armhf 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[^:]*\).*/\1/p' | head -n 1
}

# Unpacks the files the stage needs from PACKAGE (at the version apt offers) into
# $cache/KIND-PACKAGE_VERSION and prints that directory; downloads only when
# absent, and then drops what an older version of KIND left.
fetch() {
  local kind=$1 pkg=$2 version dir deb
  shift 2
  version=$(candidate "$pkg")
  [ -n "$version" ] || return 1
  dir=$cache/$kind-${pkg}_${version//:/%3a}
  if [ ! -e "$dir/.complete" ]; then
    rm -rf "$cache/$kind"-* "$cache/download" && mkdir -p "$dir" "$cache/download"
    (cd "$cache/download" && apt-get download -q "$pkg:armhf=$version" >&2) || return 1
    deb=$(ls "$cache"/download/*.deb)
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$dir" --wildcards "$@" || return 1
    rm -rf "$cache/download"
    touch "$dir/.complete"
  fi
  echo "$dir"
}

fetch_all() {
  if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    "${sudo[@]}" dpkg --add-architecture armhf
  fi
  [ -n "$(kernel_package)" ] && [ -n "$(candidate busybox-static)" ] ||
    "${sudo[@]}" apt-get update -q >&2 || return 1
  kernel=$(kernel_package)
  [ -n "$kernel" ] || return 1
  kernel_dir=$(fetch kernel "$kernel" './boot/vmlinuz-*' './usr/lib/*/imx6q-sabrelite.dtb' \
    '*/spi-imx.ko' '*/gpio-mxc.ko' '*/imx2_wdt.ko') &&
    busybox_dir=$(fetch busybox busybox-static ./bin/busybox)
}

scripts/install-packages.sh "${PACKAGES[@]}" || skip "could not install ${PACKAGES[*]}"
mkdir -p "$cache"
if ! fetch_all; then
  # A mirror that moved on since the last update: refresh once and retry.
  "${sudo[@]}" apt-get update -q >&2 && fetch_all || skip "no armhf kernel or busybox-static from apt"
fi
echo "kernel stage: $(basename "$kernel_dir"), $(basename "$busybox_dir")"

[ -f "$host_build/build.ninja" ] || cmake --preset native
cmake --build "$host_build" -j "$jobs" --target romflash flashsim flashsim_tool
cmake -S . -B "$arm_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
cmake --build "$arm_build" -j "$jobs" --target romflash

tmp=$(mktemp -d "${TMPDIR:-/tmp}/romflash-kernel.XXXXXX")
trap '[ -n "${ROMFLASH_KERNEL_KEEP:-}" ] || rm -rf "$tmp"' EXIT
# QEMU has no i.MX SDMA: without these two properties spi-imx transfers by PIO.
cp "$kernel_dir"/usr/lib/*/imx6q-sabrelite.dtb "$tmp/board.dtb"
fdtput -d "$tmp/board.dtb" "$ECSPI1" dmas
fdtput -d "$tmp/board.dtb" "$ECSPI1" dma-names

root=$tmp/initramfs
mkdir -p "$root/bin" "$root/modules" "$root/work"
cp "$busybox_dir/bin/busybox" "$(program "$arm_build" romflash)" "$root/bin/"
cp update/romflash-update.sh "$root/bin/romflash-update"
# Its planner, lookup and phases beside it, as tests/kernel/check.sh lays them out for flashsim.
cp update/*.awk update/*.sh "$host_build/update/catalogue.flat" "$root/bin/"
find "$kernel_dir/lib" -name '*.ko' -exec cp {} "$root/modules/" \;
cp scripts/kernel/init "$root/init"
tests/kernel/check.sh images "$root/work"

FLASHSIM=$(program "$host_build" flashsim) ROMFLASH=$(program "$host_build" romflash)
ROMFLASH_FLAT=$host_build/update/catalogue.flat
export FLASHSIM ROMFLASH ROMFLASH_FLAT
status=0
while read -r boot bufsiz image; do
  echo "== kernel stage: boot $boot, spidev.bufsiz=$bufsiz${image:+, flash holding $image}"
  tests/kernel/check.sh rows "$boot" > "$root/rows.sh"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$tmp/initramfs.cpio.gz"
  if [ -n "$image" ]; then cp "$root/work/$image" "$tmp/flash.bin"
  else head -c 2097152 /dev/zero | tr '\0' '\377' > "$tmp/flash.bin"; fi
  # The board's console is its second UART; the i.MX watchdog's reset ends QEMU.
  # Devices whose drivers are modules would hold the boot for 10 s of deferred
  # probing; the stage loads its two by hand.
  started=$SECONDS
  timeout 300 qemu-system-arm -M sabrelite -m 512M -no-reboot -display none -monitor none \
    -serial null -serial "file:$tmp/console.log" -kernel "$kernel_dir"/boot/vmlinuz-* \
    -dtb "$tmp/board.dtb" -initrd "$tmp/initramfs.cpio.gz" \
    -append "console=ttymxc1 rdinit=/init quiet deferred_probe_timeout=0 spidev.bufsiz=$bufsiz" \
    -drive "if=mtd,format=raw,file=$tmp/flash.bin" || echo "kernel stage: QEMU ended with status $?"
  echo "kernel stage: boot $boot ran $((SECONDS - started)) s"
  grep -q '^@@ done' <(tr -d '\r' < "$tmp/console.log") || { tail -n 20 "$tmp/console.log"; status=1; }
  rm -rf "$tmp/check" && mkdir -p "$tmp/check" && cp -r "$root/work" "$tmp/check/work"
  started=$SECONDS
  tests/kernel/check.sh verify "$boot" "$tmp/console.log" "$tmp/flash.bin" "$tmp/check" || status=1
  echo "kernel stage: boot $boot checked in $((SECONDS - started)) s"
done < <(tests/kernel/check.sh boots)
exit "$status"
