#!/bin/sh
# SPDX-License-Identifier: MIT
# Prints the name of every operation a user can select, one a line, in the order of the
# operations table (src/ops/operation_table.cpp), each as its command row spells it
# (src/flash/command_rows.h). The lists kept outside the program are checked against it.
#   scripts/operation-names.sh [SOURCE_ROOT]
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
rows=$root/src/flash/command_rows.h table=$root/src/ops/operation_table.cpp
if [ ! -r "$rows" ] || [ ! -r "$table" ]; then
  echo "operation-names: no $rows or $table" >&2
  exit 2
fi
# ROW(ID, "NAME", ...) gives each id its name; "{ID, ..." inside OPERATIONS[] is an operation.
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
