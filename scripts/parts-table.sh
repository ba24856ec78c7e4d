#!/bin/sh
# SPDX-License-Identifier: MIT
# Regenerates docs/parts.md, the compatibility table: what each of romflash's
# operations (OPS below, checked against the operations table) does on every part
# of the parts catalogue, as observed by running romflash on flashsim's profile of
# that part (one fresh chip per operation), then the section
# scripts/kernel-parts-table.sh writes on the parts Linux knows.
#
#   scripts/parts-table.sh FLASHSIM ROMFLASH [OUT]       writes OUT (docs/parts.md)
#   scripts/parts-table.sh --check FLASHSIM ROMFLASH DIR  writes DIR/parts.md and
#                                                         fails, showing the diff, when
#                                                         docs/parts.md differs from it
#
# Nothing in the table is read from the catalogue but the confidence marks, from
# the marks table the build writes beside the flat table (build/update/
# catalogue.marks for build/sim/flashsim; ROMFLASH_PARTS_MARKS names another): a
# verdict that rests on a fact marked only R or NF (by the opcodes the operation
# sent) says "unverified". ROMFLASH_TABLE_JOBS parts are observed at once (2).
# ROMFLASH_TABLE_SHARE=K/N observes only every N-th part from the K-th on and, with
# --check, compares only what the table says of those parts (a test of its own each).
set -eu
LC_ALL=C
export LC_ALL

root=$(cd "$(dirname "$0")/.." && pwd)
check=
if [ "${1:-}" = --check ]; then check=1; shift; fi
[ $# -ge 2 ] || { echo "usage: $0 [--check] FLASHSIM ROMFLASH [OUT|DIR]" >&2; exit 2; }
abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
flashsim=$(abs "$1") romflash=$(abs "$2")
if [ -n "$check" ]; then out=${3:?--check needs a directory}/parts.md; else out=${3:-$root/docs/parts.md}; fi
marks=${ROMFLASH_PARTS_MARKS:-$(dirname "$flashsim")/../update/catalogue.marks}
jobs=${ROMFLASH_TABLE_JOBS:-2}
work=$(mktemp -d "${TMPDIR:-/tmp}/parts-table.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

T=0x040000                 # where every operation that takes an address works
OPS="RDID READ_ID RES RDSR RDCR WREN WRDI RDSR_WEL RDSR_WIP VSRWE WRR1 WRR2 DP READ FREAD VER CHKSUM SE4K SE8K SE32K SE BE PP WRITE"
WRITE_OPS="SE4K SE8K SE32K SE BE PP WRITE"
LIFT="-o WREN; -o WRR1 0x0000; -o RDSR_WIP"

die() { echo "parts-table: $*" >&2; exit 1; }
hex6() { printf '0x%06X' "$1"; }
kib() { if [ "$1" -ge 1048576 ] && [ $(($1 % 1048576)) -eq 0 ]; then echo "$(($1 / 1048576)) MiB"; else echo "$(($1 / 1024)) KiB"; fi; }
span() { echo "$(hex6 "$1")-$(hex6 "$2")"; }

# Romflash's steps for an operation, ';' between invocations.
steps_of() {
  case $1 in
    RDSR_WEL) echo "-o WREN; -o RDSR_WEL" ;;
    WREN) echo "-o WREN; -o RDSR" ;;
    WRDI) echo "-o WREN; -o WRDI; -o RDSR" ;;
    VSRWE) echo "-o VSRWE; -o WRR1 0x0400; -o RDSR" ;;
    WRR1) echo "-o WREN; -o WRR1 0x0000; -o RDSR_WIP; -o RDSR" ;;
    WRR2) echo "-o WREN; -o WRR2 0x0002; -o RDSR_WIP; -o RDSR" ;;
    READ | FREAD) echo "-o $1 $T 256 -w read.bin" ;;
    VER) echo "-o VER $T" ;;
    CHKSUM) echo "-o CHKSUM $T 256" ;;
    SE4K | SE8K | SE32K | SE) echo "-o WREN; -o $1 $T; -o RDSR_WIP" ;;
    BE) echo "-o WREN; -o BE" ;;
    PP) echo "-o PP $T -f image1k.bin" ;;
    WRITE) echo "-o WRITE $T -f image64k.bin" ;;
    *) echo "-o $1" ;;
  esac
}

# The range an operation means to change, "START LENGTH", or nothing.
range_of() {
  case $1 in
    SE4K) echo "$((T)) 4096" ;;
    SE8K) echo "$((T)) 8192" ;;
    SE32K) echo "$((T)) 32768" ;;
    SE) echo "$((T)) 65536" ;;
    PP) echo "$((T)) 1024" ;;
    WRITE) echo "$((T)) 65536" ;;
  esac
}

# ---- the chip and romflash ---------------------------------------------------
# Every part works in its own directory: $dir/chip is the chip, $dir the
# working directory romflash runs in.
fresh() { # fresh PROFILE [SETTING...]: a chip of zeros (sparse, so even 64 MiB is free)
  chip_profile=$1; shift
  set -- --state "$dir/chip" --profile "$chip_profile" --fill 0x00 "$@"
  "$flashsim" create "$@" >/dev/null || die "cannot create a $chip_profile chip"
}
load() { "$flashsim" load --state "$dir/chip" --offset "$1" "$2" || die "cannot load $2"; }
dump() { "$flashsim" dump --state "$dir/chip" --offset "$1" --length "$2" -o "$3" || die "cannot dump"; }
rf() { (cd "$dir" && "$flashsim" run --state "$dir/chip" --trace "$dir/trace" -- "$romflash" -d /dev/spi0 "$@"); }

# run_steps "STEPS" OUTFILE: the invocations one after the other, as `&&` would;
# sets $status.
run_steps() {
  status=0
  : > "$2"
  rest="$1;"
  while [ -n "$rest" ]; do
    step=${rest%%;*} rest=${rest#*;}
    [ -n "$step" ] || continue
    set -f
    # shellcheck disable=SC2086 # the step is a word list
    rf $step >> "$2" 2>&1 || status=$?
    set +f
    [ "$status" -eq 0 ] || return 0
  done
}

# Whether the part answers as it did when fresh: "awake", "asleep" (RES wakes it),
# "deaf" (only a power cycle helps) or "dead".
answer_state() {
  rf -o RDID > "$dir/probe" 2>&1 || true
  if cmp -s "$dir/probe" "$dir/rdid.ref"; then echo awake; return; fi
  rf -o RES > /dev/null 2>&1 || true
  rf -o RDID > "$dir/probe" 2>&1 || true
  if cmp -s "$dir/probe" "$dir/rdid.ref"; then echo asleep; return; fi
  "$flashsim" power-cycle --state "$dir/chip" || die "cannot power-cycle"
  rf -o RDID > "$dir/probe" 2>&1 || true
  if cmp -s "$dir/probe" "$dir/rdid.ref"; then echo deaf; else echo dead; fi
}

# ---- what changed in the array -----------------------------------------------
# Runs of changed bytes between two dumps taken at BASE, outside [SKIP, SKIP+LEN):
# "FIRST LAST erased|written" a line.
changed_runs() {
  cmp -l "$1" "$2" 2>/dev/null | awk -v base="$3" -v slo="$4" -v shi="$(($4 + $5))" '
    { a = base + $1 - 1; if (a >= slo && a < shi) next
      kind = $3 == 377 ? "erased" : "written"
      if (n && a == hi + 1 && kind == k) { hi = a; next }
      if (n) print lo, hi, k
      lo = a; hi = a; k = kind; n = 1 }
    END { if (n) print lo, hi, k }'
}

# What a range holds against what was meant: "as-meant", "unchanged", "blank",
# "first-bytes" (only the first byte of every 256-byte page is right, the rest FF)
# or "partly N" (N bytes right).
range_state() { # AFTER MEANT BEFORE LENGTH
  if cmp -s "$1" "$2"; then echo as-meant; return; fi
  if cmp -s "$1" "$3"; then echo unchanged; return; fi
  if cmp -s -n "$4" "$1" "$work/ff64k.bin"; then echo blank; return; fi
  cmp -l "$1" "$2" | awk -v total="$4" '
    { wrong++; if (($1 - 1) % 256 == 0 || $2 != 377) other = 1 }
    END { if (!other && wrong == total - int((total + 255) / 256)) print "first-bytes"; else print "partly", total - wrong }'
}

# ---- the confidence marks ----------------------------------------------------
# The facts an operation rests on, by the first byte of every message it sent
# (and KEYs its result shows besides), that have no source better than R or NF:
# "what (MARKS)" a line, or nothing.
unverified() { # PROFILE TRACE [KEY...]
  fact_profile=$1 trace=$2
  shift 2
  awk -v p="$fact_profile" -v shown="$*" '
    FILENAME == ARGV[1] { if ($1 == p) { m = $3; for (i = 4; i <= NF; i++) m = m " " $i; marks[$2] = m }; next }
    /^msg / { want = 1; next }
    want && /^  seg / { want = 0; if ($3 != "tx") next; o = $4
      if (o == "9F") { key["jedec"]; key["ext"] } else if (o == "90") key["rems"]; else if (o == "AB") key["res"]
      else if (o == "35") key["op35"]; else if (o == "50") key["op50"]; else if (o == "B9") key["opB9"]
      else if (o == "01") { key["wrr1"]; if ($2 == 3) key["wrr2"] }
      else if (o == "02") { key["program"]; key["status"]; key["lock"] }
      else if (o ~ /^(20|40|52|D8|60|C7)$/) { key["erase" o]; key["status"]; key["lock"] } }
    END {
      n = split(shown, extra, " "); for (i = 1; i <= n; i++) key[extra[i]]
      what["jedec"] = "the JEDEC ID"; what["ext"] = "the bytes after the ID"
      what["rems"] = "the answer to 90h"; what["res"] = "the answer to ABh"
      what["status"] = "the status at power-up"; what["lock"] = "the protection at power-up"
      what["config"] = "the second register at power-up"; what["program"] = "the program mode"
      what["wrr1"] = "what the first WRR byte writes"; what["wrr2"] = "what the second WRR byte writes"
      what["op35"] = "what 35h does"; what["op50"] = "what 50h does"; what["opB9"] = "what B9h does"
      for (k in key) {
        if (!(k in marks) || marks[k] ~ /(^| )(DS|DSf|DSs|K|FR|Q|UF|VC|CM)( |$)/) continue
        print (k in what ? what[k] : "what " substr(k, 6) "h erases") " (" marks[k] ")" } }' "$work/marks" "$trace" | sort
}

# ---- the commands flashsim models ----------------------------------------------
# The opcodes the part's profile (the chip's profile.txt) makes flashsim answer, as one
# line of the part's section.
modelled() { # PROFILE.TXT
  awk -F= '{ v[$1] = $2 }
    function on(key, absent) { return (key in v) && v[key] != absent }
    function add(group, text) { g[group] = g[group] " " text }
    END {
      add("reads", "03 0B 9F"); if (on("op4B", "absent")) add("reads", "13 0C")
      if (on("rems", "absent")) add("reads", "90"); if (on("res", "absent")) add("reads", "AB")
      if (v["sfdp"] == "yes") add("reads", "5A")
      add("programs", "02 (" v["program"] ")"); if (on("op4B", "absent")) add("programs", "12")
      if (v["opAD"] == "aai-word") add("programs", "AD (AAI word, 04 ends it)")
      split("20 21 40 - 52 5C D8 DC 60 - C7 -", four, " ")
      for (i = 1; i <= 11; i += 2) if (on("erase" four[i], "absent")) {
        add("erases", four[i] " (" v["erase" four[i]] ")")
        if (four[i + 1] != "-" && on("op4B", "absent")) add("erases", four[i + 1])
      }
      add("registers", "05 01"); if (on("op35", "absent")) add("registers", "35 (" v["op35"] ")")
      if (on("op31", "absent")) add("registers", "31"); if (on("op15", "absent")) add("registers", "15 (" v["op15"] ")")
      if (on("op11", "absent")) add("registers", "11"); if (on("op50", "absent")) add("registers", "50 (" v["op50"] ")")
      if (on("op70", "absent")) add("registers", "70"); if (v["lock"] == "global") add("registers", "98")
      if (v["opB9"] == "bank-access") add("addressing", "B9 (BRAC)")
      if (v["bankreg"] == "brrd-brwr") add("addressing", "16 17"); else if (on("bankreg", "absent")) add("addressing", "C8 C5")
      if (on("opB7", "absent")) add("addressing", "B7 E9")
      if (v["opB9"] == "deep-power-down") add("power", "B9 AB")
      n = split("reads programs erases registers addressing power", order, " ")
      for (i = 1; i <= n; i++) if (order[i] in g) out = out (out == "" ? "" : ";") " " order[i] g[order[i]]
      print "flashsim models:" out "." }' "$1"
}

# ---- one operation -------------------------------------------------------------
# observe OP [STEPS-BEFORE]: a fresh chip of $profile, the steps before (if any),
# the operation; sets $verdict and $words.
observe() {
  op=$1 before=${2:-}
  fresh "$profile"
  case $op in
    READ | FREAD | CHKSUM) load "$T" "$work/pattern.bin" ;;
    VER) load "$T" "$work/version.bin" ;;
    PP) load "$T" "$work/ff64k.bin" ;;
  esac
  [ -z "$before" ] || run_steps "$before" "$dir/before.out"
  set -- $(range_of "$op")
  start=${1:-0} length=${2:-0}
  win_lo=$((start > 262144 ? start - 262144 : 0))
  win_hi=$((start + length + 262144 < size ? start + length + 262144 : size))
  [ "$length" -eq 0 ] || dump "$win_lo" $((win_hi - win_lo)) "$dir/win.before"
  rm -f "$dir/trace"
  run_steps "$(steps_of "$op")" "$dir/op.out"
  cp "$dir/trace" "$dir/op.trace" 2>/dev/null || : > "$dir/op.trace"
  # The output as lines (progress updates start with a carriage return), blanks squeezed.
  text=$(awk 'BEGIN { RS = "[\r\n]" } { gsub(/  +/, " "); sub(/^ /, ""); if ($0 != "") print }' "$dir/op.out")
  last=${text##*
}
  case $op in
    BE) "$flashsim" run --state "$dir/chip" -- sleep 1000 || die "cannot let the chip erase" ;;  # longer than any chip erase
  esac
  [ "$length" -eq 0 ] || dump "$win_lo" $((win_hi - win_lo)) "$dir/win.after"
  state=$(answer_state)
  verdict=safe words=
  judge
  case $state in
    asleep) [ "$op" = DP ] || { verdict=fails; words="$words; afterwards the part sleeps until RES"; } ;;
    deaf) verdict="bricks until power-off"; words="$words; afterwards the part answers no command (RDID reads FF) until it is powered off" ;;
    dead) verdict="bricks until power-off"; words="$words; afterwards the part answers nothing, even after a power cycle" ;;
  esac
  shown=
  case $op:$state in RDSR:*) shown=status ;; RDCR:awake) shown=config ;; esac
  # shellcheck disable=SC2086 # no key or one
  flaw=$(unverified "$profile" "$dir/op.trace" $shown | paste -sd, - | sed 's/,/, /g')
  if [ -n "$flaw" ]; then verdict="$verdict (unverified)"; words="$words. Unverified: $flaw"; fi
}

# The value romflash printed for a register (STATUS_REG, CONFIG_REG) in $text.
register() { printf '%s\n' "$text" | sed -n "s/^$1: //p"; }

# Puts words to what observe saw ($op, $status, $text, the dumps); sets $verdict, $words.
judge() {
  case $op in
    RDID)
      id=$(printf '%s\n' "$text" | sed -n 's/^MANUF_ID: //p; s/^DEVICE_ID: //p' | paste -sd' ' -)
      more=$(printf '%s\n' "$text" | grep -c '^0x' || true)
      case $id in
        "0xFF 0xFFFF") verdict=fails words="reads FF: no ID" ;;
        *) words="answers MANUF_ID ${id% *}, DEVICE_ID ${id#* }"
           [ "$more" -eq 0 ] || words="$words, then $(printf '%s\n' "$text" | grep '^0x' | awk '{n += NF - 1} END {print n - 4}') more ID bytes" ;;
      esac ;;
    READ_ID | RES)
      got=$(printf '%s\n' "$text" | sed -n 's/.*_ID: //p; s/.*EL-SIG: //p' | paste -sd' ' -)
      manuf=$(sed -n 's/^MANUF_ID: //p' "$dir/rdid.ref")
      case " $got " in
        *" 0xFF "*) verdict=fails words="reads FF: the part does not answer it" ;;
        *) words="answers $got"
           if [ "$op" = RES ] && [ "$got" = "$manuf" ]; then words="$words: the manufacturer byte, not a device signature"; fi ;;
      esac ;;
    RDSR)
      v=$(register STATUS_REG)
      words="reads $v"
      [ $((v & 0x1C)) -eq 0 ] || words="$words: block protection set" ;;
    RDCR)
      v=$(register CONFIG_REG)
      words="reads $v"
      if [ "$v" = 0xFF ] && [ "$state" = awake ]; then verdict=fails words="reads 0xFF: the part has no such register"; fi ;;
    WREN | WRDI)
      v=$(register STATUS_REG)
      want=2; [ "$op" = WREN ] || want=0
      if [ $((v & 2)) -eq "$want" ]; then words="works: status $v after it"; else verdict=fails words="status $v after it: the latch did not follow"; fi ;;
    RDSR_WEL | RDSR_WIP)
      if [ "$status" -eq 0 ]; then words=works; else verdict=fails words="$last (exit $status)"; fi ;;
    VSRWE)
      v=$(register STATUS_REG)
      "$flashsim" power-cycle --state "$dir/chip"
      after=$(rf -o RDSR 2>&1 | sed -n 's/^STATUS_REG: //p')
      if [ $((v & 0x04)) -ne 0 ] && [ "$v" != "$powerup" ]; then
        words="the WRR1 0x0400 after it needs no WREN: status $v at once"
        if [ "$after" = "$powerup" ]; then words="$words, $after again after a power cycle"; else words="$words, kept through a power cycle"; fi
      else verdict=fails words="the WRR1 0x0400 after it is ignored (status stays $v)"; fi ;;
    WRR1 | WRR2)
      v=$(register STATUS_REG)
      if [ "$status" -ne 0 ]; then verdict=fails words="$last (exit $status)"
      else words="status $powerup before, $v after"; fi
      if [ "$op" = WRR2 ]; then
        second=$("$flashsim" regs --state "$dir/chip" | sed -n 's/^config: //p')
        case $second in
          none) words="$words; the second byte is ignored (no second register)" ;;
          0x02) words="$words; the second byte (0x02) is written to the second register" ;;
          *) words="$words; the second byte is ignored (second register $second)" ;;
        esac
      fi ;;
    DP) judge_dp ;;
    READ | FREAD)
      if cmp -s "$dir/read.bin" "$work/pattern.bin"; then words="works"
      else verdict=fails words="returns other data than the flash holds"; fi ;;
    VER)
      if [ "$text" = "$(cat "$work/version.bin")" ]; then words="works"; else verdict=fails words="prints \"$text\""; fi ;;
    CHKSUM)
      if [ "$text" = "$sum" ]; then words="works"; else verdict=fails words="prints $text, the range sums to $sum"; fi ;;
    BE)
      if [ "$("$flashsim" dump --state "$dir/chip" | tr -d '\377' | head -c 1 | wc -c)" -eq 0 ]; then
        words="erases the whole chip"
      elif [ "$("$flashsim" dump --state "$dir/chip" | tr -d '\000' | head -c 1 | wc -c)" -eq 0 ]; then
        verdict=fails words="ignored, nothing erased; romflash reports success"
      else verdict=fails words="erases only part of the chip"; fi ;;
    SE4K | SE8K | SE32K | SE | PP | WRITE) judge_range ;;
  esac
}

judge_dp() {
  if [ "$state" = asleep ]; then words="the part sleeps: it answers nothing (RDID reads FF) until RES wakes it"; return; fi
  verdict=fails words="ignored: the part keeps answering, it has no deep power-down"
  # What a status write right after it does: on some parts B9h arms another register.
  fresh "$profile"
  load "$T" "$work/pattern.bin"
  run_steps "-o DP; -o WREN; -o WRR1 0x8000; -o RDSR_WIP; -o READ $T 256 -w read.bin" "$dir/dp.out"
  if ! cmp -s "$dir/read.bin" "$work/pattern.bin"; then
    words="not a power-down: the WRR1 0x8000 that follows (after WREN) goes to another register, and every later READ returns other data until power-off"
  fi
}

judge_range() {
  meant=$work/image64k.bin before_range=$work/zero64k.bin
  case $op in
    SE*) head -c "$length" "$work/ff64k.bin" > "$dir/meant"; meant=$dir/meant ;;
    PP) meant=$work/image1k.bin before_range=$work/ff1k.bin ;;
  esac
  tail -c +$((start - win_lo + 1)) "$dir/win.after" | head -c "$length" > "$dir/range.after"
  head -c "$length" "$before_range" > "$dir/range.before"
  got=$(range_state "$dir/range.after" "$meant" "$dir/range.before" "$length")
  runs=$(changed_runs "$dir/win.before" "$dir/win.after" "$win_lo" "$start" "$length")
  lost=$(printf '%s\n' "$runs" | awk '$3 == "erased" { n += $2 - $1 + 1 } END { print n + 0 }')
  where=$(printf '%s\n' "$runs" | awk 'NF { printf "%s0x%06X-0x%06X %s", sep, $1, $2, $3; sep = ", " }')
  region=$(span "$start" $((start + length - 1)))
  case $op in
    SE*) case $got in
        as-meant) words="works: erases $region" ;;
        unchanged) verdict=fails words="ignored, nothing erased; romflash reports success" ;;
        *) verdict=fails words="erases only part of $region" ;;
      esac ;;
    *) case $got in
        as-meant) [ "$status" -eq 0 ] && words="works" || { verdict=fails words="the data is in place, yet romflash fails: $last"; } ;;
        unchanged) verdict=fails words="nothing erased or written; the verification fails (exit $status)" ;;
        first-bytes) verdict=fails words="only the first byte of every 256-byte page is programmed; the verification fails (exit $status)" ;;
        blank) verdict=fails words="the range is erased, then nothing is programmed; the verification fails (exit $status)" ;;
        partly*) verdict=fails words="$(( length - ${got#partly } )) of $length bytes wrong; the verification $( [ "$status" -eq 0 ] && echo passes || echo "fails (exit $status)")" ;;
      esac
      case $op:$got in
        WRITE:first-bytes) words="the sectors are erased, then the verification fails: the range is left blank but for the first byte of every 256-byte page (exit $status)" ;;
      esac ;;
  esac
  if [ -n "$runs" ]; then
    verdict="data loss outside the range"
    whole=$(printf '%s\n' "$runs" | awk -v lo="$start" -v hi=$((start + length - 1)) '
      { if ($1 < lo) lo = $1; if ($2 > hi) hi = $2; if ($3 != "erased") w = 1 }
      END { printf "0x%06X-0x%06X %d", lo, hi, w }')
    set -- $whole
    if [ "$2" -eq 1 ] || [ "$got" != as-meant ]; then
      words="$words; outside $region it also changes $where"
    elif [ "$op" = WRITE ]; then
      words="WRITE of a 64 KiB image at $(hex6 "$start") erases $1: $(kib "$lost") outside the image lost"
    else
      words="erases $1: $(kib "$lost") outside the range lost"
    fi
  fi
}

# ---- one part ------------------------------------------------------------------
# observe_part PROFILE NAME SIZE "JEDEC": writes $work/PROFILE.md and .summary.
observe_part() {
  profile=$1 name=$2 size=$3 jedec=$4
  dir=$work/$profile
  mkdir -p "$dir"
  ln -s "$work/image64k.bin" "$work/image1k.bin" "$dir/"
  fresh "$profile"
  rf -o RDID > "$dir/rdid.ref" 2>&1 || true
  powerup=$(rf -o RDSR 2>&1 | sed -n 's/^STATUS_REG: //p')
  rows=$dir/rows
  : > "$rows"
  for op in $OPS; do
    observe "$op"
    echo "| $verdict | $op | $words |" >> "$rows"
    printf '%s|%s\n' "$verdict" "$words" > "$dir/seen.$op"
  done
  # A part whose writes do nothing at power-up: the same with the protection lifted
  # by romflash's own WREN + WRR1 0x0000.
  lifted= lock_note=
  case $(cat "$dir/seen.WRITE") in
    fails*"nothing erased or written"*)
      lock_note="and nothing changes the array: WRITE fails, nothing erased or written."
      differs=
      for op in $WRITE_OPS; do
        observe "$op" "$LIFT"
        [ "$verdict|$words" = "$(cat "$dir/seen.$op")" ] || differs=1
        lifted="$lifted| $verdict | $op after WREN + WRR1 0x0000 | $words |
"
      done
      if [ -n "$differs" ]; then
        lock_note="$lock_note WREN + WRR1 0x0000 lifts that: the write operations are shown both ways below."
      else
        lock_note="$lock_note WREN + WRR1 0x0000 does not lift that: romflash cannot write this part."
        lifted=
      fi ;;
  esac
  boot=
  if [ "$size" -gt 16777216 ]; then boot=$(observe_boot_loader); fi
  {
    echo "## $name"
    echo
    echo "Profile \`$profile\`, $(kib "$size"), JEDEC ID $jedec."
    printf 'At power-up the status register reads %s' "$powerup"
    [ $((powerup & 0x1C)) -eq 0 ] || printf ' (block protection set)'
    printf ' %s\n' "${lock_note:-and WRITE works.}"
    modelled "$dir/chip/profile.txt"
    echo
    echo "| verdict | operation | what happens |"
    echo "|---|---|---|"
    cat "$rows"
    printf '%s' "$lifted"
    if [ -n "$boot" ]; then echo; printf '%s\n' "$boot"; fi
    echo
  } > "$work/$profile.md"
  {
    printf '| %s | `%s` | %s | %s |' "$name" "$profile" "$(kib "$size")" "$jedec"
    for v in "bricks until power-off" "data loss outside the range" fails; do
      list=$(awk -F'|' -v v="$v" '{ x = $2; gsub(/^ +| +$/, "", x); sub(/ [(]unverified[)]$/, "", x)
        o = $3; gsub(/ /, "", o); if (x == v) print o }' "$rows" | paste -sd, - | sed 's/,/, /g')
      printf ' %s |' "${list:--}"
    done
    echo
  } > "$work/$profile.summary"
}

# AT SETTING: what a WRITE of 64 KiB at AT programs outside its range, as a clause, on an
# erased chip (a chip of zeros hides programming) made with SETTING: a WRITE that lands
# elsewhere destroys data there.
outside() {
  "$flashsim" create --state "$dir/chip" --profile "$profile" --fill 0xFF --set "$2" >/dev/null ||
    die "cannot create a $profile chip"
  run_steps "-o WRITE $1 -f image64k.bin" "$dir/boot.out"
  dump 0 "$size" "$dir/chip.after"
  head -c "$size" /dev/zero | tr '\0' '\377' | cmp -l - "$dir/chip.after" | awk -v lo=$(($1)) -v hi=$(($1 + 65536)) '
    { at = $1 - 1 } at < lo || at >= hi { bytes++; if (!(int(at / 256) in page)) pages++; page[int(at / 256)] }
    END { if (bytes) printf ", and it programs %d bytes in %d 256-byte pages outside the range: data loss outside the range", bytes, pages }'
  rm -f "$dir/chip.after"
}

# Parts above 16 MiB: what a boot loader's bank register or 4-byte mode does.
observe_boot_loader() {
  echo "Left by a boot loader (the part reaches 16 MiB with 3-byte addresses):"
  echo
  for setting in bank=1 addr4=1; do
    fresh "$profile" --set "$setting"
    load "$T" "$work/pattern.bin"
    load $((T + 16777216)) "$work/other.bin"
    run_steps "-o READ $T 256 -w read.bin" "$dir/boot.out"
    if cmp -s "$dir/read.bin" "$work/pattern.bin"; then r="READ $T returns its data"
    elif cmp -s "$dir/read.bin" "$work/other.bin"; then r="READ $T returns the data at $(hex6 $((T + 16777216)))"
    else r="READ $T returns other data"; fi
    fresh "$profile" --set "$setting"
    run_steps "-o WRITE $T -f image64k.bin" "$dir/boot.out"
    dump "$T" 65536 "$dir/range.after"
    if [ $((T + 16777216 + 65536)) -le "$size" ]; then dump $((T + 16777216)) 65536 "$dir/range.far"; else : > "$dir/range.far"; fi
    if cmp -s "$dir/range.after" "$work/image64k.bin"; then w="WRITE $T works"
    elif cmp -s "$dir/range.far" "$work/image64k.bin"; then w="WRITE $T reports success ($status) but writes $(span $((T + 16777216)) $((T + 16777216 + 65535))), and $T keeps its old data"
    else w="WRITE $T fails (exit $status) and the image is nowhere in place$(outside "$T" "$setting")"; fi
    echo "- \`flashsim create --set $setting\`: $r; $w."
  done
}

# ---- the table -----------------------------------------------------------------
awk 'BEGIN { while (n < 65536) { s = sprintf("romflash parts table image, line %05d\n", i++); printf "%s", s; n += length(s) } }' |
  head -c 65536 > "$work/image64k.bin"
head -c 1024 "$work/image64k.bin" > "$work/image1k.bin"
head -c 256 "$work/image64k.bin" > "$work/pattern.bin"
tail -c 256 "$work/image64k.bin" > "$work/other.bin"
head -c 65536 /dev/zero > "$work/zero64k.bin"
head -c 65536 /dev/zero | tr '\0' '\377' > "$work/ff64k.bin"
head -c 1024 "$work/ff64k.bin" > "$work/ff1k.bin"
printf 'romflash 1.0' > "$work/version.bin"
sum=$(od -An -tu1 -v "$work/pattern.bin" | awk '{ for (i = 1; i <= NF; i++) s += $i } END { printf "%04X\n", s % 65536 }')
cp "$marks" "$work/marks" || die "no marks table $marks: build the parts tables first"
"$flashsim" profiles > "$work/profiles" || die "flashsim profiles failed"
# The catalogue's parts; those imported from Linux have their own section, below.
parts=$(awk '!/[(]simulator model[)]|[(]Linux.s table[)]/ { print $1 }' "$work/profiles")
[ -n "$parts" ] || die "no parts"
share=${ROMFLASH_TABLE_SHARE:-1/1}
case $share in
  [1-9]/[1-9] | [1-9]/[1-9][0-9] | [1-9][0-9]/[1-9][0-9]) ;;
  *) die "ROMFLASH_TABLE_SHARE is K/N, not $share" ;;
esac
[ "$share" = 1/1 ] || [ -n "$check" ] || die "ROMFLASH_TABLE_SHARE: a share of the table is only checked, never written"
parts=$(printf '%s\n' $parts | awk -v k="${share%/*}" -v n="${share#*/}" '(NR - 1) % n == k - 1')
[ -n "$parts" ] || die "no part in share $share"
# The names of the parts observed, as the table's headings and rows spell them.
names=" $(echo "$parts" | awk 'NR == FNR { share[$1] = 1; next } $1 in share { printf "%s ", $8 }' - "$work/profiles")"

worker=0
while [ "$worker" -lt "$jobs" ]; do
  worker=$((worker + 1))
  (
    k=0
    for name in $parts; do
      k=$((k + 1))
      [ $(((k - 1) % jobs + 1)) -eq "$worker" ] || continue
      # shellcheck disable=SC2046 # the profile's line, word by word
      set -- $(awk -v p="$name" '$1 == p' "$work/profiles")
      observe_part "$name" "$8" $(($2 * 1024)) "$5 $6 $7"
    done
  ) &
  pids="${pids:-} $!"
done
for pid in $pids; do wait "$pid" || die "observing the parts failed"; done
# The section on the parts Linux knows goes with the first share.
: > "$work/kernel.md"
if [ "${share%/*}" = 1 ]; then
  "$root/scripts/kernel-parts-table.sh" "$flashsim" "$romflash" > "$work/kernel.md" ||
    die "the section on the parts Linux knows failed"
  names="$names Parts Linux knows "
fi

{
  cat <<'EOF'
# What romflash's operations do on real parts

Generated by `scripts/parts-table.sh` from flashsim's profiles of the parts in
`parts/catalogue.txt`; do not edit by hand. Each operation ran as the real romflash
on a fresh simulated chip holding zeros (the range a PP programs erased first, and 256
bytes of data at 0x040000 for the reads), as below. The simulator follows what the
datasheets say of each part; where a verdict rests on a fact found nowhere or only
recalled (the catalogue's marks NF, not found, and R, recalled), it says
**unverified** and names the fact: check it on a board before relying on it.

Verdicts: **safe** — does what it says; **fails** — does not do what it says (romflash
may still report success: read the words); **data loss outside the range** — changes
flash outside what the operation names; **bricks until power-off** — the part answers
no further command until it is powered off.

Each part's section names the commands flashsim answers for it, by opcode. Not
modelled on any part: the quad and QPI protocols themselves (where 35h enters them, on
MX25L, IS25LP and Micron, the model ignores every single-wire command after it; 38h on
SST26 and GD25Q is ignored; F5h or FFh leaves in that protocol), dual and quad reads,
suspend and resume, one-time-programmable and security registers, software reset
(66h, 99h, F0h), Micron's 9Eh (an RDID of its own), S25FL-S AutoBoot (14h, 15h), its
07h (status register 2: suspend bits) and 30h (clears error bits the model never sets),
SST26 block-protection registers (72h, 42h, E8h) and W25Q individual block locks
(36h, 39h, 3Dh): none of them changes the main array or how addresses are taken.

| operation | as run (each `romflash -d DEVICE` plus) |
|---|---|
EOF
  for op in $OPS; do printf '| %s | `%s` |\n' "$op" "$(steps_of "$op" | sed 's/; /` then `/g')"; done
  echo
  echo "## Overview"
  echo
  echo "| part | profile | size | JEDEC ID | bricks until power-off | data loss outside the range | fails |"
  echo "|---|---|---|---|---|---|---|"
  for p in $parts; do cat "$work/$p.summary"; done
  echo
  for p in $parts; do cat "$work/$p.md"; done
  cat "$work/kernel.md"
} > "$work/parts.md"
mkdir -p "$(dirname "$out")"
mv "$work/parts.md" "$out"
# A table of a share of the parts: the rest, then only those parts' overview rows and sections.
parts_of_share() {
  awk -v keep="$names" '
    BEGIN { on = 1 }
    /^## / { name = substr($0, 4); overview = name == "Overview"; on = overview || index(keep, " " name " ") }
    overview && /^[|] [^|]* [|] `/ { name = $2; if (!index(keep, " " name " ")) next }
    on' FS=' *[|] *' "$1"
}
if [ -n "$check" ]; then
  parts_of_share "$root/docs/parts.md" > "$work/expected.md"
  diff -u "$work/expected.md" "$out" || { echo "parts-table: docs/parts.md differs from a fresh run (above, share $share); regenerate it with scripts/parts-table.sh" >&2; exit 1; }
fi
