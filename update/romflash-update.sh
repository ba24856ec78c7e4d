#!/bin/sh
# SPDX-License-Identifier: MIT
# romflash-update: writes a ROM image into the SPI NOR flash with romflash, so
# that the part is known before anything is erased, block protection cannot
# make the write silently vanish, every byte outside the image keeps its value,
# only the erase blocks that change are rewritten, a power cut loses nothing
# (the journal finishes the update on the next run) and the result is checked
# byte for byte. Built only from romflash invocations; POSIX sh, runs under
# BusyBox ash, dash and bash.
set -u

VERSION=1.0.0                  # the release: project(romflash VERSION ...) in CMakeLists.txt
WINDOW=16777216                # romflash sends 3-byte addresses: the first 16 MiB
JOURNAL_DEFAULT=/var/lib/romflash-update
INSTALLED_CATALOGUE='@ROMFLASH_DATADIR@/romflash/catalogue.txt'  # set when installed
INSTALLED_KERNEL_PARTS='@ROMFLASH_DATADIR@/romflash/kernel.txt'

# One exit status per outcome; 7 and up refuse before anything is erased or written.
EXIT_INTERNAL=1 EXIT_USAGE=2 EXIT_CHIP=3 EXIT_PROTECTED=4 EXIT_ROMFLASH=5 EXIT_MISMATCH=6
EXIT_UNKNOWN=7 EXIT_FIT=8 EXIT_UNWRITABLE=9 EXIT_LOCKED=10 EXIT_JOURNAL=11

usage() {
  cat <<EOF
Usage: romflash-update -d DEVICE -f IMAGE [-a ADDRESS] [-s KHZ] [-j JEDEC] [-c SIZE]
                       [-g SIZE:ERASE] [-J DIR] [-u] [-b BACKUP] [-n] [-q]
       romflash-update -V
Writes IMAGE into the SPI NOR flash from ADDRESS with romflash WRITE, keeping
every byte of the covered erase blocks outside the image and rewriting only
the blocks that change, then reads them back and compares them byte for byte.
The part is looked up in the parts catalogue by its JEDEC ID.
  -d DEVICE   spidev device, e.g. /dev/spi0
  -f IMAGE    ROM image file (not empty)
  -a ADDRESS  flash address of the image's first byte (default 0)
  -s KHZ      SPI clock in kHz (default: romflash's own, 500)
  -j JEDEC    expected JEDEC ID, e.g. "EF 40 18" or EF4018: any other chip is refused
  -c SIZE     the part's size in bytes is at most SIZE
  -g SIZE:ERASE  the part's size and the block its 0xD8 erases, in bytes (needed
              for a part the catalogue does not know; for a known part the larger
              block and the smaller size are taken)
  -J DIR      journal directory on persistent storage (default $JOURNAL_DEFAULT);
              -J '' updates without a journal
  -u          clear block protection (BP2..BP0) when set, instead of stopping
  -b BACKUP   save the covered blocks, as read before writing, to BACKUP
  -n          dry run: identify, read and print the plan; erase and write nothing
  -q          quiet: errors only
  -h          this text
  -V          the version of romflash-update
Numbers are decimal or 0x hexadecimal. Exit status: 0 done, 1 internal failure,
2 usage, 3 wrong or absent chip, 4 block protection set, 5 romflash failed,
6 verification mismatch, 7 unknown part, 8 image does not fit the part or
3-byte addresses, 9 WRITE cannot program the part, 10 part locked beyond
romflash's operations, 11 unusable journal.
EOF
}

say() {
  [ -n "$quiet" ] || printf 'romflash-update: %s\n' "$*"
}

stop() {
  status=$1
  shift
  printf 'romflash-update: %s\n' "$*" >&2
  exit "$status"
}

usage_error() {
  printf 'romflash-update: %s\n' "$*" >&2
  usage >&2
  exit "$EXIT_USAGE"
}

# Prints the value of a decimal or 0x hexadecimal number; anything else (octal
# included, which the shell would read differently from romflash) is refused.
number() {
  case $2 in
    0[xX]*) digits=${2#??}; max=8 ;;
    0 | [1-9]*) digits=$2; max=10 ;;
    0[0-9]*) usage_error "$1 $2: a leading zero would be octal; write it in decimal without it or in 0x hexadecimal" ;;
    *) usage_error "$1 $2: not a number" ;;
  esac
  case $digits in
    '' | *[!0-9a-fA-F]*) usage_error "$1 $2: not a number" ;;
  esac
  case $2 in
    0[xX]*) ;;
    *[!0-9]*) usage_error "$1 $2: not a number" ;;
  esac
  [ "${#digits}" -le "$max" ] || usage_error "$1 $2: too large"
  echo $(($2))
}

hex() {
  printf '0x%06X' "$1"
}

# Inclusive address range START..END-1 as the messages show it.
range() {
  printf '0x%06X-0x%06X' "$1" $(($2 - 1))
}

bytes_of() {
  echo $(($(wc -c <"$1")))
}

kib() {
  if [ "$1" -ge 1048576 ] && [ $(($1 % 1048576)) -eq 0 ]; then
    echo "$(($1 >> 20)) MiB"
  else
    echo "$(($1 >> 10)) KiB"
  fi
}

# LENGTH bytes of FILE from OFFSET (both multiples of 4 KiB, as erase blocks are).
slice() {
  dd if="$1" bs=4096 skip=$(($2 / 4096)) count=$(($3 / 4096)) 2>/dev/null
}

# The checksum of a journal: its plan up to the md5 line, and its data.
digest() {
  { sed '/^md5 /,$d' "$1/plan" && cat "$1/data"; } | md5sum | sed 's/ .*//'
}

# romflash on the device. Its own lines pass through (not with -q) and are
# kept in $work/out for the steps that read a value from them.
rf() {
  if [ -n "$khz" ]; then set -- -s "$khz" "$@"; fi
  if [ -n "$quiet" ]; then
    "$romflash" -d "$device" "$@" >"$work/out"
    return
  fi
  { "$romflash" -d "$device" "$@"; echo $? >"$work/rc"; } | tee "$work/out"
  return "$(cat "$work/rc")"
}

device='' khz='' image='' start=0 jedec='' size_limit='' geometry='' unprotect='' backup=''
dry_run='' quiet='' journal_dir=$JOURNAL_DEFAULT
while getopts ':d:s:f:a:j:c:g:J:ub:nqhV' option; do
  case $option in
    d) device=$OPTARG ;;
    s) khz=$(number -s "$OPTARG") || exit ;;
    f) image=$OPTARG ;;
    a) start=$(number -a "$OPTARG") || exit ;;
    j)
      jedec=$(printf '%s' "$OPTARG" | sed 's/0[xX]//g; s/[ ,:]//g' | tr a-f A-F)
      case $jedec in
        [0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F]) ;;
        *) usage_error "-j $OPTARG: not three hexadecimal bytes" ;;
      esac
      ;;
    c)
      size_limit=$(number -c "$OPTARG") || exit
      [ "$size_limit" -gt 0 ] || usage_error "-c $OPTARG: a chip has some bytes"
      ;;
    g)
      case $OPTARG in *:*) ;; *) usage_error "-g $OPTARG: not SIZE:ERASE" ;; esac
      geometry_size=$(number -g "${OPTARG%%:*}") || exit
      geometry_erase=$(number -g "${OPTARG#*:}") || exit
      [ "$geometry_erase" -gt 0 ] && [ $((geometry_erase % 4096)) -eq 0 ] &&
        [ "$geometry_size" -gt 0 ] && [ $((geometry_size % geometry_erase)) -eq 0 ] ||
        usage_error "-g $OPTARG: the erase block is a multiple of 4 KiB and the size a multiple of it"
      geometry="$geometry_size $geometry_erase"
      ;;
    J) journal_dir=$OPTARG ;;
    u) unprotect=1 ;;
    b) backup=$OPTARG ;;
    n) dry_run=1 ;;
    q) quiet=1 ;;
    h) usage; exit 0 ;;
    V) echo "romflash-update (romflash) $VERSION"; exit 0 ;;
    :) usage_error "-$OPTARG needs an argument" ;;
    *) usage_error "-$OPTARG: unknown option" ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || usage_error "$1: unexpected argument"
[ -n "$device" ] || usage_error "no device (-d)"
[ -n "$image" ] || usage_error "no image (-f)"
[ -f "$image" ] && [ -r "$image" ] || usage_error "$image: not a readable file"

size=$(bytes_of "$image")
[ "$size" -gt 0 ] || usage_error "$image: empty, nothing to write"
end=$((start + size))
target=$(range "$start" "$end")
[ "$end" -le "$WINDOW" ] ||
  stop "$EXIT_FIT" "image $target ends past 0xFFFFFF, the last 3-byte address; nothing was written"

here=$(dirname "$0")
romflash=$here/romflash
[ -x "$romflash" ] || romflash=$(command -v romflash) ||
  stop "$EXIT_ROMFLASH" "romflash not found beside $0 or on PATH; nothing was written to $target"
catalogue='' kernel_parts=''
for file in "$here/catalogue.txt" "$here/../parts/catalogue.txt" "$INSTALLED_CATALOGUE"; do
  if [ -z "$catalogue" ] && [ -r "$file" ]; then catalogue=$file; fi
done
# The parts Linux's tables know, for an ID no datasheet row has.
for file in "$here/kernel.txt" "$here/../parts/kernel.txt" "$INSTALLED_KERNEL_PARTS"; do
  if [ -z "$kernel_parts" ] && [ -r "$file" ]; then kernel_parts=$file; fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/romflash-update.XXXXXX") || exit "$EXIT_INTERNAL"
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Identify: the expected chip, and a chip at all (a bus without one reads as
# all ones or all zeros).
rf -o RDID || stop "$EXIT_ROMFLASH" "RDID failed on $device; nothing was written to $target"
id=$(sed -n 's/^MANUF_ID: 0x\([0-9A-F][0-9A-F]\)$/\1/p; s/^DEVICE_ID: 0x\([0-9A-F]\{4\}\)$/\1/p' "$work/out" | tr -d '\n')
[ "${#id}" -eq 6 ] || stop "$EXIT_ROMFLASH" "RDID on $device printed no ID; nothing was written to $target"
shown=$(echo "$id" | sed 's/\(..\)\(..\)\(..\)/\1 \2 \3/')
case $id in
  FFFFFF | 000000) stop "$EXIT_CHIP" "no chip answers on $device (ID $shown); nothing was written to $target" ;;
esac
[ -z "$jedec" ] || [ "$jedec" = "$id" ] ||
  stop "$EXIT_CHIP" "$device holds chip $shown, expected $(echo "$jedec" | sed 's/\(..\)\(..\)\(..\)/\1 \2 \3/'); nothing was written to $target"
# What RDID answered after the three ID bytes: the length byte and the bytes it
# announces, from romflash's dump ("00" when the length byte was 0).
extended=$(sed -n 's/^  0x[0-9A-F]\{8\}://p' "$work/out" | tr '\n' ' ' | awk '{
  for (i = 4; i <= NF; i++) printf "%s%s", $i, (i < NF ? " " : "") }')
[ -n "$extended" ] || extended=00

# The part: every catalogue row whose ID (and, where the row documents them,
# extended bytes) the chip answers, else every row of Linux's parts that does
# (those that match on extended bytes, where any does), plus the geometry of
# -g. A row of Linux's whose geometry the part gives by SFDP is no candidate,
# only a name for the part. Where several
# remain, each fact is taken as the one that loses no data: the smallest size,
# the erase blocks that hold every candidate's block (boundaries common to all),
# any candidate's refusal. Prints shell assignments; the blocks of the covered
# range only when it fits the part.
facts=$(awk -v id="$shown" -v extended="$extended" -v geometry="$geometry" -v kernel="$kernel_parts" \
  -v limit="${size_limit:-0}" -v start="$start" -v end="$end" '
  function bytes(text,  unit) {
    unit = substr(text, length(text))
    if (unit == "K") return substr(text, 1, length(text) - 1) * 1024
    if (unit == "M") return substr(text, 1, length(text) - 1) * 1048576
    return text + 0
  }
  function fact(part, key,  depth) {
    while (!((part, key) in row) && (part, "base") in row && depth++ < 16) part = row[part, "base"]
    return row[part, key]
  }
  function quote(text) { gsub(/\047/, "\047\\\047\047", text); return "\047" text "\047" }
  function documented(ext,  want, n, i, words) {
    if (ext == "none") return 1  # bytes after the ID not documented: any answer
    # After the length byte, Linux tells a 256 KiB-sector part (00) from its 64 KiB-sector
    # sibling (01).
    if (ext == "cfi") want = "4D 00 80"
    else if (ext ~ /^zeros /) {
      n = substr(ext, 7) + 0
      want = sprintf("%02X", n)
      for (i = 0; i < n; i++) want = want " 00"
    } else if (ext ~ /^prefix /) want = toupper(substr(ext, 8))  # the answer begins so
    else want = sprintf("%02X", split(ext, words, " ")) " " toupper(ext)
    return index(extended " ", want " ") == 1
  }
  function add(name, size, erase,  n, i, j, at, times, blocks, term) {
    names[++count] = name
    sizes[count] = size
    if (erase ~ /\*| /) {  # a block map from address 0 upward
      uniform[count] = 0
      n = split(erase, blocks, " ")
      at = 0
      for (i = 1; i <= n; i++) {
        times = split(blocks[i], term, "*") > 1 ? term[2] : 1
        for (j = 0; j < times; j++) boundary[count, at += bytes(term[1])] = 1
      }
    } else uniform[count] = bytes(erase)
  }
  function bound(c, at) { return uniform[c] ? at % uniform[c] == 0 : !at || (c, at) in boundary }
  function common(at,  c) {
    for (c = 1; c <= count; c++) if (!bound(c, at)) return 0
    return 1
  }
  # How WRITE, erasing in 64 KiB steps from a run'"'"'s start, can rewrite the
  # block FROM..TO: 2 in a run of such blocks (every candidate'"'"'s blocks in it
  # are 64 KiB or more), 1 alone (it is a single smaller block), 0 not at all.
  function writable(from, to,  c, at, piece, pieces, smallest, result) {
    result = 2
    for (c = 1; c <= count; c++) {
      pieces = 0
      piece = from
      smallest = to - from
      for (at = from + 4096; at <= to; at += 4096) {
        if (!bound(c, at)) continue
        pieces++
        if (at - piece < smallest) smallest = at - piece
        piece = at
      }
      if (smallest < 65536) result = pieces == 1 && result ? 1 : 0
    }
    return result
  }
  function answers(part) { return toupper(fact(part, "jedec")) == id && documented(fact(part, "ext")) }
  FNR == 1 { file = FILENAME == kernel ? 2 : 1 }
  {
    sub(/#.*/, "")
    sub(/\|.*/, "")
    if (!NF) next
    # Rows are named FILE:NAME, so that a name both files use stays two rows.
    if ($1 == "part") { part = file ":" $2; order[++parts] = part; origin[part] = file; next }
    value = ($1 == "base" ? file ":" : "") $2
    for (i = 3; i <= NF; i++) value = value " " $i
    if (!((part, $1) in row)) row[part, $1] = value
  }
  END {
    for (p = 1; p <= parts; p++) {
      if (!answers(order[p])) continue
      if (origin[order[p]] == 1) sheet = 1
      else if (fact(order[p], "ext") != "none") specific = 1
    }
    for (p = 1; p <= parts; p++) {
      part = order[p]
      if (!answers(part)) continue
      if (origin[part] == 2 && (sheet || (specific && fact(part, "ext") == "none"))) continue
      key = part
      part = substr(part, index(part, ":") + 1)
      if (fact(key, "size") == "unknown") {
        sfdp = sfdp ", " part
        continue
      }
      erase = fact(key, "eraseD8")
      add(part (fact(key, "kind") == "model" ? " (simulator model)" : ""), bytes(fact(key, "size")),
        erase == "absent" ? 0 : erase)
      if (erase == "absent") unwritable = unwritable "; " part ": it has no 0xD8 erase"
      else if (fact(key, "program") == "byte")
        unwritable = unwritable "; " part ": its page program (0x02) programs one byte"
      if (fact(key, "lock") == "global") locked = locked ", " part
      if (fact(key, "banks") == "bar") banked = banked ", " part "\047s bank address register"
      if (fact(key, "banks") == "ear") banked = banked ", " part "\047s extended address register"
    }
    if (geometry != "") {
      split(geometry, given, " ")
      add("the geometry of -g", given[1], given[2])
    }
    size = 0
    largest = 0
    for (c = 1; c <= count; c++) {
      list = list (c > 1 ? (c < count ? ", " : " or ") : "") names[c]
      if (!size || sizes[c] < size) size = sizes[c]
      if (!uniform[c]) largest = -1
      else if (largest >= 0 && uniform[c] > largest) largest = uniform[c]
    }
    if (limit && limit < size) size = limit
    print "candidates=" count + 0 " names=" quote(list) " part_size=" size " block_size=" largest
    print "unwritable=" quote(substr(unwritable, 3)) " locked=" quote(substr(locked, 3)) \
      " banked=" quote(substr(banked, 3)) " sfdp=" quote(substr(sfdp, 3))
    if (!count || end > size || unwritable != "") exit
    for (first = start - start % 4096; !common(first); first -= 4096) continue
    for (last = end + (4096 - end % 4096) % 4096; !common(last); last += 4096) continue
    for (at = first; at <= last; at += 4096) {
      if (!common(at)) continue
      if (at > first && !(fit = writable(from, at)))
        unwritable = unwritable "; " list ": 0xD8 erases blocks under 64 KiB in " \
          sprintf("0x%06X-0x%06X", from, at - 1) ", which WRITE'"'"'s 64 KiB erase steps miss"
      if (at > first && fit == 1) alone = alone " " from
      bounds = bounds " " at
      from = at
    }
    print "first=" first " last=" last " bounds=" quote(substr(bounds, 2)) " alone=" quote(alone)
    print "unwritable=" quote(substr(unwritable, 3))
  }' "${catalogue:-/dev/null}" "${kernel_parts:-/dev/null}") ||
  stop "$EXIT_INTERNAL" "could not read the parts catalogue $catalogue"
candidates=0 names='' part_size=0 block_size=0 unwritable='' locked='' banked='' first=0 last=0 bounds=''
alone='' sfdp=''
eval "$facts"

if [ "$candidates" -eq 0 ] && [ -n "$sfdp" ]; then
  stop "$EXIT_UNKNOWN" "$device holds chip $shown, which Linux knows as $sfdp but sizes from the part's own SFDP table, which romflash cannot read; give its size and the block its 0xD8 erases with -g SIZE:ERASE; nothing was written to $target"
fi
if [ "$candidates" -eq 0 ]; then
  stop "$EXIT_UNKNOWN" "$device holds chip $shown (RDID length byte ${extended%% *}), which the parts catalogue ${catalogue:-(none found beside $0 nor at $INSTALLED_CATALOGUE)} does not know; give its size and the block its 0xD8 erases with -g SIZE:ERASE; nothing was written to $target"
fi
if [ "$block_size" -gt 0 ]; then
  erases="0xD8 erases $(kib "$block_size")"
else
  erases="0xD8 erases blocks by address"
fi
if [ "$candidates" -eq 1 ]; then
  say "identify: $device holds chip $shown: $names, $(kib "$part_size"), $erases"
else
  say "identify: $device holds chip $shown, which is $names; taking what loses no data: $(kib "$part_size"), $erases"
fi
[ "$end" -le "$part_size" ] ||
  stop "$EXIT_FIT" "image $target ends past the part's last address $(hex $((part_size - 1))) ($names${size_limit:+, -c $size_limit}): its addresses would wrap; nothing was written"
[ "$last" -le "$part_size" ] ||
  stop "$EXIT_FIT" "blocks $(range "$first" "$last") of image $target end past the part's last address $(hex $((part_size - 1))); nothing was written"
[ -z "$unwritable" ] ||
  stop "$EXIT_UNWRITABLE" "$unwritable: romflash WRITE would erase and then fail to program; nothing was written to $target"
[ -z "$locked" ] ||
  stop "$EXIT_LOCKED" "$locked: every block is locked at power-up until a global unlock (0x98), which romflash cannot send: WRITE would change nothing; nothing was written to $target"
[ -z "$banked" ] ||
  say "assume: $banked, which romflash cannot read, is 0 with 3-byte addressing, as at power-up, so that addresses reach the part's first 16 MiB"
blocks=$(range "$first" "$last")
length=$((last - first))

# Block protection: a protected erase or program is dropped by the chip
# without an error, so it is settled before anything is erased. Any BP bit
# counts, whatever region it covers: the mapping differs between parts.
rf -o RDSR || stop "$EXIT_ROMFLASH" "RDSR failed on $device; nothing was written to $target"
status=$(sed -n 's/^STATUS_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
[ -n "$status" ] || stop "$EXIT_ROMFLASH" "RDSR on $device printed no status; nothing was written to $target"
bp=$(((status >> 2) & 7))
# WRR1 writes the high byte of its operand: the status with BP2..BP0 cleared
# and bits 7..5 kept (WIP and WEL are not writable).
clear_value=$(printf '0x%02X00' $((status & 0xE0)))
bp_text="BP2..BP0 = $(((bp >> 2) & 1))$(((bp >> 1) & 1))$((bp & 1)) in status $status"
if [ "$bp" -eq 0 ]; then
  protection="none"
  say "status: $status, no block protection"
elif [ -z "$unprotect" ]; then
  stop "$EXIT_PROTECTED" "blocks $blocks: block protection is set ($bp_text): the chip would drop the erase and program; nothing was erased. Run again with -u, or clear it with: romflash -d $device -o WREN; romflash -d $device -o WRR1 $clear_value; romflash -d $device -o RDSR_WIP"
else
  protection="$bp_text, would be cleared with WRR1 $clear_value"
  say "status: $protection"
fi

# Cleared once, right before the first erase, so that an update with nothing
# to write writes no register either.
clear_protection() {
  [ "$bp" -ne 0 ] || return 0
  rf -o WREN && rf -o RDSR_WEL && rf -o WRR1 "$clear_value" && rf -o RDSR_WIP && rf -o RDSR ||
    stop "$EXIT_ROMFLASH" "clearing block protection ($bp_text) failed; nothing was erased"
  after=$(sed -n 's/^STATUS_REG: \(0x[0-9A-F][0-9A-F]\)$/\1/p' "$work/out")
  [ -n "$after" ] && [ $(((after >> 2) & 7)) -eq 0 ] ||
    stop "$EXIT_PROTECTED" "block protection still set after WRR1 $clear_value (status ${after:-unread}; a write-protect pin with SRWD set?); nothing was erased"
  say "status: $bp_text, cleared, now $after"
  bp=0
}

# The journal: before the first erase, the blocks' new contents (data) and the
# plan (plan) are written into DIR/NAME.new, made durable, and committed by
# renaming it to DIR/NAME; it goes only after a byte-exact verify. A run that
# finds it finishes that update first.
journal=''
if [ -n "$journal_dir" ]; then
  journal=$journal_dir/$(printf '%s' "$device" | tr -c 'A-Za-z0-9._-' '_').journal
fi
resume=''
if [ -n "$journal" ] && [ -e "$journal" ]; then
  plan=$journal/plan
  [ "$(head -n 1 "$plan" 2>/dev/null)" = "romflash-update journal 1" ] &&
    [ "$(tail -n 1 "$plan")" = end ] && [ -r "$journal/data" ] &&
    [ "$(digest "$journal")" = "$(sed -n 's/^md5 //p' "$plan")" ] ||
    stop "$EXIT_JOURNAL" "the unfinished journal $journal is torn (its plan or its data does not match its checksum) and cannot finish its update; nothing was written. Move it away to update without it: the blocks it names may hold a partly written update"
  journal_id=$(sed -n 's/^id //p' "$plan")
  [ "$journal_id" = "$shown" ] ||
    stop "$EXIT_JOURNAL" "the unfinished journal $journal was written for chip $journal_id, but $device holds chip $shown; nothing was written. Move it away to update without it"
  resume="$(sed -n 's/^blocks //p' "$plan") from an update of $(sed -n 's/^image //p' "$plan")"
  say "journal: unfinished in $journal: blocks $resume; it is finished first"
fi

# Writes the runs of blocks that the plan in DIR names, each with one WRITE
# from the run's start (its 64 KiB erase steps erase every block of a run of
# blocks of 64 KiB or more, and it programs every byte of them), then reads
# each back and compares it byte for byte. On a failure the journal, if any,
# stays for the next run.
write_plan() {
  dir=$1
  set -- $(sed -n 's/^run //p' "$dir/plan")
  while [ $# -ge 3 ]; do
    run=$(range "$1" $(($1 + $2)))
    slice "$dir/data" "$3" "$2" >"$work/run.bin" && [ "$(bytes_of "$work/run.bin")" -eq "$2" ] ||
      stop "$EXIT_INTERNAL" "could not take blocks $run out of $dir/data; $recovery"
    say "write: blocks $run"
    rf -o WRITE "$(hex "$1")" -f "$work/run.bin" ||
      stop "$EXIT_ROMFLASH" "WRITE of $run failed (romflash exit $?); $recovery"
    # WRITE's 16-bit sum misses swapped pages and compensating errors.
    rf -o FREAD "$(hex "$1")" "$(hex "$2")" -w "$work/read.bin" &&
      [ "$(bytes_of "$work/read.bin")" -eq "$2" ] ||
      stop "$EXIT_ROMFLASH" "FREAD of $run for the verification failed; $recovery"
    cmp -l "$work/run.bin" "$work/read.bin" >"$work/differences"
    if [ -s "$work/differences" ]; then
      stop "$EXIT_MISMATCH" "verify $run: $(awk -v base="$1" '
        function octal(text,  value, i) {
          for (i = 1; i <= length(text); i++) value = value * 8 + substr(text, i, 1)
          return value
        }
        NR == 1 { at = base + $1 - 1; expected = octal($2); found = octal($3) }
        END { printf "%d bytes differ, the first at 0x%06X (flash 0x%02X, expected 0x%02X)", NR, at, found, expected }
      ' "$work/differences"); $recovery"
    fi
    say "verify: blocks $run identical"
    shift 3
  done
}

# Renamed first: a power cut while the files go leaves $journal.old, which no
# run reads, rather than a part of the journal that the next run finds torn.
forget_journal() {
  rm -rf "$journal.old" && mv "$journal" "$journal.old" && rm -rf "$journal.old" ||
    stop "$EXIT_INTERNAL" "the update is verified, but the journal $journal could not be removed: remove it by hand"
}

if [ -n "$resume" ] && [ -z "$dry_run" ]; then
  recovery="the journal $journal stays: run romflash-update again to finish it"
  clear_protection
  write_plan "$journal"
  forget_journal
  say "journal: finished and verified blocks $resume; removed"
fi

# Read the covered blocks and lay the image over them: the merged range is
# what the blocks must hold afterwards.
say "read: blocks $blocks"
rf -o FREAD "$(hex "$first")" "$(hex "$length")" -w "$work/old.bin" &&
  [ "$(bytes_of "$work/old.bin")" -eq "$length" ] ||
  stop "$EXIT_ROMFLASH" "FREAD of $blocks failed; nothing was erased"
keep_before=$((start - first))
keep_after=$((last - end))
{ head -c "$keep_before" "$work/old.bin" && cat "$image" &&
  tail -c +$((keep_before + size + 1)) "$work/old.bin"; } >"$work/new.bin" &&
  [ "$(bytes_of "$work/new.bin")" -eq "$length" ] ||
  stop "$EXIT_INTERNAL" "could not merge $image into $blocks in $work; nothing was erased"
if [ -n "$backup" ]; then
  cp "$work/old.bin" "$backup" || stop "$EXIT_USAGE" "cannot write the backup of $blocks to $backup; nothing was erased"
  say "backup: blocks $blocks saved in $backup"
fi

# Compare block by block; changed neighbours make one run, one WRITE each. A
# block under 64 KiB is a run of its own: WRITE's next 64 KiB step would miss
# the block after it.
runs='' rewritten=0 skipped=0 run_at='' run_length=0 lost_from='' lost_to=''
close_run() {
  [ -z "$run_at" ] || runs="$runs $run_at $run_length"
  run_at=''
}
joins() {
  case " $alone " in *" $1 "*) return 1 ;; esac
}
set -- $bounds
block_at=$1
shift
for block_end in "$@"; do
  block_length=$((block_end - block_at))
  if cmp -s -n "$block_length" "$work/old.bin" "$work/new.bin" $((block_at - first)) $((block_at - first)); then
    skipped=$((skipped + 1))
    close_run
  else
    rewritten=$((rewritten + 1))
    if [ -z "$run_at" ] || [ -z "$run_joins" ] || ! joins "$block_at"; then
      close_run
      run_at=$block_at run_length=0 run_joins=''
      if joins "$block_at"; then run_joins=1; fi
    fi
    run_length=$((run_length + block_length))
    lost_from=${lost_from:-$block_at} lost_to=$block_end
  fi
  block_at=$block_end
done
close_run
# What the rewritten blocks hold outside the image: lost if the power goes
# between their erase and the end of their programming, unless journalled.
lost=''
if [ -n "$lost_from" ]; then
  [ "$lost_from" -ge "$start" ] || lost="$((start - lost_from)) bytes in $(range "$lost_from" "$start")"
  [ "$lost_to" -le "$end" ] || lost="${lost:+$lost and }$((lost_to - end)) bytes in $(range "$end" "$lost_to")"
fi
tally="$rewritten blocks to rewrite, $skipped unchanged"

if [ -n "$dry_run" ]; then
  say "plan (dry run, nothing erased or written):"
  say "  part     $names, $(kib "$part_size"), $erases"
  say "  image    $target, $size bytes from $image"
  say "  blocks   $blocks: $tally$(set -- $runs; while [ $# -ge 2 ]; do printf ', WRITE %s' "$(range "$1" $(($1 + $2)))"; shift 2; done)"
  kept_before='' kept_after=''
  [ "$keep_before" -eq 0 ] || kept_before=" ($(range "$first" "$start"))"
  [ "$keep_after" -eq 0 ] || kept_after=" ($(range "$end" "$last"))"
  say "  keep     $keep_before bytes before the image$kept_before, $keep_after after it$kept_after"
  say "  protect  $protection"
  say "  change   $(cmp -l "$work/old.bin" "$work/new.bin" | wc -l | tr -d ' ') of the $length bytes in $blocks differ from the flash"
  if [ -n "$resume" ]; then
    say "  journal  unfinished in $journal: blocks $resume, finished first (the plan above is against the flash as it is now)"
  elif [ -n "$journal" ]; then
    say "  journal  $journal, written before the first erase"
  else
    say "  journal  none (-J ''): a power cut while blocks are rewritten loses ${lost:-nothing}"
  fi
  exit 0
fi
if [ "$rewritten" -eq 0 ]; then
  untouched=', nothing erased or written'
  [ -z "$resume" ] || untouched=''
  say "done: blocks $blocks already hold image $target; 0 blocks rewritten, $skipped unchanged skipped$untouched"
  exit 0
fi
say "compare: $tally"

# The plan and the new contents of the blocks it rewrites, in the journal or,
# without one, in the work directory.
plan_dir=$work/plan.d
if [ -n "$journal" ]; then plan_dir=$journal.new; fi
{ [ -z "$journal" ] || mkdir -p "$journal_dir"; } && rm -rf "$plan_dir" && mkdir "$plan_dir" ||
  stop "$EXIT_USAGE" "cannot make $plan_dir; nothing was erased. Give -J DIR on persistent storage, or -J '' to update without a journal"
{
  echo "romflash-update journal 1"
  echo "device $device"
  echo "id $shown"
  echo "image $target ($size bytes of $image)"
  echo "blocks$(set -- $runs; while [ $# -ge 2 ]; do printf ' %s' "$(range "$1" $(($1 + $2)))"; shift 2; done)"
  offset=0
  set -- $runs
  while [ $# -ge 2 ]; do
    echo "run $1 $2 $offset"
    slice "$work/new.bin" $(($1 - first)) "$2" >>"$plan_dir/data"
    offset=$((offset + $2))
    shift 2
  done
} >"$plan_dir/plan" && [ "$(bytes_of "$plan_dir/data")" -eq "$offset" ] &&
  printf 'md5 %s\nend\n' "$(digest "$plan_dir")" >>"$plan_dir/plan" ||
  stop "$EXIT_USAGE" "cannot write the plan into $plan_dir; nothing was erased. Give -J DIR on persistent storage, or -J '' to update without a journal"
if [ -n "$journal" ]; then
  sync && mv "$plan_dir" "$journal" && sync ||
    stop "$EXIT_USAGE" "cannot commit the journal $journal; nothing was erased"
  plan_dir=$journal
  recovery="the journal $journal keeps the blocks' new contents: run romflash-update again to finish"
  say "journal: the plan and $offset bytes of new contents saved in $journal"
else
  recovery="the blocks may be partly erased: their bytes outside the image are lost${backup:+ but for the copy in $backup}"
  say "journal: none (-J ''): a power cut before the verify ends loses ${lost:-nothing}${backup:+ (a copy is in $backup)}"
fi

clear_protection
write_plan "$plan_dir"
[ -z "$journal" ] || forget_journal
say "done: image $target in place; $rewritten blocks rewritten, $skipped unchanged skipped"
