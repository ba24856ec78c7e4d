#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages named on the command line that are not installed
# yet; does nothing (not even an apt-get update) when all are there. With
# ROMFLASH_PACKAGES_LOG set, apt-get's output is appended to that file.
set -euo pipefail

missing=()
for pkg in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

log_note=${ROMFLASH_PACKAGES_LOG:+ (the output of apt-get in $ROMFLASH_PACKAGES_LOG)}
echo "== installing ${missing[*]}$log_note"
# A caller whose own log must say what failed, not how a package was fetched,
# names a file for apt-get's output.
[ -z "${ROMFLASH_PACKAGES_LOG:-}" ] || exec >>"$ROMFLASH_PACKAGES_LOG" 2>&1
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
