# SPDX-License-Identifier: MIT
# romflash-update's catalogue lookup: the parts of the flat parts table
# (catalogue.flat, parts/README.md) whose JEDEC ID the chip answers, and whose
# RDID answer after it matches what the chip answered, as the planner's
# candidate lines, tab-separated:
#   NAME  SIZE  ERASE  PROGRAM  LOCK  BANKS  OPB9  OP35  WRR2
# SIZE in bytes; ERASE the block 0xD8 erases in bytes, a map from address 0
# upward ("8192 8192 32768 65536 ...") or "absent"; the rest as the table has them.
# A part whose size or 0xD8 block the table does not give in bytes (Linux sizes it
# from the part's own SFDP table) is no candidate: its geometry has to come from -g;
# its name goes to the file sfdp names, one a line. The rows imported from Linux's
# tables (kind=kernel) count only when no datasheet or model row answers, and of
# them, those that match on extended ID bytes beat those that give none.
#   awk -v id="01 20 14" -v extended="4D 00 80 ..." -v sfdp=FILE -f catalogue.awk catalogue.flat
# The chip's answer after the ID matches a part that documents none (any answer);
# by its length byte and the two bytes after it (sector architecture, family) one
# whose ID-CFI area is derived from the part's other facts (cfi); and otherwise one
# whose answer it starts with (a prefix: the bytes the part is told apart by).
function answers(ext, rdid,  chip) {
  chip = extended
  gsub(/ /, "", chip)
  if (ext == "none") return 1
  if (ext == "cfi") return substr(chip, 1, 6) == toupper(substr(rdid, 1, 6))
  return index(chip, toupper(rdid)) == 1
}
/^#/ || !NF { next }
{
  split("", fact)
  for (i = 1; i <= NF; i++) {
    at = index($i, "=")
    if (at) fact[substr($i, 1, at - 1)] = substr($i, at + 1)
  }
  if (toupper(fact["jedec"]) != want || !answers(fact["ext"], fact["rdid"])) next
  if (fact["size"] !~ /^[0-9]+$/ || fact["eraseD8"] !~ /^([0-9]+(,[0-9]+)*|absent)$/) {
    unsized[++unsized_count] = fact["part"]
    next
  }
  erase = fact["eraseD8"]
  gsub(/,/, " ", erase)
  imported = fact["kind"] == "kernel"
  rank[++count] = imported ? (fact["ext"] == "none" ? 1 : 2) : 3
  line[count] = sprintf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s",
    fact["part"] (fact["kind"] == "model" ? " (simulator model)" : ""), fact["size"], erase,
    fact["program"], fact["lock"], fact["banks"], fact["opB9"], fact["op35"], fact["wrr2"])
  if (rank[count] > best) best = rank[count]
}
BEGIN { want = id; gsub(/ /, "", want); want = toupper(want) }
END {
  for (c = 1; c <= count; c++) if (rank[c] == best) print line[c]
  if (!count && sfdp != "") for (u = 1; u <= unsized_count; u++) print unsized[u] > sfdp
}
