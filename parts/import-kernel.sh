#!/bin/sh
# SPDX-License-Identifier: MIT
# Writes parts/kernel.txt: every SPI NOR part Linux's spi-nor core lists with a
# JEDEC ID, as rows of the parts catalogue's format with every fact marked K (or
# NF where the kernel's table says nothing and the generic behaviour stands in),
# and reports on stderr where a row disagrees with a datasheet row of
# parts/catalogue.txt for the same ID. A developer runs it when the kernel source
# package changes; the test command only checks the file it wrote.
#
#   parts/import-kernel.sh [TARBALL] [OUT] [FLAT]
#       TARBALL  the linux-source package's tarball (/usr/src/linux-source-6.1.tar.xz)
#       OUT      where the rows go (parts/kernel.txt)
#       FLAT     the catalogue's flat table the build writes (parts/README.md);
#                else $ROMFLASH_PARTS_FLAT, else build/update/catalogue.flat, which
#                cmake --preset native && cmake --build --preset native --target parts_tables
#                writes
#
# The catalogue's facts come from the flat table, resolved by the build's reader:
# the profile names every non-kernel part takes, and the size, 0xD8 erase, program
# mode and RDID answer of the datasheet parts. Its kernel lines (the kernel.txt it
# was built from) play no part. Needs GNU tar with xz and dpkg-query for the
# package version. The output depends on nothing but the tarball and the flat
# table: the same input gives the same bytes.
set -eu
LC_ALL=C
export LC_ALL

root=$(cd "$(dirname "$0")/.." && pwd)
tarball=${1:-/usr/src/linux-source-6.1.tar.xz}
out=${2:-$root/parts/kernel.txt}
built=$root/build/update/catalogue.flat
flat=${3:-${ROMFLASH_PARTS_FLAT:-$built}}
make_flat="cd $root && cmake --preset native && cmake --build --preset native --target parts_tables"
[ -r "$tarball" ] || { echo "import-kernel: cannot read $tarball" >&2; exit 1; }
[ -r "$flat" ] || {
  echo "import-kernel: no flat parts table $flat: write it with $make_flat (or name one as the third argument or in ROMFLASH_PARTS_FLAT)" >&2
  exit 1
}
# The build's own table must have been written from the catalogue as it is now.
if [ "$flat" = "$built" ] && [ -n "$(find "$root/parts/catalogue.txt" -newer "$flat")" ]; then
  echo "import-kernel: $flat is older than parts/catalogue.txt: write it again with $make_flat" >&2
  exit 1
fi
package=$(dpkg-query -S "$tarball" 2>/dev/null | sed 's/:.*//' | head -n 1) || package=
version=
[ -z "$package" ] || version=$(dpkg-query -W -f '${Version}' "$package" 2>/dev/null) || version=
work=$(mktemp -d "${TMPDIR:-/tmp}/import-kernel.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

tar -xJf "$tarball" -C "$work" --wildcards '*/drivers/mtd/spi-nor/*.c'
sources=$(find "$work" -path '*/drivers/mtd/spi-nor/*.c' | sort)
[ -n "$sources" ] || { echo "import-kernel: no drivers/mtd/spi-nor in $tarball" >&2; exit 1; }

# One line per flash_info entry that gives an ID:
#   FILE NAME JEDEC EXT SECTOR COUNT FLAG...
# EXT is "-" or the extended ID bytes as hex; SECTOR and COUNT are 0 where the
# kernel leaves the geometry to the part's SFDP table.
# shellcheck disable=SC2086 # the file list is word-split on purpose: no blanks in it
awk '
  function value(expr,  n, i, terms, product) {  # "64 * 1024" and the like
    gsub(/[ \t()]/, "", expr)
    n = split(expr, terms, "*")
    product = 1
    for (i = 1; i <= n; i++) product *= (terms[i] ~ /^0x/ ? hex(terms[i]) : terms[i] + 0)
    return product
  }
  function hex(text,  i, n, digit) {
    gsub(/[ \t]/, "", text)
    text = tolower(substr(text, 3))
    n = 0
    for (i = 1; i <= length(text); i++) {
      digit = index("0123456789abcdef", substr(text, i, 1)) - 1
      n = n * 16 + digit
    }
    return n
  }
  function entry(text,  name, macro, args, n, sixth, file, flags, word, words, i, ext) {
    if (!match(text, /"[^"]*"/)) return
    name = substr(text, RSTART + 1, RLENGTH - 2)
    if (!match(text, /[^A-Z0-9_]INFO6?\([^)]*(\([^)]*\)[^)]*)*\)/)) return
    macro = substr(text, RSTART + 1, RLENGTH - 1)
    sixth = macro ~ /^INFO6/
    sub(/^INFO6?\(/, "", macro)
    sub(/\)$/, "", macro)
    n = split(macro, args, ",")
    if (n != 4 || hex(args[1]) == 0) return  # no ID: only a name the device tree gives
    ext = hex(args[2])
    if (ext == 0) ext = "-"
    else if (sixth) ext = sprintf("%02X-%02X-%02X", int(ext / 65536), int(ext / 256) % 256, ext % 256)
    else ext = sprintf("%02X-%02X", int(ext / 256), ext % 256)
    file = FILENAME
    sub(/.*\//, "", file)
    flags = ""
    n = split(text, words, /[^A-Za-z0-9_]+/)
    for (i = 1; i <= n; i++) {
      word = words[i]
      if (word ~ /^(SECT_4K|SPI_NOR_NO_ERASE|NO_CHIP_ERASE|SST_WRITE|SPI_NOR_4B_OPCODES|SPI_NOR_HAS_LOCK|SPI_NOR_SWP_IS_VOLATILE|PARSE_SFDP|SPI_NOR_SKIP_SFDP)$/ ||
          word ~ /_fixups$/)
        flags = flags " " word
    }
    printf "%s %s %06X %s %d %d%s\n", file, name, hex(args[1]), ext, value(args[3]), value(args[4]), flags
  }
  FNR == 1 { inside = 0; depth = 0; text = "" }
  /struct flash_info [a-z0-9_]*\[\] = \{/ { inside = 1; next }
  !inside { next }
  depth == 0 && /^};/ { inside = 0; next }
  {
    line = $0
    sub(/\/\*.*\*\//, "", line)
    if (depth == 0 && line !~ /\{/) next
    text = text " " line
    opened = gsub(/\{/, "{", line)
    closed = gsub(/\}/, "}", line)
    depth += opened - closed
    if (depth <= 0) { entry(text); text = ""; depth = 0 }
  }
' $sources >"$work/entries"

awk -v tarball="$tarball" -v package="${package:-an unknown package}" -v version="${version:-unknown}" \
  -v flat="$flat" -v report="$work/report" '
  function size_text(n) {
    if (n % 1048576 == 0) return n / 1048576 "M"
    return n / 1024 "K"
  }
  function spaced(hex,  i, text) {
    for (i = 1; i <= length(hex); i += 2) text = text (i > 1 ? " " : "") substr(hex, i, 2)
    return text
  }
  function has(flags, flag) { return index(flags " ", " " flag " ") > 0 }
  # An erase as the catalogue words it: a block map as runs of equal blocks.
  function erase_text(value,  n, blocks, i, run, text) {
    if (value !~ /^[0-9,]+$/) return value
    n = split(value, blocks, ",")
    for (i = 1; i <= n; i += run) {
      run = 1
      while (i + run <= n && blocks[i + run] == blocks[i]) run++
      text = text (i > 1 ? " " : "") size_text(blocks[i]) (run > 1 ? "*" run : "")
    }
    return text
  }
  # The profile names the catalogue takes, and its datasheet rows for the report.
  function read_flat(  line, n, w, i, f, d) {
    while ((getline line < flat) > 0) {
      if (line ~ /^#/) continue
      n = split(line, w, " ")
      if (!n) continue
      split("", f)
      for (i = 1; i <= n; i++) f[substr(w[i], 1, index(w[i], "=") - 1)] = substr(w[i], index(w[i], "=") + 1)
      if (f["kind"] == "kernel") continue
      taken[f["profile"]] = 1
      if (f["kind"] != "datasheet") continue
      d = ++sheets
      part[d] = f["part"]
      size_of[d] = f["size"] + 0
      size_word[d] = f["size"] == "unknown" ? "unknown" : size_text(f["size"])
      erase_of[d] = f["eraseD8"]
      erase_word[d] = f["size"] == "unknown" && f["eraseD8"] == "absent" ? "unknown" : erase_text(f["eraseD8"])
      program_of[d] = f["program"] == "byte" ? "byte" : f["program"] " " f["page"]
      ext_of[d] = f["ext"]
      rdid_of[d] = f["rdid"]
      sheet[spaced(f["jedec"])] = sheet[spaced(f["jedec"])] " " d
    }
    close(flat)
  }
  # Whether what datasheet row d says RDID answers after the ID rules out the
  # extended bytes the kernel matches. A length byte 00, and a length byte alone
  # (the bytes not found), decide nothing; of a prefix only its bytes count.
  function rules_out(d, ext,  known) {
    if (ext == "-" || ext_of[d] == "none" || (ext_of[d] == "prefix" && length(rdid_of[d]) == 2)) return 0
    known = spaced(rdid_of[d])
    if (ext_of[d] == "prefix" && length(known) < length(ext)) return index(ext, known) != 1
    return index(known " ", ext " ") != 1
  }
  BEGIN {
    read_flat()
    if (!sheets) { print "import-kernel: no datasheet part in " flat > "/dev/stderr"; failed = 1; exit 1 }
  }
  { line[NR] = $0 }
  END {
    if (failed) exit 1
    print "# SPDX-License-Identifier: MIT"
    print "# The parts Linux knows: every flash_info row of the spi-nor core that gives a JEDEC"
    print "# ID, in the format of parts/catalogue.txt (parts/README.md). Do not edit: written by"
    print "#   parts/import-kernel.sh " tarball
    print "# from " package " " version " (drivers/mtd/spi-nor/*.c)."
    print "# Every fact the kernel gives is marked K; what its tables leave out is the generic"
    print "# behaviour of the row kernel-generic below, marked NF. Where the kernel tells parts"
    print "# apart by their extended ID bytes, ext is those bytes as a prefix of what RDID"
    print "# answers after the ID (its first byte the length byte); where it does not, the rows"
    print "# share an ID and romflash-update takes the safest reading of them. A size of"
    print "# unknown is a part whose geometry the kernel reads from the part itself (SFDP)."
    print ""
    print "part kernel-generic"
    print "kind            template"
    print "ext             none                     | NF"
    print "rems            absent                   | NF"
    print "res             absent                   | NF"
    print "sfdp            no                       | NF"
    print "erase20         absent                   | NF"
    print "erase40         absent                   | NF"
    print "erase52         absent                   | NF"
    print "erase60         absent                   | NF"
    print "eraseC7         chip                     | K   # the core erases a whole part with C7h"
    print "program         page 256                 | K   # the page size of every INFO row"
    print "status          0x00                     | NF"
    print "config          none                     | NF"
    print "lock            none                     | NF"
    print "wrr1            status                   | K   # the core writes the status register with 01h"
    print "wrr2            ignored                  | NF"
    print "op31            absent                   | NF"
    print "op35            absent                   | NF"
    print "op50            absent                   | NF"
    print "opB9            absent                   | NF"
    print "banks           none                     | K"
    print "opAD            absent                   | NF"
    print "op4B            absent                   | NF"
    print "opB7            absent                   | NF"
    print "bankreg         absent                   | NF"
    print "op70            absent                   | NF"
    print "op15            absent                   | NF"
    print "op11            absent                   | NF"
    print "status3         none                     | NF"
    print "wrr8            keeps                    | NF"
    print "time-program    0.7ms ?                  | NF"
    print "time-erase      150ms ?                  | NF"
    print "time-chip       40s ?                    | NF"
    print "time-register   5ms ?                    | NF"
    print "sources         no part: the behaviour the kernel rows below take where the kernel is silent"
    n = NR
    # Sort by ID, extended bytes, name.
    for (i = 1; i <= n; i++) {
      split(line[i], f, " ")
      key[i] = f[3] " " f[4] " " f[2]
      shared[f[3] " " f[4]] = shared[f[3] " " f[4]] " " toupper(f[2])
    }
    for (i = 2; i <= n; i++)
      for (j = i; j > 1 && key[j - 1] > key[j]; j--) {
        t = key[j]; key[j] = key[j - 1]; key[j - 1] = t
        t = line[j]; line[j] = line[j - 1]; line[j - 1] = t
      }
    for (i = 1; i <= n; i++) {
      m = split(line[i], f, " ")
      flags = ""
      for (k = 7; k <= m; k++) flags = flags " " f[k]
      file = f[1]; name = f[2]; id = f[3]; ext = f[4]; sector = f[5]; count = f[6]
      size = sector * count
      pair = id " " ext
      profile = tolower(name)
      gsub(/\//, "-", profile)
      if (profile in taken) profile = profile "-kernel"
      taken[profile] = 1
      print ""
      print "part " toupper(name)
      print "base            kernel-generic"
      print "kind            kernel"
      print "profile         " profile
      if (shared[pair] != " " toupper(name)) {
        others = shared[pair] " "
        sub(" " toupper(name) " ", " ", others)
        print "same-id        " substr(others, 1, length(others) - 1)
      }
      printf "jedec           %-24s | K\n", spaced(id)
      if (ext != "-") { gsub(/-/, " ", ext); printf "ext             %-24s | K   # the bytes the kernel matches\n", "prefix " ext }
      if (size == 0) {
        print "size            unknown                  | K   # read from SFDP at run time"
        print "eraseD8         unknown                  | K"
      } else {
        printf "size            %-24s | K\n", size_text(size)
        if (has(flags, "SPI_NOR_NO_ERASE")) print "eraseD8         absent                   | K   # needs no erase"
        else printf "eraseD8         %-24s | K\n", size_text(sector)
      }
      if (has(flags, "SECT_4K")) print "erase20         4K                       | K"
      if (has(flags, "SPI_NOR_NO_ERASE") || has(flags, "NO_CHIP_ERASE")) print "eraseC7         absent                   | K"
      if (has(flags, "SST_WRITE")) {
        print "program         byte                     | K   # one byte per 02h"
        print "opAD            aai-word                 | K   # the core writes with AAI word program"
      }
      if (has(flags, "SPI_NOR_4B_OPCODES")) print "op4B            native                   | K"
      if (has(flags, "sst26vf_nor_fixups"))
        print "lock            global                   | K   # every block locked until 98h"
      else if (has(flags, "SPI_NOR_SWP_IS_VOLATILE")) {
        print "lock            bp                       | K   # volatile protection bits, usually set at power-up"
        print "status          0x1C                     | R   # which bits come up set: not in the kernel table"
      }
      if (size > 16777216) {
        if (substr(id, 1, 2) == "01") print "banks           bar                      | K   # Spansion: 4-byte addresses by the bank register"
        else if (has(flags, "SPI_NOR_4B_OPCODES")) print "banks           ear                      | K   # 4-byte opcodes; B7h enters 4-byte mode"
        else print "banks           ear                      | K   # B7h enters 4-byte mode"
      }
      src = "Linux 6.1 drivers/mtd/spi-nor/" file " flash_info \"" name "\""
      if (has(flags, "PARSE_SFDP")) src = src ", SFDP parsed at run time"
      print "sources         " src
      # The disagreements with datasheet rows for the same ID.
      if (!(spaced(id) in sheet)) continue
      sames = split(substr(sheet[spaced(id)], 2), same, " ")
      for (s = 1; s <= sames; s++) {
        d = same[s]
        said = ""
        if (rules_out(d, ext)) continue
        if (size && size_of[d] != size) said = said ", size " size_word[d] " against " size_text(size)
        if (size && !has(flags, "SPI_NOR_NO_ERASE") && erase_of[d] != sector "")
          said = said ", eraseD8 " erase_word[d] " against " size_text(sector)
        if ((program_of[d] == "byte") != has(flags, "SST_WRITE"))
          said = said ", program " program_of[d] " against " (has(flags, "SST_WRITE") ? "byte" : "page 256")
        if (!size) said = said ", size " size_word[d] " against unknown (SFDP)"
        if (said != "") printf "%s %s %s%s\n", spaced(id), part[d], toupper(name), said > report
      }
    }
  }
' "$work/entries" >"$work/out"

# Every disagreement must be explained in parts/kernel-disagreements.txt.
explained=$root/parts/kernel-disagreements.txt
status=0
if [ -s "$work/report" ]; then
  while IFS= read -r said; do
    pair=$(echo "$said" | awk '{ print $4, $5 }' | tr -d ,)
    if grep -q "^$pair:" "$explained" 2>/dev/null; then
      echo "import-kernel: $said" >&2
    else
      echo "import-kernel: unexplained: $said" >&2
      status=1
    fi
  done <"$work/report"
fi
# An unexplained disagreement leaves the rows the build reads as they were.
[ "$status" -ne 0 ] || mv "$work/out" "$out"
exit "$status"
