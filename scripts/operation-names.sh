#!/bin/sh
# SPDX-License-Identifier: MIT
# The names of the operations a user can select, in the order of the operations table
# (src/ops/operation_table.cpp), each as its command row spells it (src/flash/command_rows.h),
# and the lists of them kept outside the program, checked against the table.
#   scripts/operation-names.sh [SOURCE_ROOT]           prints the names, one a line
#   scripts/operation-names.sh --check [SOURCE_ROOT]   one line per difference, "NAME: not in
#                                                      FILE" or "NAME: in FILE, not an
#                                                      operation"; exit 1 when any
# The lists: the bash completion, parts-table.sh's OPS (and WRITE_OPS, a part of it), the
# fuzz dictionary and the item heads of the manual page's OPERATIONS section.
set -eu
check=
if [ "${1:-}" = --check ]; then check=1; shift; fi
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
rows=$root/src/flash/command_rows.h table=$root/src/ops/operation_table.cpp
if [ ! -r "$rows" ] || [ ! -r "$table" ]; then
  echo "operation-names: no $rows or $table" >&2
  exit 2
fi

# ROW(ID, "NAME", ...) gives each id its name; "{ID, ..." inside OPERATIONS[] is an operation.
names_of_table() {
  awk -v rows="$rows" '
    FILENAME == rows && /^ROW\(/ {
      id = $0; sub(/^ROW\( */, "", id); sub(/ *,.*/, "", id)
      name = $0; sub(/^[^"]*"/, "", name); sub(/".*/, "", name)
      named[id] = name
      next
    }
    FILENAME == rows { next }
    /OPERATIONS\[\] = \{/ { inside = 1; next }
    inside && /^};/ { inside = 0 }
    inside && /^ *\{[A-Z0-9_]+,/ {
      id = $0; sub(/^ *\{/, "", id); sub(/,.*/, "", id)
      if (!(id in named)) { print "operation-names: " id " has no ROW" > "/dev/stderr"; bad = 1; next }
      print named[id]; count++
    }
    END { if (bad || !count) exit 1 }
  ' "$rows" "$table"
}
[ -n "$check" ] || { names_of_table; exit; }

operations=" $(names_of_table | xargs) " || exit 2
differences=0
# compare FILE NAMES [subset]: NAMES must hold every operation (but a subset) and no other word.
compare() {
  names=" $(echo "$2" | xargs) "
  if for name in $operations $names; do
    case $operations in *" $name "*) case $names in *" $name "*) continue ;; esac
      [ -n "${3:-}" ] || echo "$name: not in $1" ;; *) echo "$name: in $1, not an operation" ;; esac
  done | sort -u | grep .; then differences=$((differences + 1)); fi
}
compare completion/romflash "$(sed -n "/^_romflash_operations='/,/'/p" "$root/completion/romflash" |
  sed "s/^_romflash_operations='//; s/'.*//")"
compare scripts/parts-table.sh "$(sed -n 's/^OPS="\(.*\)".*/\1/p' "$root/scripts/parts-table.sh")"
compare "scripts/parts-table.sh (WRITE_OPS)" \
  "$(sed -n 's/^WRITE_OPS="\(.*\)".*/\1/p' "$root/scripts/parts-table.sh")" subset
compare tests/fuzz/romflash_cli.dict \
  "$(sed -n 's/^"\\x0A\([A-Z][A-Z0-9_]*\)\\x0A"$/\1/p' "$root/tests/fuzz/romflash_cli.dict")"
compare man/romflash.1 "$(sed -n '/^\.SH OPERATIONS/,/^\.SH [^O]/{/^\.TP/{n;s/[",]/ /g;p;};}' \
  "$root/man/romflash.1" | tr ' ' '\n' | grep -x '[A-Z][A-Z0-9_]*')"
[ "$differences" -eq 0 ] && echo "operation names: $(echo "$operations" | wc -w) operations in every list"
