#!/bin/sh
# SPDX-License-Identifier: MIT
# Every list of operation names kept outside the program against the operations table
# (scripts/operation-names.sh): each list must hold every operation and nothing else.
# Prints one line per difference, "NAME: not in FILE" or "NAME: in FILE, not an operation".
#   operation_names_test.sh SOURCE_ROOT
set -eu
root=$1
table=$("$root/scripts/operation-names.sh" "$root") || exit 2
differences=0

# compare FILE WHAT NAMES: NAMES (words) against the table; WHAT "all" or "subset".
compare() {
  set -- "$1" "$2" " $(echo "$3" | tr -s ' \t\n' '   ') " " $(echo "$table" | tr '\n' ' ') "
  for name in $4; do
    [ "$2" = subset ] || case $3 in *" $name "*) ;; *)
      echo "$name: not in $1"; differences=$((differences + 1)) ;; esac
  done
  for name in $3; do
    case $4 in *" $name "*) ;; *)
      echo "$name: in $1, not an operation"; differences=$((differences + 1)) ;; esac
  done
}

# The value of _romflash_operations='...', over as many lines as it takes.
completion=$(sed -n "/^_romflash_operations='/,/'/p" "$root/completion/romflash" |
  sed "s/^_romflash_operations='//; s/'.*//")
compare completion/romflash all "$completion"
compare "scripts/parts-table.sh (OPS)" all "$(sed -n 's/^OPS="\(.*\)".*/\1/p' "$root/scripts/parts-table.sh")"
compare "scripts/parts-table.sh (WRITE_OPS)" subset \
  "$(sed -n 's/^WRITE_OPS="\(.*\)".*/\1/p' "$root/scripts/parts-table.sh")"
compare tests/fuzz/romflash_cli.dict all \
  "$(sed -n 's/^"\\x0A\([A-Z][A-Z0-9_]*\)\\x0A"$/\1/p' "$root/tests/fuzz/romflash_cli.dict")"
# The man page: the capitalised words of the item heads (.TP) of its OPERATIONS section.
compare man/romflash.1 all "$(awk '
  /^\.SH / { inside = ($2 == "OPERATIONS"); next }
  inside && head { gsub(/[",]/, " "); for (i = 2; i <= NF; i++) if ($i ~ /^[A-Z][A-Z0-9_]*$/) print $i }
  { head = inside && /^\.TP/ }' "$root/man/romflash.1")"

[ "$differences" -eq 0 ] || { echo "differences from the operations table: $differences"; exit 1; }
echo "operation names: $(echo "$table" | wc -l) operations in every list"
