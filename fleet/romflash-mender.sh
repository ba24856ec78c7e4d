#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-mender: builds a Mender artifact for romflash's update module: the
# ROM image as its one payload file, and the romflash-update settings (device,
# address, JEDEC ID, journal, clock) as its meta-data, written with
# mender-artifact write module-image. POSIX sh.
set -u

usage() {
  cat <<EOF
Usage: romflash-mender -f IMAGE -d DEVICE -n NAME -t TYPE -o OUTPUT
                       [-a ADDRESS] [-j JEDEC] [-J DIR] [-s KHZ] [-- MENDER-ARTIFACT OPTIONS]
Writes OUTPUT, a Mender artifact that installs IMAGE with romflash-update on
the board through the update module "romflash".
  -f IMAGE     the ROM image
  -d DEVICE    the board's spidev device, e.g. /dev/spi0
  -a ADDRESS   flash address of the image's first byte (romflash-update -a)
  -j JEDEC     expected JEDEC ID, e.g. "EF 40 18" (romflash-update -j)
  -J DIR       journal directory on the board (romflash-update -J)
  -s KHZ       SPI clock in kHz (romflash-update -s)
  -n NAME      the artifact's name
  -t TYPE      the device type it is compatible with
  -o OUTPUT    the artifact to write
Options after -- go to mender-artifact write module-image (e.g. -k KEY to sign).
Exit status: 0 written, 1 mender-artifact failed, 2 usage.
EOF
}

usage_error() {
  printf 'romflash-mender: %s\n' "$*" >&2
  usage >&2
  exit 2
}

image='' device='' address='' jedec='' journal='' khz='' name='' type='' output=''
while getopts ':f:d:a:j:J:s:n:t:o:h' option; do
  case $option in
    f) image=$OPTARG ;;
    d) device=$OPTARG ;;
    a) address=$OPTARG ;;
    j) jedec=$OPTARG ;;
    J) journal=$OPTARG ;;
    s) khz=$OPTARG ;;
    n) name=$OPTARG ;;
    t) type=$OPTARG ;;
    o) output=$OPTARG ;;
    h) usage; exit 0 ;;
    :) usage_error "-$OPTARG needs an argument" ;;
    *) usage_error "-$OPTARG: unknown option" ;;
  esac
  # The meta-data is JSON strings; the module reads them back with sed.
  case $OPTARG in
    *[\"\\]* | *'
'*) usage_error "-$option '$OPTARG': a quote, backslash or line break" ;;
  esac
done
shift $((OPTIND - 1))
for given in "f:$image" "d:$device" "n:$name" "t:$type" "o:$output"; do
  [ -n "${given#?:}" ] || usage_error "no -${given%%:*}"
done
{ [ -f "$image" ] && [ -s "$image" ]; } || usage_error "$image: not a file with bytes in it"
command -v mender-artifact >/dev/null || usage_error "mender-artifact not found (Debian package mender-artifact)"

work=$(mktemp -d "${TMPDIR:-/tmp}/romflash-mender.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
{
  printf '{"device": "%s"' "$device"
  for pair in "address:$address" "jedec:$jedec" "journal:$journal" "khz:$khz"; do
    [ -z "${pair#*:}" ] || printf ', "%s": "%s"' "${pair%%:*}" "${pair#*:}"
  done
  printf '}\n'
} >"$work/meta-data.json"

mender-artifact write module-image -T romflash -n "$name" -t "$type" -o "$output" -f "$image" \
  -m "$work/meta-data.json" "$@" || exit 1
echo "romflash-mender: $output: $(basename "$image") for $device, device type $type"
