#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every relative link of the given Markdown files must resolve: the file or
# folder exists, and a #fragment names a heading of the target (as GitHub
# makes anchors of headings). Links to other sites are left alone: the test
# command runs offline. Fenced code blocks are not read.
#   scripts/check-links.sh FILE.md...     one line per broken link; exit 1 when any
set -euo pipefail

prose() { awk '/^ *```/ { code = !code; next } !code' "$1"; }

anchors() {  # the anchors of a Markdown file's headings, one per line
  prose "$1" | sed -n 's/^#\{1,6\} \+//p' | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}

broken=0 links=0
for page in "$@"; do
  dir=$(dirname "$page")
  while IFS= read -r target; do
    case $target in
      http://* | https://* | mailto:*) continue ;;
    esac
    links=$((links + 1))
    path=${target%%#*} fragment=
    [[ $target == *'#'* ]] && fragment=${target#*#}
    file=$page
    [ -n "$path" ] && file=$dir/$path
    if [ ! -e "$file" ]; then
      echo "$page: $target: no such file"
      broken=$((broken + 1))
    elif [ -n "$fragment" ] && ! anchors "$file" | grep -qxF -- "$fragment"; then
      echo "$page: $target: no heading with that anchor in $file"
      broken=$((broken + 1))
    fi
  done < <(prose "$page" | grep -oE '\]\([^) ]+' | sed 's/^](//'; prose "$page" |
    sed -n 's/^\[[^]]*\]: *\([^ ]*\).*/\1/p')
done
echo "links: $links relative links in $# files, $broken broken"
[ "$broken" -eq 0 ]
