#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sources the bash completions of romflash and flashsim and checks COMPREPLY
# for a few command lines, once in a plain shell and once with the
# bash-completion package's functions loaded (when it is installed). An
# expected "ops:PREFIX" is every operation of the operations table that begins
# with PREFIX (scripts/operation-names.sh in the tree above COMPLETION_DIR).
#   completion_test.sh COMPLETION_DIR     (a flashsim on PATH, for its profiles)
set -euo pipefail

dir=$(cd "$1" && pwd)
operations=$("$dir/../scripts/operation-names.sh" "$dir/..")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/dev"
touch "$tmp/dev/spi0" "$tmp/dev/spidev1.0" "$tmp/dev/null" "$tmp/image.bin"

# expected COMPREPLY, sorted | command line up to the cursor
rows="-b -d -f -h -m -o -s -w|romflash -
ops:RDSR|romflash -d /dev/spi0 -o RDSR
$tmp/dev/spi0 $tmp/dev/spidev1.0|romflash -d $tmp/dev/
$tmp/image.bin|romflash -o WRITE 0 -f $tmp/im
$tmp/image.bin|romflash -w $tmp/im
compare create|flashsim c
sst25vf016b sst25vf016b-kernel sst25vf032b sst25vf040b sst25vf040b-kernel sst25vf064c sst25vf080b|flashsim create --profile sst25vf0
--length --offset --state|flashsim dump --
--state --status|flashsim set --st
00 ff|flashsim run --absent 
RD_MAX_SPEED_HZ RD_MODE RD_MODE32|flashsim run --fail-setup RD_M
ops:WR|flashsim run --state chip -- romflash -d /dev/spi0 -o WR"

run_rows() {
    local failed=0 expected line got
    _romflash_devdir=$tmp/dev _flashsim_devdir=$tmp/dev
    while IFS='|' read -r expected line; do
        read -r -a COMP_WORDS <<<"$line"
        [[ $line == *' ' ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
        COMPREPLY=()
        "_${COMP_WORDS[0]}" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
        [[ $expected != ops:* ]] ||
            expected=$(grep "^${expected#ops:}" <<<"$operations" | sort | xargs)
        if [ "$got" != "$expected" ]; then
            echo "FAIL ($1): '$line' gave '$got', expected '$expected'"
            failed=1
        fi
    done <<<"$rows"
    return $failed
}

load() { . "$dir/romflash" && . "$dir/flashsim"; }
load
status=0
run_rows plain || status=1
if [ -r /usr/share/bash-completion/bash_completion ]; then
    (. /usr/share/bash-completion/bash_completion && load && run_rows bash-completion) || status=1
fi
[ $status -eq 0 ] && echo "completion: all rows pass"
exit $status
