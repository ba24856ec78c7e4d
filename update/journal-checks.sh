# SPDX-License-Identifier: MIT
# romflash-update's journal checks, sourced by the script: a journal is used
# only where it survives a reboot and only when nobody but the running user can
# have written it, and every refusal names an unfinished journal it found.
# shellcheck shell=sh disable=SC3043,SC2154,SC2034  # locals; the script's settings in, its state out

# PATH SHARED: why PATH cannot be trusted, or nothing. It must belong to the user
# running the update and be writable by nobody else; with SHARED (a parent
# directory), root may own it and a sticky one may be writable by others, who
# cannot then rename or remove what it holds.
distrust() {
  local facts uid mode me
  me=$(id -u)
  facts=$(stat -c '%u %a' "$1" 2>/dev/null) || { echo "$1 cannot be examined"; return; }
  uid=${facts% *} mode=0${facts#* }
  [ "$uid" = "$me" ] || { [ -n "$2" ] && [ "$uid" = 0 ]; } ||
    { echo "$1 belongs to user $uid, not to user $me who runs the update"; return; }
  [ $((mode & 022)) -eq 0 ] || { [ -n "$2" ] && [ $((mode & 01000)) -ne 0 ]; } ||
    echo "$1 can be written by other users (mode ${mode#0})"
}

# DIR SHARED: the first reason found why DIR (as a parent with SHARED), or a
# directory above it, cannot be trusted; symbolic links followed.
distrust_path() {
  local at why
  at=$(cd "$1" && pwd -P) || { echo "$1 cannot be entered"; return; }
  why=$(distrust "$at" "$2")
  [ -z "$why" ] || { echo "$why"; return; }
  while [ "$at" != / ]; do
    at=$(dirname "$at")
    why=$(distrust "$at" shared)
    [ -z "$why" ] || { echo "$why"; return; }
  done
}

# Refuses, before the part is asked anything, a journal directory on a filesystem
# that a reboot empties, and a directory or journal that another user could have
# written. A journal found there is checked whole and described in unfinished,
# which every later refusal adds. Sets journal ('' with -J ''), resume and unfinished.
open_journal() {
  local at="$journal_dir" fs why plan
  journal='' resume='' unfinished=''
  [ -n "$journal_dir" ] || return 0
  while [ ! -e "$at" ]; do at=$(dirname "$at"); done
  fs=$(stat -f -c %T "$at" 2>/dev/null)
  case $fs in tmpfs | ramfs)
    stop "$EXIT_JOURNAL" "the journal directory $journal_dir is on $fs, which a reboot empties: the journal would be lost with the blocks it keeps; nothing was sent to $device. Give -J DIR on persistent storage, or -J '' to update without a journal" ;;
  esac
  if [ "$at" = "$journal_dir" ]; then why=$(distrust_path "$at" ''); else why=$(distrust_path "$at" shared); fi
  [ -z "$why" ] || stop "$EXIT_JOURNAL" "the journal directory $journal_dir cannot be trusted: $why; nothing was sent to $device. Give -J a directory only you can write"
  journal=$journal_dir/$(device_name).journal plan=$journal/plan
  [ -e "$journal" ] || return 0
  why=$(distrust "$journal" '')
  for at in "$plan" "$journal/data"; do [ -n "$why" ] || [ ! -e "$at" ] || why=$(distrust "$at" ''); done
  [ -z "$why" ] || stop "$EXIT_JOURNAL" "the unfinished journal $journal was not written by this user or could have been changed by another ($why): it is left alone and nothing was sent to $device. Check where it comes from; move it away to update without it"
  { [ "$(head -n 1 "$plan" 2>/dev/null)" = "romflash-update journal 1" ] &&
    [ "$(tail -n 1 "$plan")" = end ] && [ -r "$journal/data" ] &&
    [ "$(digest "$journal")" = "$(sed -n 's/^md5 //p' "$plan")" ]; } ||
    stop "$EXIT_JOURNAL" "the unfinished journal $journal is torn (its plan or its data does not match its checksum) and cannot finish its update; nothing was written. Move it away to update without it: the blocks it names may hold a partly written update"
  resume="$(sed -n 's/^blocks //p' "$plan") from an update of $(sed -n 's/^image //p' "$plan")"
  unfinished="but an earlier update did not finish: its journal $journal covers blocks $resume, which may now be partly erased or written; remove the cause above and run romflash-update again with -J $journal_dir to finish it"
}

# The journal found is finished first, on the chip it was written for.
find_journal() {
  [ -n "$resume" ] || return 0
  [ "$(sed -n 's/^id //p' "$journal/plan")" = "$chip_id" ] ||
    stop "$EXIT_JOURNAL" "the unfinished journal $journal was written for chip $(sed -n 's/^id //p' "$journal/plan"), but $device holds chip $chip_id; nothing was written. Move it away to update without it"
  say "journal: unfinished in $journal: blocks $resume; it is finished first"
}
