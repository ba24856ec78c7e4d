#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The release's one version number is project(romflash VERSION ...) in
# CMakeLists.txt. The files that cannot read it carry it as text; this script
# lists them, checks them against it, or moves them all to a new number.
#   scripts/version.sh               prints the version
#   scripts/version.sh --check       one line per file that disagrees; exit 1 when any
#   scripts/version.sh --set X.Y.Z   writes X.Y.Z everywhere (the changelog's newest
#                                    release heading included)
# The built files (the .deb, flashsim --version) take it from CMake; the
# packaging stage checks those.
set -euo pipefail
cd "$(dirname "$0")/.."

project_version() {
  sed -n 's/^project(romflash VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt
}

yocto_recipe() { ls contrib/yocto/romflash_*.bb; }

# Each place: a name, and the version found there, one per line ("-" when absent).
found_versions() {
  local page
  for page in man/*.1; do
    echo "$page $(sed -n '1s/^\.TH [^ ]* [^ ]* [^ ]* "romflash \([^"]*\)".*/\1/p' "$page" | grep . || echo -)"
  done
  echo "update/romflash-update.sh $(sed -n 's/^VERSION=\([^ ]*\).*/\1/p' update/romflash-update.sh | grep . || echo -)"
  echo "contrib/buildroot/romflash/romflash.mk $(sed -n 's/^ROMFLASH_VERSION = //p' contrib/buildroot/romflash/romflash.mk | grep . || echo -)"
  echo "contrib/yocto (recipe file name) $(yocto_recipe | sed -n 's|.*/romflash_\(.*\)\.bb$|\1|p' | grep . || echo -)"
  echo "CHANGELOG.md (newest release) $(sed -n 's/^## \[\([0-9][^]]*\)\].*/\1/p' CHANGELOG.md | head -n 1 | grep . || echo -)"
}

version=$(project_version)
[ -n "$version" ] || { echo "version: no project(romflash VERSION ...) in CMakeLists.txt" >&2; exit 2; }

case ${1:-} in
  '') echo "$version" ;;
  --check)
    wrong=0
    while read -r place; do
      found=${place##* } name=${place% *}
      [ "$found" = "$version" ] && continue
      echo "version: $name says $found, CMakeLists.txt $version"
      wrong=$((wrong + 1))
    done < <(found_versions 2>/dev/null)
    [ "$wrong" -eq 0 ] && echo "version: $version everywhere"
    [ "$wrong" -eq 0 ]
    ;;
  --set)
    new=${2:-}
    [[ $new =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "usage: scripts/version.sh --set X.Y.Z" >&2; exit 2; }
    old=$(sed 's/\./\\./g' <<<"$version")
    sed -i "s/^project(romflash VERSION $old/project(romflash VERSION $new/" CMakeLists.txt
    sed -i "1s/\"romflash [^\"]*\"/\"romflash $new\"/" man/*.1
    sed -i "s/^VERSION=[^ ]*/VERSION=$new/" update/romflash-update.sh
    sed -i "s/^ROMFLASH_VERSION = .*/ROMFLASH_VERSION = $new/" contrib/buildroot/romflash/romflash.mk
    recipe=$(yocto_recipe)
    [ "$recipe" = "contrib/yocto/romflash_$new.bb" ] || git mv "$recipe" "contrib/yocto/romflash_$new.bb"
    sed -i "0,/^## \[[0-9][^]]*\]/s//## [$new]/" CHANGELOG.md
    scripts/version.sh --check
    ;;
  *) echo "usage: scripts/version.sh [--check | --set X.Y.Z]" >&2; exit 2 ;;
esac
