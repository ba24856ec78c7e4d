# SPDX-License-Identifier: MIT
# romflash-update's kept copy (-k, -R, -C), read in by the script: the blocks an
# update replaces, kept beside the journal so that a rollback can write them back.
# shellcheck shell=sh disable=SC3043,SC2154,SC2034  # locals; the script's settings in, its state out

# The kept copy (-k): the covered blocks as read before the first erase, with
# their address and the chip's ID, in DIR/NAME.kept beside the journal and
# under its rules (written into NAME.kept.new, made durable, then renamed). A
# rollback (-R) writes them back as an update of its own; a commit (-C)
# removes them. An update that finds a copy not yet committed leaves it: it
# holds the blocks as they were before the first update since the last commit.
kept_value() { sed -n "s/^$1 //p" "$kept/plan"; }

kept_sound() {
  { [ "$(head -n 1 "$kept/plan" 2>/dev/null)" = "romflash-update kept 1" ] &&
    [ "$(tail -n 1 "$kept/plan")" = end ] && [ -r "$kept/data" ] &&
    [ "$(digest "$kept")" = "$(kept_value md5)" ]; } ||
    stop "$EXIT_JOURNAL" "the kept copy $kept is torn (its plan or its data does not match its checksum); nothing was written. Move it away: it cannot roll back"
}

# Renamed first, as the journal is; made durable so that a committed copy
# cannot come back after a power cut and be taken for the blocks before a
# later update.
remove_kept() {
  { rm -rf "$kept.old" && mv "$kept" "$kept.old" && rm -rf "$kept.old" && sync; } ||
    stop "$EXIT_INTERNAL" "the kept copy $kept could not be removed: remove it by hand"
}

# Sets kept (the copy's path) for -k, -R and -C. -C ends here; -R takes the
# copy's data and address as its image.
kept_mode() {
  [ -n "$mode" ] || return 0
  [ -n "$journal_dir" ] || usage_error "-$mode needs the journal directory (-J DIR) that holds the kept copy"
  kept=$journal_dir/$(device_name).kept
  [ "$mode" != k ] || return 0
  { [ -z "$image" ] && [ -z "$placed" ] && [ -z "$backup" ]; } ||
    usage_error "-$mode takes no -f, -a or -b: the kept copy has its blocks and their address"
  if [ "$mode" = C ]; then
    if [ ! -e "$kept" ]; then
      say "commit: no kept copy in $kept; nothing to remove"
    elif [ -n "$dry_run" ]; then
      say "commit (dry run): the kept copy $kept would be removed"
    else
      remove_kept
      say "commit: the kept copy $kept is removed"
    fi
    exit 0
  fi
  [ -e "$kept" ] ||
    stop "$EXIT_NOTHING_KEPT" "no kept copy in $kept: nothing to roll back to; nothing was written"
  kept_sound
  image=$kept/data start=$(kept_value at)
}

# Once the covered blocks are read, before anything is erased: -k keeps them,
# -R checks that its copy comes from this chip.
keep_blocks() {
  if [ "$mode" = R ]; then
    [ "$(kept_value id)" = "$chip_id" ] ||
      stop "$EXIT_JOURNAL" "the kept copy $kept was read from chip $(kept_value id), but $device holds chip $chip_id; nothing was written"
    say "rollback: blocks $(kept_value blocks) as kept in $kept"
    return 0
  fi
  [ "$mode" = k ] || return 0
  if [ -e "$kept" ]; then
    kept_sound
    { [ "$(kept_value id)" = "$chip_id" ] && [ "$(kept_value blocks)" = "$blocks" ]; } ||
      stop "$EXIT_JOURNAL" "the kept copy $kept holds blocks $(kept_value blocks) of chip $(kept_value id) from an update not committed, not blocks $blocks of chip $chip_id; nothing was erased. Commit it (-C) or roll it back (-R) first"
    say "keep: blocks $blocks kept in $kept before an update not yet committed; left as they are"
    return 0
  fi
  if [ -n "$dry_run" ]; then
    say "keep (dry run): blocks $blocks would be kept in $kept"
    return 0
  fi
  { mkdir -p "$journal_dir" && rm -rf "$kept.new" && mkdir "$kept.new" &&
    cp "$work/old.bin" "$kept.new/data" &&
    printf 'romflash-update kept 1\ndevice %s\nid %s\nblocks %s\nat %s\n' \
      "$device" "$chip_id" "$blocks" "$first" >"$kept.new/plan" &&
    printf 'md5 %s\nend\n' "$(digest "$kept.new")" >>"$kept.new/plan" &&
    sync && mv "$kept.new" "$kept" && sync; } ||
    stop "$EXIT_USAGE" "cannot keep blocks $blocks in $kept; nothing was erased. Give -J DIR on persistent storage"
  say "keep: blocks $blocks as read saved in $kept"
}

# A rollback that is verified has used its copy.
kept_done() {
  [ "$mode" = R ] || return 0
  remove_kept
  say "rollback: done; the kept copy $kept is removed"
}
