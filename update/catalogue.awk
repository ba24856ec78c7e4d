# SPDX-License-Identifier: MIT
# romflash-update's catalogue lookup: the rows of the parts catalogue whose
# JEDEC ID the chip answers (and, where a row documents them, the bytes RDID
# answers after it), as the planner's candidate lines, tab-separated:
#   NAME  SIZE  ERASE  PROGRAM  LOCK  BANKS  OPB9  OP35  WRR2
# SIZE in bytes; ERASE the block 0xD8 erases in bytes, a map from address 0
# upward ("8192*4 32768 65536*30 ...") or "absent"; the rest as the catalogue
# writes them.
#   awk -v id="01 20 14" -v extended="4D 00 80 ..." -f catalogue.awk CATALOGUE
function bytes(text,  unit) {
  unit = substr(text, length(text))
  if (unit == "K") return substr(text, 1, length(text) - 1) * 1024
  if (unit == "M") return substr(text, 1, length(text) - 1) * 1048576
  return text + 0
}
# A map's terms in bytes: "8K*4 32K" is "8192*4 32768".
function erase_bytes(text,  n, i, terms, term, out) {
  if (text == "absent") return text
  n = split(text, terms, " ")
  for (i = 1; i <= n; i++) {
    split(terms[i], term, "*")
    out = out (i > 1 ? " " : "") bytes(term[1]) (terms[i] ~ /\*/ ? "*" term[2] : "")
  }
  return out
}
function fact(part, key,  depth) {
  while (!((part, key) in row) && (part, "base") in row && depth++ < 16) part = row[part, "base"]
  return row[part, key]
}
function documented(ext,  want, n, i, words) {
  if (ext == "none") return 1  # bytes after the ID not documented: any answer
  if (ext == "cfi") want = "4D"
  else if (ext ~ /^zeros /) {
    n = substr(ext, 7) + 0
    want = sprintf("%02X", n)
    for (i = 0; i < n; i++) want = want " 00"
  } else want = sprintf("%02X", split(ext, words, " ")) " " toupper(ext)
  return index(extended " ", want " ") == 1
}
{
  sub(/#.*/, "")
  sub(/\|.*/, "")
  if (!NF) next
  if ($1 == "part") { part = $2; order[++parts] = part; next }
  value = $2
  for (i = 3; i <= NF; i++) value = value " " $i
  if (!((part, $1) in row)) row[part, $1] = value
}
END {
  for (p = 1; p <= parts; p++) {
    part = order[p]
    if (toupper(fact(part, "jedec")) != id || !documented(fact(part, "ext"))) continue
    split(fact(part, "program"), program, " ")
    printf "%s\t%d\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", part (fact(part, "kind") == "model" ? " (simulator model)" : ""),
      bytes(fact(part, "size")), erase_bytes(fact(part, "eraseD8")), program[1], fact(part, "lock"),
      fact(part, "banks"), fact(part, "opB9"), fact(part, "op35"), fact(part, "wrr2")
  }
}
