#!/bin/sh
# SPDX-License-Identifier: MIT
# Every list of operation names kept outside the program against the operations table
# (scripts/operation-names.sh): each list must hold every operation and nothing else.
# Prints one line per difference, "NAME: not in FILE" or "NAME: in FILE, not an operation".
#   operation_names_test.sh SOURCE_ROOT
set -eu
root=$1
table=" $("$root/scripts/operation-names.sh" "$root" | xargs) " || exit 2
differences=0

# compare FILE NAMES [subset]: NAMES must hold every operation (but a subset) and no other word.
compare() {
  names=" $(echo "$2" | xargs) "
  if for name in $table $names; do
    case $table in *" $name "*) case $names in *" $name "*) continue ;; esac
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
# The man page: the capitalised words of the item heads (.TP) of its OPERATIONS section.
compare man/romflash.1 "$(awk '
  /^\.SH / { inside = ($2 == "OPERATIONS"); next }
  inside && head { gsub(/[",]/, " "); for (i = 2; i <= NF; i++) if ($i ~ /^[A-Z][A-Z0-9_]*$/) print $i }
  { head = inside && /^\.TP/ }' "$root/man/romflash.1")"
[ "$differences" -eq 0 ] && echo "operation names: $(echo "$table" | wc -w) operations in every list"
