#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The project as a distribution meets it:
#   - the release: the SPDX tag on every source file, one version everywhere,
#     Markdown links that resolve, the licence in the recipes;
#   - the source tarball (scripts/dist.sh), unpacked in an empty directory:
#     every build below comes from it, and so do the native preset's tests
#     (the test command's native stage runs them from the same tarball and
#     passes the outcome in ROMFLASH_TARBALL_TESTS; run alone, this script
#     builds and runs them itself);
#   - the board build the way Buildroot's cmake-package and Yocto's cmake class
#     make it: PowerPC toolchain, Release, the configure options the recipes in
#     contrib/ carry, distribution flags, no tests, install with DESTDIR; then
#     the installed tree (romflash alone by default, the simulator only as its
#     component) against the files the Yocto recipe packages;
#   - the manual pages through mandoc's and groff's checks, the completions;
#   - Debian packages from CPack: romflash for powerpc and amd64, flashsim for
#     amd64, romflash-fleet for all, inspected with dpkg-deb and lintian, and
#     run once.
# Prints one line per check and "packaging: N passed, M failed"; exits 1 when
# a check failed.
#   scripts/check-packaging.sh [WORK_DIR]     (default build-packaging, wiped)
# ROMFLASH_TARBALL names the tarball to check (default: a new one in WORK_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mkdir -p "${1:-build-packaging}" && cd "${1:-build-packaging}" && pwd)
rm -rf "${work:?}"/*
scripts/install-packages.sh cmake ninja-build g++ g++-powerpc-linux-gnu dpkg-dev file \
  mandoc groff-base lintian bash-completion
jobs=${ROMFLASH_BUILD_JOBS:-2}

passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...: one counted check, output kept on failure
  local what=$1 log
  shift
  log=$("$@" 2>&1) && { passed=$((passed + 1)); echo "ok    $what"; return 0; }
  failed=$((failed + 1))
  echo "FAIL  $what"
  [ -n "$log" ] && sed 's/^/      /' <<<"$log"
  return 0
}

# ---- the release, in the git tree -------------------------------------------
version=$(scripts/version.sh)
check "SPDX-License-Identifier: MIT on every tracked source file" scripts/spdx.sh --check
check "one version, $version, in every file that names it" scripts/version.sh --check
mapfile -t pages < <(git ls-files '*.md')
check "links of ${#pages[@]} Markdown files resolve" scripts/check-links.sh "${pages[@]}"

# ---- the source tarball, unpacked in an empty directory ---------------------
tarball=${ROMFLASH_TARBALL:-$(scripts/dist.sh "$work")}
mkdir "$work/source"
tar -xzf "$tarball" -C "$work/source"
src=$work/source/romflash-$version
# No git repository above the tree: git would find none (there is none in a
# tarball), and ../shared is not there either.
export GIT_CEILING_DIRECTORIES=$work/source
cd "$src"

tarball_tests() {  # the native preset's build and tests in the unpacked tarball
  if [ -n "${ROMFLASH_TARBALL_TESTS:-}" ]; then
    echo "the native stage ran them from $tarball: $ROMFLASH_TARBALL_TESTS"
    [ "$ROMFLASH_TARBALL_TESTS" = passed ]
    return
  fi
  scripts/install-packages.sh googletest qemu-user flashrom busybox &&
    cmake --preset native && cmake --build --preset native -j "$jobs" &&
    ctest --preset native -j "$jobs"
}
check "$(basename "$tarball"): native build, its tests pass" tarball_tests

# The recipes name the licence; Yocto checks the file against its md5.
recipe=$(ls contrib/yocto/romflash_*.bb)
recipe_licences() {
  local md5
  grep -qx 'ROMFLASH_LICENSE = MIT' contrib/buildroot/romflash/romflash.mk || return 1
  test -f "$(sed -n 's/^ROMFLASH_LICENSE_FILES = //p' contrib/buildroot/romflash/romflash.mk)" ||
    return 1
  grep -qx 'LICENSE = "MIT"' "$recipe" || return 1
  md5=$(sed -n 's/^LIC_FILES_CHKSUM = "file:\/\/LICENSE;md5=\([0-9a-f]*\)"$/\1/p' "$recipe")
  [ "$md5" = "$(md5sum <LICENSE | cut -d' ' -f1)" ] || { echo "md5 $md5 in $recipe"; return 1; }
}
check "recipes: MIT, LICENSE, Yocto's md5 of it" recipe_licences

# The recipes' options: Buildroot's ROMFLASH_CONF_OPTS, Yocto's EXTRA_OECMAKE.
br_opts=$(sed -n 's/^ROMFLASH_CONF_OPTS *+\?= *//p' contrib/buildroot/romflash/romflash.mk)
oe_opts=$(sed -n 's/^EXTRA_OECMAKE *+\?= *"\(.*\)"/\1/p' "$recipe")
export CFLAGS="-O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat -Werror=format-security"
export CXXFLAGS=$CFLAGS LDFLAGS="-Wl,-z,relro,-z,now"

# A distribution's build: configure with the recipes' options (which must all
# be known to the project), build without a single warning.
distro_build() {  # distro_build DIR [CMAKE ARGS...]
  local dir=$1
  shift
  # shellcheck disable=SC2086 # the recipes' options are words
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    "$@" $br_opts $oe_opts >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  ! grep -A3 'not used by the project' "$dir.configure.log" || return 1
  cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1 || { cat "$dir.build.log"; return 1; }
  ! grep -B2 -A6 'warning:' "$dir.build.log"
}

listing() {  # the files and links under a tree, relative, sorted
  (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
}

# Every installed file must fall under one of the recipe's FILES entries
# (Yocto stops on "installed but not shipped" otherwise).
yocto_ships_all() {
  local tree=$1 entries path entry claimed unclaimed=0
  entries=$(sed -n 's/^FILES:[^=]*= *"\(.*\)"/\1/p' "$recipe" |
    sed 's|${bindir}|usr/bin|g; s|${mandir}|usr/share/man|g; s|${docdir}|usr/share/doc|g
      s|${datadir}|usr/share|g')
  while read -r path; do
    claimed=0
    for entry in $entries; do
      # shellcheck disable=SC2053 # FILES entries are globs
      [[ $path == $entry || $path == $entry/* ]] && claimed=1
    done
    [ $claimed -eq 1 ] || { echo "not in any FILES of the recipe: $path"; unclaimed=1; }
  done < <(listing "$tree")
  return $unclaimed
}

ppc=$work/ppc host=$work/amd64
check "recipes carry -DBUILD_TESTING=OFF" grep -q -- '-DBUILD_TESTING=OFF' <<<"$br_opts $oe_opts"
# No emulator, as in Buildroot and Yocto: the build's own programs (the parts
# catalogue's check) are compiled for the build machine.
check "PowerPC distribution build, no emulator, no warnings" \
  distro_build "$ppc" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/powerpc-linux-gnu.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=
check "amd64 distribution build, no warnings" distro_build "$host"

# The board's tree: romflash alone, then the simulator component on its own.
board_files="usr/bin/romflash
usr/share/bash-completion/completions/romflash
usr/share/doc/romflash/LICENSE
usr/share/man/man1/romflash.1"
# The update wrapper, when the tree has it, belongs to the board too, with the
# parts catalogue, the catalogue lookup, the planner and the phases it reads.
if [ -e update/romflash-update.sh ]; then
  board_files+=$'\nusr/bin/romflash-update\nusr/share/man/man1/romflash-update.1'
  board_files+=$'\nusr/share/romflash/catalogue.txt\nusr/share/romflash/catalogue.awk'
  board_files+=$'\nusr/share/romflash/plan.awk\nusr/share/romflash/catalogue.flat'
  board_files+=$'\nusr/share/romflash/journal-checks.sh\nusr/share/romflash/device-lock.sh'
  board_files+=$'\nusr/share/romflash/kept-copy.sh'
  board_files+=$'\nusr/share/romflash/address-state.sh\nusr/share/romflash/protection.sh'
  board_files+=$'\nusr/share/romflash/block-erase.sh'
fi
sim_files="usr/bin/flashsim
usr/libexec/flashsim/flashsim
usr/libexec/flashsim/libflashsim.so
usr/share/bash-completion/completions/flashsim
usr/share/man/man1/flashsim.1"
fleet_files="usr/bin/romflash-mender
usr/bin/romflash-swu
usr/share/lua/5.3/romflash_handler.lua
usr/share/lua/5.3/swupdate_handlers.lua
usr/share/man/man1/romflash-mender.1
usr/share/man/man1/romflash-swu.1
usr/share/mender/modules/v3/romflash"
# (A failed build shows above; the checks below then fail rather than stop.)
DESTDIR=$work/root cmake --install "$ppc" >/dev/null 2>&1 || true
DESTDIR=$work/root-amd64 cmake --install "$host" >/dev/null 2>&1 || true
DESTDIR=$work/simroot cmake --install "$ppc" --component simulator >/dev/null 2>&1 || true
DESTDIR=$work/fleetroot cmake --install "$host" --component fleet >/dev/null 2>&1 || true
for root in root root-amd64; do
  check "board install ($root): romflash, its page, completion and licence, nothing else" \
    diff <(sort <<<"$board_files") <(listing "$work/$root")
done
check "simulator component: flashsim, its library, page and completion" \
  diff <(sort <<<"$sim_files") <(listing "$work/simroot")
check "fleet component: SWUpdate handler, Mender module, build scripts and their page" \
  diff <(sort <<<"$fleet_files") <(listing "$work/fleetroot")
check "flashsim on PATH reaches the installed executable" test -x "$work/simroot/usr/bin/flashsim"
for elf_check in ppc32be needed; do
  check "installed romflash: $elf_check" cmake -DREADELF=powerpc-linux-gnu-readelf \
    -DBINARY="$work/root/usr/bin/romflash" -DCHECK=$elf_check -P cmake/check_elf.cmake
done
check "the Yocto recipe ships every installed file" yocto_ships_all "$work/root"
if [ -e update/romflash-update.sh ]; then
  check "installed romflash-update reads the installed catalogue and planner" \
    grep -q "^INSTALLED_DATA='/usr/share/romflash'" "$work/root/usr/bin/romflash-update"
fi

# mandoc: nothing at level WARNING or above (-W warning); its STYLE notes are
# advice on source layout, not faults of the page. groff: no warning at all.
for page in man/*.1; do
  check "$page: mandoc -Tlint" bash -c "mandoc -Tlint -W warning '$page' 2>&1 | grep . && exit 1; true"
  check "$page: groff -ww" bash -c "groff -man -ww -z '$page' 2>&1 | grep . && exit 1; true"
done
check "bash completions" env PATH="$host/sim:$PATH" tests/packaging/completion_test.sh completion

# Debian packages.
(cd "$ppc" && cpack -G DEB >cpack.log 2>&1) || cat "$ppc/cpack.log"
(cd "$host" && cpack -G DEB >cpack.log 2>&1) || cat "$host/cpack.log"
deb_is() {  # deb_is FILE ARCH DEPENDS-REGEX FILES: control fields and file list
  local deb=$1 arch depends deb_version
  arch=$(dpkg-deb -f "$deb" Architecture) depends=$(dpkg-deb -f "$deb" Depends)
  deb_version=$(dpkg-deb -f "$deb" Version)
  [ "$arch" = "$2" ] || { echo "Architecture: $arch"; return 1; }
  [ "$deb_version" = "$v" ] || { echo "Version: $deb_version"; return 1; }
  [[ $depends =~ ^$3$ ]] || { echo "Depends: $depends"; return 1; }
  diff <(sort <<<"$4") <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)
}
debian_files() {  # the installed files as Debian packages carry them: the licence in copyright
  sed 's|\(man/man1/.*\)|\1.gz|; /\/LICENSE$/d' <<<"$1"
  echo "usr/share/doc/$2/copyright"
}
v=$version-1
check "romflash_${v}_powerpc.deb" deb_is "$ppc/romflash_${v}_powerpc.deb" powerpc \
  'libc6 \(>= 2\.[0-9]+\)' "$(debian_files "$board_files" romflash)"
check "romflash_${v}_amd64.deb" deb_is "$host/romflash_${v}_amd64.deb" amd64 \
  'libc6 \(>= 2\.[0-9]+\)' "$(debian_files "$board_files" romflash)"
check "flashsim_${v}_amd64.deb" deb_is "$host/flashsim_${v}_amd64.deb" amd64 \
  'libc6 \(>= 2\.[0-9]+\)(, [a-z0-9+.-]+ \(>= [0-9.]+\))*' "$(debian_files "$sim_files" flashsim)"

check "romflash-fleet_${v}_all.deb" deb_is "$host/romflash-fleet_${v}_all.deb" all 'romflash' \
  "$(debian_files "$fleet_files" romflash-fleet)"

# The copyright files are DEP-5, and their licence is LICENSE, word for word.
terms() {  # the licence's terms: what follows its copyright line
  sed '1,/^Copyright (c)/d' LICENSE | sed '/./,$!d'
}
dep5_terms() {  # the text of the standalone License paragraph of a DEP-5 file
  # Continuation lines: " ." for an empty line, else one blank and the text;
  # anything else (a line of blanks too) ends the paragraph.
  awk '/^License: / { n++; next }
    n == 2 && /^ \.$/ { print ""; next }
    n == 2 && /^ [^ ]/ { print substr($0, 2); next }
    n == 2 { exit }' "$1"
}
dep5_of() {  # dep5_of DEB PACKAGE
  local copyright=$work/copyright-$2-$(dpkg-deb -f "$1" Architecture)
  dpkg-deb --fsys-tarfile "$1" | tar -xO "./usr/share/doc/$2/copyright" >"$copyright" &&
    head -n 1 "$copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
    grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' LICENSE)" "$copyright" &&
    diff <(terms) <(dep5_terms "$copyright")
}
for deb in "$ppc"/*.deb "$host"/*.deb; do
  check "$(basename "$deb"): DEP-5 copyright with the licence's terms" \
    dep5_of "$deb" "$(dpkg-deb -f "$deb" Package)"
done

# The amd64 packages, unpacked, drive the simulated chip.
unpacked=$work/unpacked
for deb in "$host"/*.deb; do dpkg-deb -x "$deb" "$unpacked" || true; done
check "packaged flashsim runs packaged romflash" bash -c "
  '$unpacked/usr/bin/flashsim' create --state '$work/chip' &&
  '$unpacked/usr/bin/flashsim' run --state '$work/chip' -- '$unpacked/usr/bin/romflash' -d /dev/spi0 -o RDID |
    grep -qx 'MANUF_ID: 0x01'"

check "packaged flashsim and romflash-update say $version" bash -c "
  [ \"\$('$unpacked/usr/bin/flashsim' --version)\" = 'flashsim (romflash) $version' ] &&
  [ \"\$('$unpacked/usr/bin/romflash-update' -V)\" = 'romflash-update (romflash) $version' ]"

# lintian: every error and warning fails, except these, each unreasonable for
# a package built from a source tree rather than by a Debian maintainer:
suppressed=(
  bogus-mail-host  # a local build has no maintainer address (ROMFLASH_DEB_MAINTAINER sets one)
  no-changelog     # no Debian changelog: the history is the repository's
)
check "lintian" lintian --fail-on error,warning --suppress-tags "$(IFS=,; echo "${suppressed[*]}")" \
  "$ppc"/*.deb "$host"/*.deb

echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
