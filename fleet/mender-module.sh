#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash: Mender update module (protocol v3), installed as
# /usr/share/mender/modules/v3/romflash. It installs the artifact's one file
# into the SPI NOR flash with romflash-update, keeping the blocks it replaces
# (-k) until Mender commits (-C) or rolls back (-R); the artifact's meta-data
# gives the device, address, JEDEC ID, journal directory and clock. No reboot
# is needed. POSIX sh; romflash-update is looked up on PATH.
#   romflash STATE FILES
set -u
state=${1:-} files=${2:-}

# A string of the flat JSON object that romflash-mender writes.
meta() {
  sed -n "s/.*\"$1\" *: *\"\\([^\"]*\\)\".*/\\1/p" "$files/header/meta-data" 2>/dev/null
}

# romflash-update with the artifact's settings and the options given (the
# address only goes with the image: a rollback or commit takes none).
update() {
  device=$(meta device)
  [ -n "$device" ] || {
    echo "romflash: the artifact's meta-data names no device; nothing was written" >&2
    return 2
  }
  for pair in "-j:jedec" "-J:journal" "-s:khz"; do
    value=$(meta "${pair#*:}")
    [ -z "$value" ] || set -- "$@" "${pair%%:*}" "$value"
  done
  romflash-update -d "$device" "$@"
}

case $state in
  SupportsRollback) echo Yes ;;
  NeedsArtifactReboot) echo No ;;
  ArtifactInstall)
    set -- "$files"/files/*
    if [ $# -ne 1 ] || [ ! -f "$1" ]; then
      echo "romflash: the artifact carries $# files, not one image; nothing was written" >&2
      exit 1
    fi
    address=$(meta address)
    update -k -f "$1" ${address:+-a "$address"}
    ;;
  ArtifactCommit) update -C ;;
  # An install refused before anything was erased kept nothing: nothing to undo.
  ArtifactRollback)
    update -R
    status=$?
    [ "$status" -ne 12 ] || status=0
    exit "$status"
    ;;
  # Download (the file is stored for us), the reboot states it never asks for,
  # ArtifactFailure and Cleanup: nothing to do.
  *) ;;
esac
