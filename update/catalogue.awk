# SPDX-License-Identifier: MIT
# romflash-update's catalogue lookup: the parts of the flat parts table
# (catalogue.flat, parts/README.md) whose JEDEC ID the chip answers, and whose
# RDID answer after it matches what the chip answered, as the planner's
# candidate lines, tab-separated:
#   NAME  SIZE  ERASE  PROGRAM  LOCK  BANKS
# SIZE in bytes; ERASE the block 0xD8 erases in bytes, a map from address 0
# upward ("8192 8192 32768 65536 ...") or "absent"; the rest as the table has them.
# A part whose size or 0xD8 block the table does not give in bytes is no
# candidate: its geometry has to come from -g.
#   awk -v id="01 20 14" -v extended="4D 00 80 ..." -f catalogue.awk catalogue.flat
# The chip's answer after the ID matches a part that documents none (any answer);
# by its length byte alone one whose bytes after it are not known (unknown), or
# are derived from the part's other facts rather than read (cfi); and otherwise
# one whose answer it starts with.
function answers(ext, rdid,  chip) {
  chip = extended
  gsub(/ /, "", chip)
  if (ext == "none") return 1
  if (ext == "unknown" || ext == "cfi") return substr(chip, 1, 2) == toupper(substr(rdid, 1, 2))
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
  if (fact["size"] !~ /^[0-9]+$/ || fact["eraseD8"] !~ /^([0-9]+(,[0-9]+)*|absent)$/) next
  erase = fact["eraseD8"]
  gsub(/,/, " ", erase)
  printf "%s\t%s\t%s\t%s\t%s\t%s\n", fact["part"] (fact["kind"] == "model" ? " (simulator model)" : ""),
    fact["size"], erase, fact["program"], fact["lock"], fact["banks"]
}
BEGIN { want = id; gsub(/ /, "", want); want = toupper(want) }
