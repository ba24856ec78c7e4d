# SPDX-License-Identifier: MIT
# romflash-update's planner: from the candidate parts (what the catalogue
# lookup and -g say the chip may be) and the image's range, what the update may
# assume and which erase blocks it covers.
#   awk -v start=ADDRESS -v end=ADDRESS [-v limit=SIZE] [-v changed="AT ..."] \
#     -f plan.awk CANDIDATES
# CANDIDATES: one line per candidate, tab-separated NAME SIZE ERASE PROGRAM LOCK
# BANKS (catalogue.awk adds columns of its own after these; the planner reads
# the first six), sizes in bytes, ERASE the block 0xD8 erases ("65536"), a map from
# address 0 upward ("8192*4 32768 65536*30 32768 8192*4") or "absent".
# Prints "KEY VALUE" lines, every key once, in this order:
#   candidates  how many candidates        names       them, for the messages
#   part_size   the size taken             block_size  the uniform block, -1 for a map
#   refuse      STATUS MESSAGE: the update's exit status and why, when it cannot
#   assume      registers taken as at power-up, which romflash cannot read
#   first last  the covered blocks' range
#   bounds      every block boundary from first to last
#   alone       blocks under 64 KiB, each rewritten on its own
# and, with changed (the covered blocks that differ from the flash, by
# address), the runs that rewrite them:
#   runs        AT:LENGTH of each run, one WRITE each
#   blocks      the runs' ranges, for the journal and the messages
#   run         AT LENGTH OFFSET, one line per run: where the journal's data
#               holds its contents
#   rewritten   how many blocks change        skipped  how many do not
#   lost        the bytes outside the image that a power cut would lose
#               between a run's erase and the end of its programming
# Where several candidates remain, each fact is taken as the one that loses no
# data: the smallest size, the erase blocks that hold every candidate's block
# (boundaries common to all), any candidate's refusal. first, last, bounds and
# alone stay empty unless the range fits the part and WRITE can program it.
BEGIN { FS = "\t" }
function add(name, size, erase,  n, i, j, at, times, blocks, term) {
  names[++count] = name
  sizes[count] = size
  if (erase ~ /\*| /) {  # a block map from address 0 upward
    uniform[count] = 0
    n = split(erase, blocks, " ")
    at = 0
    for (i = 1; i <= n; i++) {
      times = split(blocks[i], term, "*") > 1 ? term[2] : 1
      for (j = 0; j < times; j++) boundary[count, at += term[1]] = 1
    }
  } else uniform[count] = erase + 0
}
function bound(c, at) { return uniform[c] ? at % uniform[c] == 0 : !at || (c, at) in boundary }
function common(at,  c) {
  for (c = 1; c <= count; c++) if (!bound(c, at)) return 0
  return 1
}
# How WRITE, erasing in 64 KiB steps from a run's start, can rewrite the
# block FROM..TO: 2 in a run of such blocks (every candidate's blocks in it
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
function refusals(name, erase, program, lock, banks) {
  if (erase == "absent") unwritable = unwritable "; " name ": it has no 0xD8 erase"
  else if (program == "byte") unwritable = unwritable "; " name ": its page program (0x02) programs one byte"
  if (lock == "global") locked = locked ", " name
  if (banks == "bar") banked = banked ", " name "'s bank address register"
  if (banks == "ear") banked = banked ", " name "'s extended address register"
}
NF >= 3 {
  add($1, $2 + 0, $3 == "absent" ? 0 : $3)
  refusals($1, $3, $4, $5, $6)
}
# The covered blocks: outward from the range to boundaries common to every
# candidate, and every common boundary between.
function blocks(  at, from, fit) {
  for (first = start - start % 4096; !common(first); first -= 4096) continue
  for (last = end + (4096 - end % 4096) % 4096; !common(last) && last <= largest_size; last += 4096)
    continue
  for (at = first; at <= last; at += 4096) {
    if (!common(at)) continue
    if (at > first && !(fit = writable(from, at)))
      unwritable = unwritable "; " list ": 0xD8 erases blocks under 64 KiB in " \
        sprintf("0x%06X-0x%06X", from, at - 1) ", which WRITE's 64 KiB erase steps miss"
    if (at > first && fit == 1) alone = alone " " from
    bounds = bounds " " at
    from = at
  }
}
# Changed neighbours make one run; a block under 64 KiB (alone) is a run of
# its own: WRITE's next 64 KiB step would miss the block after it.
function set(list, members,  n, i, words) {
  n = split(list, words, " ")
  for (i = 1; i <= n; i++) members[words[i]] = 1
}
function runs(  n, i, at, is, solo, open, starts, lengths, count, from, upto, out, rewritten, skipped,
  offset) {
  set(changed, is)
  set(alone, solo)
  n = split(bounds, at, " ")
  for (i = 1; i < n; i++) {
    if (!(at[i] in is)) { skipped++; open = 0; continue }
    rewritten++
    if (!open || starts[count] in solo || at[i] in solo) { starts[++count] = at[i]; open = 1 }
    lengths[count] += at[i + 1] - at[i]
    if (from == "") from = at[i]
    upto = at[i + 1]
  }
  for (i = 1; i <= count; i++) out = out (i > 1 ? " " : "") starts[i] ":" lengths[i]
  print "runs " out
  printf "blocks"
  for (i = 1; i <= count; i++) printf " 0x%06X-0x%06X", starts[i], starts[i] + lengths[i] - 1
  for (i = 1; i <= count; i++) printf "\nrun %d %d %d", starts[i], lengths[i], offset += lengths[i - 1]
  print ""
  printf "rewritten %d\nskipped %d\nlost ", rewritten, skipped
  if (from != "" && from < start) printf "%d bytes in 0x%06X-0x%06X", start - from, from, start - 1
  if (from != "" && from < start && upto > end) printf " and "
  if (upto != "" && upto > end) printf "%d bytes in 0x%06X-0x%06X", upto - end, end, upto - 1
  print ""
}
# The first reason to refuse, as "STATUS MESSAGE" with romflash-update's exit
# statuses (8 does not fit, 9 WRITE cannot program it, 10 locked).
function refusal(size, list,  target, last_address) {
  target = sprintf("0x%06X-0x%06X", start, end - 1)
  last_address = sprintf("the part's last address 0x%06X", size - 1)
  if (end > size)
    return "8 image " target " ends past " last_address " (" list (limit ? ", -c " limit : "") \
      "): its addresses would wrap; nothing was written"
  if (last > size)
    return sprintf("8 blocks 0x%06X-0x%06X of image %s end past %s; nothing was written", first,
      last - 1, target, last_address)
  if (unwritable != "")
    return "9 " substr(unwritable, 3) ": romflash WRITE would erase and then fail to program; " \
      "nothing was written to " target
  if (locked != "")
    return "10 " substr(locked, 3) ": every block is locked at power-up until a global unlock " \
      "(0x98), which romflash cannot send: WRITE would change nothing; nothing was written to " target
}
END {
  size = 0
  largest = 0
  for (c = 1; c <= count; c++) {
    list = list (c > 1 ? (c < count ? ", " : " or ") : "") names[c]
    if (!size || sizes[c] < size) size = sizes[c]
    if (sizes[c] > largest_size) largest_size = sizes[c]  # bounds the search below
    if (!uniform[c]) largest = -1
    else if (largest >= 0 && uniform[c] > largest) largest = uniform[c]
  }
  if (limit && limit < size) size = limit
  first = last = ""
  if (count && end <= size && unwritable == "") blocks()
  printf "candidates %d\nnames %s\npart_size %d\nblock_size %d\n", count, list, size, largest
  printf "refuse %s\nassume %s\n", count ? refusal(size, list) : "", substr(banked, 3)
  bounds = substr(bounds, 2)
  alone = substr(alone, 2)
  printf "first %s\nlast %s\nbounds %s\nalone %s\n", first, last, bounds, alone
  if (first != "") runs()
}
