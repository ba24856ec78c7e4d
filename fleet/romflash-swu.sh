#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-swu: builds a signed SWUpdate image (.swu) that installs a ROM image
# into the SPI NOR flash through romflash's SWUpdate handler: a cpio archive
# (newc) of sw-description, its CMS signature sw-description.sig, and the
# image, whose sha256 sw-description carries. POSIX sh; needs openssl, cpio
# and sha256sum on the build host.
set -u

usage() {
  cat <<EOF
Usage: romflash-swu -f IMAGE -d DEVICE -k KEY -c CERT -H REVISION -o OUTPUT
                    [-a ADDRESS] [-j JEDEC] [-J DIR] [-s KHZ] [-R] [-v VERSION]
Writes OUTPUT, a .swu that installs IMAGE with romflash-update on the board.
  -f IMAGE     the ROM image
  -d DEVICE    the board's spidev device, e.g. /dev/spi0
  -a ADDRESS   flash address of the image's first byte (romflash-update -a)
  -j JEDEC     expected JEDEC ID, e.g. "EF 40 18" (romflash-update -j)
  -J DIR       journal directory on the board (romflash-update -J)
  -s KHZ       SPI clock in kHz (romflash-update -s)
  -R           keep the blocks it replaces for romflash-update -R or -C
               (romflash-update -k)
  -k KEY       private key (PEM) that signs sw-description
  -c CERT      its certificate (PEM); the board's swupdate checks with -k CERT
  -H REVISION  hardware revision the image is for (swupdate -H BOARD:REVISION)
  -v VERSION   the software version in sw-description (default 1.0.0)
  -o OUTPUT    the .swu to write
Exit status: 0 written, 1 a tool failed, 2 usage.
EOF
}

fail() {
  printf 'romflash-swu: %s\n' "$*" >&2
  exit 1
}

usage_error() {
  printf 'romflash-swu: %s\n' "$*" >&2
  usage >&2
  exit 2
}

# A value goes into sw-description between double quotes.
plain() {
  case $2 in
    '' | *[\"\\]* | *'
'*) usage_error "-$1 '$2': empty, or a quote, backslash or line break" ;;
  esac
}

image='' device='' address='' jedec='' journal='' khz='' key='' cert='' revision=''
version=1.0.0 output='' keep=''
while getopts ':f:d:a:j:J:s:Rk:c:H:v:o:h' option; do
  case $option in
    f) image=$OPTARG ;;
    d) device=$OPTARG ;;
    a) address=$OPTARG ;;
    j) jedec=$OPTARG ;;
    J) journal=$OPTARG ;;
    s) khz=$OPTARG ;;
    R) keep=true ;;
    k) key=$OPTARG ;;
    c) cert=$OPTARG ;;
    H) revision=$OPTARG ;;
    v) version=$OPTARG ;;
    o) output=$OPTARG ;;
    h) usage; exit 0 ;;
    :) usage_error "-$OPTARG needs an argument" ;;
    *) usage_error "-$OPTARG: unknown option" ;;
  esac
  case $option in f | o | k | c | R) ;; *) plain "$option" "$OPTARG" ;; esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || usage_error "$1: unexpected argument"
for given in "f:$image" "d:$device" "k:$key" "c:$cert" "H:$revision" "o:$output"; do
  [ -n "${given#?:}" ] || usage_error "no -${given%%:*}"
done
{ [ -f "$image" ] && [ -s "$image" ]; } || usage_error "$image: not a file with bytes in it"
for file in "$key" "$cert"; do
  [ -r "$file" ] || usage_error "$file: not readable"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/romflash-swu.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
name=$(basename "$image")
case $name in sw-description* | romflash-swu.tail) name=image-$name ;; esac
cp "$image" "$work/$name" || fail "cannot copy $image"
sha=$(sha256sum "$image" | cut -d' ' -f1)
[ -n "$sha" ] || fail "sha256sum $image failed"

property() {  # property KEY VALUE: a line of the image's properties when VALUE is given
  [ -z "$2" ] || printf '        %s = "%s";\n' "$1" "$2"
}
{
  printf 'software =\n{\n  version = "%s";\n' "$version"
  printf '  hardware-compatibility: [ "%s" ];\n  images: (\n    {\n' "$revision"
  printf '      filename = "%s";\n      type = "romflash";\n' "$name"
  # Streamed to the handler (see the tail below), which copies it and checks
  # its sha256 before anything else.
  printf '      installed-directly = true;\n'
  printf '      device = "%s";\n      sha256 = "%s";\n      properties: {\n' "$device" "$sha"
  property address "$address"
  property jedec "$jedec"
  property journal "$journal"
  property khz "$khz"
  property keep "$keep"
  printf '      };\n    }\n  );\n}\n'
} >"$work/sw-description" || fail "cannot write sw-description"

openssl cms -sign -in "$work/sw-description" -out "$work/sw-description.sig" -signer "$cert" \
  -inkey "$key" -outform DER -nosmimecap -binary || fail "openssl cms could not sign with $key"
# SWUpdate reads sw-description first, then its signature. A megabyte of
# zeros that sw-description does not name closes the archive: swupdate -i
# (2022.12) can take the end of its stream for the end of the installation and
# exit while the handler still runs; that tail keeps the stream open until the
# handler returns (it is skipped, not installed).
head -c 1048576 /dev/zero >"$work/romflash-swu.tail" || fail "cannot write $work/romflash-swu.tail"
(cd "$work" && printf '%s\n' sw-description sw-description.sig "$name" romflash-swu.tail |
  cpio -o -H newc >archive.swu 2>cpio.log) || fail "cpio failed: $(cat "$work/cpio.log")"
cp "$work/archive.swu" "$output" || fail "cannot write $output"
echo "romflash-swu: $output: $name ($(wc -c <"$image" | tr -d ' ') bytes, sha256 $sha) for $device"
