#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The licence tag on every tracked file that is code: one line
# "SPDX-License-Identifier: MIT" in the file's own comment syntax, first in
# the file or right after its #! line.
#   scripts/spdx.sh --check    lists files without the tag, and files of a kind
#                              this script does not know; exit 1 when any
#   scripts/spdx.sh --apply    adds the tag where it is missing
# A new kind of file gets a row in comment_of below: a comment syntax, or
# "none" for what is not code (documents, data without comments).
set -euo pipefail
cd "$(dirname "$0")/.."

readonly TAG="SPDX-License-Identifier: MIT"

comment_of() {  # comment_of PATH: the comment opener for PATH, "none", or nothing if unknown
  case $1 in
    */corpus/* | */corpora/* | corpus/* | corpora/*) echo none ;;  # fuzz seeds: raw inputs
    *.c | *.cc | *.cpp | *.h | *.hpp) echo '//' ;;
    *.map) echo '/*' ;;  # linker version scripts know only C comments
    *.svg) echo none ;;  # charts the benchmarks draw
    *.lua) echo '--' ;;
    *.sh | *.awk | *.cmake | CMakeLists.txt | */CMakeLists.txt | *.mk | *.bb | *.bbappend | Config.in | */Config.in)
      echo '#' ;;
    tests/*.txt | */tests/*.txt) echo '#' ;;  # test tables, read with # comments skipped
    completion/*) echo '#' ;;                  # bash completions, sourced
    *.dict) echo '#' ;;                        # libFuzzer dictionaries
    parts/*.txt) echo '#' ;;                   # the parts catalogue, read with # comments skipped
    *.md | *.json | *.[1-9] | LICENSE | .gitignore | .clang-format | */external.desc) echo none ;;
    *) if head -c 2 "$1" 2>/dev/null | grep -q '^#!'; then echo '#'; fi ;;
  esac
}

line_for() {  # the tag as a comment with this opener
  case $1 in
    '/*') echo "/* $TAG */" ;;
    *) echo "$1 $TAG" ;;
  esac
}

has_tag() {  # has_tag PATH LINE: LINE is the first line, or the second after #!
  local first second
  first=$(sed -n 1p "$1") second=$(sed -n 2p "$1")
  [ "$first" = "$2" ] || { [[ $first == '#!'* ]] && [ "$second" = "$2" ]; }
}

add_tag() {  # add_tag PATH LINE
  if [[ $(sed -n 1p "$1") == '#!'* ]]; then
    sed -i "1a $2" "$1"
  else
    sed -i "1i $2" "$1"
  fi
}

mode=${1:-}
case $mode in
  --check | --apply) ;;
  *) echo "usage: scripts/spdx.sh --check|--apply" >&2; exit 2 ;;
esac
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "spdx: not a git checkout" >&2; exit 2; }

missing=0 unknown=0 tagged=0
while IFS= read -r -d '' path; do
  [ -f "$path" ] || continue  # deleted in the work tree, or a submodule
  opener=$(comment_of "$path")
  case $opener in
    '') echo "spdx: no rule for $path (add one to scripts/spdx.sh)"; unknown=$((unknown + 1)); continue ;;
    none) continue ;;
  esac
  line=$(line_for "$opener")
  if has_tag "$path" "$line"; then
    tagged=$((tagged + 1))
  elif [ "$mode" = --apply ]; then
    add_tag "$path" "$line"
    echo "spdx: tagged $path"
    tagged=$((tagged + 1))
  else
    echo "spdx: no '$line' at the top of $path"
    missing=$((missing + 1))
  fi
done < <(git ls-files -z)

echo "spdx: $tagged files tagged, $missing without the tag, $unknown of no known kind"
[ $((missing + unknown)) -eq 0 ]
