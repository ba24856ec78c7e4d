#!/bin/sh
# SPDX-License-Identifier: MIT
# The section of docs/parts.md on the parts Linux's tables know (parts/kernel.txt):
# one line a part with its ID, size, erase block, program mode, and what romflash
# WRITE and romflash-update do on it. The verdicts follow from the facts, as
# romflash-update reads them; one part of every kind of verdict is then run on the
# simulator, and the section is not written when a run disagrees with its line.
#
#   scripts/kernel-parts-table.sh FLASHSIM ROMFLASH    the section on stdout
set -eu
LC_ALL=C
export LC_ALL

root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 2 ] || { echo "usage: $0 FLASHSIM ROMFLASH" >&2; exit 2; }
die() { echo "kernel-parts-table: $*" >&2; exit 1; }
abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
flashsim=$(abs "$1") romflash=$(abs "$2")
# The build's flat parts table and marks, and its romflash-update, which reads the same table.
built=$(dirname "$flashsim")/../update
flat=${ROMFLASH_PARTS_FLAT:-$built/catalogue.flat} marks=${ROMFLASH_PARTS_MARKS:-$built/catalogue.marks}
[ -r "$flat" ] && [ -r "$marks" ] || die "no flat parts table $flat or marks $marks: build the parts tables first"
work=$(mktemp -d "${TMPDIR:-/tmp}/kernel-parts-table.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# One line a part, '|' between fields: part, profile, ID (and the extended bytes
# Linux tells it by), size, block, program, WRITE's class and words, the update's
# exit and words, the unverified facts. Classes: safe, loss (bytes outside the image
# change), fails.
awk '
  function kib(n) { return n % 1048576 == 0 ? n / 1048576 " MiB" : n / 1024 " KiB" }
  function spaced(hex,  i, out) {
    for (i = 1; i <= length(hex); i += 2) out = out (i > 1 ? " " : "") substr(hex, i, 2)
    return out
  }
  FILENAME == marks_file { m = $3; for (i = 4; i <= NF; i++) m = m " " $i; marks[$1, $2] = m; next }
  /^#/ || !NF { next }
  {
    count++
    for (i = 1; i <= NF; i++) fact[count, substr($i, 1, index($i, "=") - 1)] = substr($i, index($i, "=") + 1)
  }
  # The catalogue rows (datasheet parts, and the models of the simulator) that answer what the
  # simulator plays for this row (its extended bytes, then zeros), as romflash-update
  # matches them: those win, named with " or " between them.
  function catalogue_rows(c,  answer, d, want, names, i) {
    answer = fact[c, "ext"] == "none" ? "00" : fact[c, "rdid"]
    for (i = 0; i < 80; i++) answer = answer "00"
    for (d = 1; d <= count; d++) {
      if (fact[d, "kind"] == "kernel" || fact[d, "jedec"] != fact[c, "jedec"]) continue
      want = fact[d, "ext"] == "none" ? "" : fact[d, "ext"] == "cfi" ? substr(fact[d, "rdid"], 1, 6) : fact[d, "rdid"]
      if (want == "" || index(answer, want) == 1) names = names (names == "" ? "" : " or ") fact[d, "part"]
    }
    return names
  }
  END {
    for (c = 1; c <= count; c++) {
      if (fact[c, "kind"] != "kernel") continue
      profile = fact[c, "profile"]
      shown = spaced(fact[c, "jedec"]) (fact[c, "ext"] == "prefix" ? " (" spaced(fact[c, "rdid"]) " ...)" : "")
      size = fact[c, "size"]
      block = fact[c, "eraseD8"]
      byte = fact[c, "program"] == "byte"
      lock = fact[c, "lock"]
      flaws = ""
      if (marks[profile, "status"] ~ /^(R|NF)$/) flaws = flaws ", the status at power-up (" marks[profile, "status"] ")"
      if (lock != "bp" && lock != "global") flaws = flaws ", the protection at power-up (NF)"
      if (size == "unknown") {
        write = "fails|the size and erase block are not known: Linux reads them from the part (SFDP)"
        update = "7|refused as an unknown part: needs -g SIZE:ERASE"
      } else if (block == "absent") {
        write = "fails|the part takes no erase (0xD8 is not one of its commands)"
        update = "9|refused: it has no 0xD8 erase"
      } else if (byte) {
        write = "fails|0x02 programs one byte: only the first byte of every 256-byte page is written"
        update = "9|refused before any erase: its page program (0x02) programs one byte"
      } else if (lock == "global") {
        write = "fails|every block is locked at power-up until 0x98, which romflash cannot send: nothing erased or written"
        update = "10|refused: every block locked at power-up"
      } else if (block + 0 == 32768) {
        write = "fails|0xD8 erases 32 KiB: half of every 64 KiB step WRITE erases stays as it was"
        update = "0|safe: rewrites every 32 KiB block on its own"
      } else if (block + 0 > 65536) {
        write = "loss|0xD8 erases " kib(block) ": WRITE'"'"'s 64 KiB steps erase bytes outside the image"
        update = "0|safe: keeps every byte of the " kib(block) " blocks outside the image"
      } else {
        write = "safe|works"
        update = "0|safe"
      }
      if (lock == "bp") {
        write = "fails|the protection bits come up set: nothing erased or written until WREN + WRR1 0x0000 clears them" \
          (write ~ /^safe/ ? "" : "; then " substr(write, index(write, "|") + 1))
        if (update ~ /^0/) update = "4|stops while block protection is set; -u clears it"
      }
      # Above 16 MiB the update settles the address state a boot loader left: only S25FL-S
      # parts (a bank register and B9h as BRAC) can have it reset by romflash operations.
      if (size + 0 > 16777216 && update ~ /^[04]/ && !(fact[c, "banks"] == "bar" && fact[c, "opB9"] == "bank-access"))
        update = "13|refused until the board is power-cycled and -P given: romflash can neither read nor reset its bank register or 4-byte mode"
      if (size + 0 > 16777216 && update ~ /^[04]\|/) update = update " (the first 16 MiB: 3-byte addresses)"
      if ((winners = catalogue_rows(c)) != "")
        update = "-|as the catalogue'"'"'s " winners ", whose rows win"
      printf "%s|%s|%s|%s|%s|%s|%s|%s|%s\n", fact[c, "part"], profile, shown,
        size == "unknown" ? "unknown" : kib(size), size == "unknown" || block == "unknown" ? "unknown" : block == "absent" ? "none" : kib(block),
        byte ? "byte" : "page", write, update, substr(flaws, 3)
    }
  }' marks_file="$marks" "$flat" "$marks" >"$work/lines"

# The sample: the first part of every kind of line, run on the simulator.
mkdir "$work/bin"
cat >"$work/bin/romflash" <<EOF
#!/bin/sh
exec "$flashsim" run --state "$work/chip" -- "$romflash" "\$@"
EOF
chmod +x "$work/bin/romflash"
awk 'BEGIN { while (n < 65536) { s = sprintf("romflash parts table image, line %05d\n", i++); printf "%s", s; n += length(s) } }' |
  head -c 65536 >"$work/image.bin"
fresh() { "$flashsim" create --state "$work/chip" --profile "$1" --fill 0x00 >/dev/null || die "cannot create $1"; }
window() { "$flashsim" dump --state "$work/chip" --offset 0 --length "$end" -o "$1" || die "cannot dump"; }
: >"$work/sampled"
awk -F'|' '$4 != "unknown" && $9 != "-" && !seen[$6 $8 $10]++ { print $2, $7, $9 }' "$work/lines" |
  while read -r profile class exit; do
  fresh "$profile"
  size=$("$flashsim" profiles | awk -v p="$profile" '$1 == p { print $2 * 1024 }')
  T=0x040000 # where WRITE and romflash-update write a 64 KiB image (0 on a part under 512 KiB)
  [ "$size" -ge $((0x80000)) ] || T=0
  end=$((T + 0x50000 < size ? T + 0x50000 : size))
  window "$work/before"
  (cd "$work" && "$flashsim" run --state "$work/chip" -- "$romflash" -d /dev/spi0 -o WRITE "$T" -f image.bin) >/dev/null 2>&1 || :
  window "$work/after"
  { head -c $((T)) "$work/before" && cat "$work/image.bin" && tail -c +$((T + 65537)) "$work/before"; } >"$work/meant"
  if cmp -s "$work/after" "$work/meant"; then seen=safe
  elif cmp -s -i $((T)):0 -n 65536 "$work/after" "$work/image.bin"; then seen=loss
  else seen=fails; fi
  [ "$seen" = "$class" ] || die "$profile: WRITE was to be $class, the simulator shows $seen"
  fresh "$profile"
  rc=0
  PATH="$work/bin:$PATH" sh "$built/romflash-update" -d /dev/spi0 -f "$work/image.bin" -a "$T" -J '' -q \
    >/dev/null 2>&1 || rc=$?
  [ "$rc" = "$exit" ] || die "$profile: romflash-update was to exit $exit, it exits $rc on the simulator"
  echo "$profile" >>"$work/sampled"
done

cat <<'EOF'
## Parts Linux knows

Generated by `scripts/kernel-parts-table.sh` from `parts/kernel.txt`, the parts Linux
6.1's spi-nor tables list with an ID (imported by `parts/import-kernel.sh`); do not
edit by hand. Their ID, size, erase block (what 0xD8 erases) and program mode are
Linux's; the rest is the behaviour that loses no data silently, unverified, named in
the last column. WRITE is `romflash -o WRITE 0x040000` of 64 KiB (at 0 on a part under
512 KiB); romflash-update writes the same image there, and its exit status comes first. Both
follow from those facts; the parts marked *sampled* were also run on the simulator,
one of every kind of line, with the results shown. An ID with extended bytes after it
names the bytes Linux tells the part by; where a row of the catalogue (a datasheet part, or
the simulator's model of one) answers the same, that row wins.

| part | profile | JEDEC ID | size | 0xD8 erases | program | WRITE | romflash-update | unverified |
|---|---|---|---|---|---|---|---|---|
EOF
awk -F'|' 'FILENAME == ARGV[1] { sampled[$1]; next }
  { printf "| %s%s | `%s` | %s | %s | %s | %s | %s: %s | %s: %s | %s |\n", $1, $2 in sampled ? " *sampled*" : "",
      $2, $3, $4, $5, $6, $7, $8, $9, $10, $11 == "" ? "-" : $11 }' "$work/sampled" "$work/lines"
