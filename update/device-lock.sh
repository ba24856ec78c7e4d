# SPDX-License-Identifier: MIT
# romflash-update's device lock, sourced by the script: one update per device at
# a time. The lock is a directory made with mkdir, which is atomic on every
# filesystem and in every shell (flock(1) is not in every BusyBox, and a lock
# file needs a descriptor held open across every romflash run); it holds the
# owner's pid and command, so that a second run can name the holder, and a lock
# left by a process that no longer runs can be taken over.
# shellcheck shell=sh disable=SC3043,SC2154,SC2034  # locals; the script's settings in, its state out

# The lock's directory: /run/lock, seen by every user of the device whatever -J
# says; ROMFLASH_UPDATE_LOCK_DIR replaces it.
lock_place() {
  local base="${ROMFLASH_UPDATE_LOCK_DIR:-/run/lock}"
  [ -d "$base" ] || base=/tmp
  echo "$base/romflash-update.$(device_name).lock"
}

# Takes the lock or refuses, naming the holder, before anything is sent to the
# part. Sets lock and lock_held (released by release_lock at exit).
take_lock() {  # COMMAND: what the holder runs, for the message of a second run
  local pid tries=0
  lock=$(lock_place) lock_held=''
  until mkdir "$lock" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 10 ] || stop "$EXIT_BUSY" "cannot take the lock $lock; nothing was sent to $device"
    pid=$(sed -n 's/^pid //p' "$lock/owner" 2>/dev/null)
    # A holder between its mkdir and its owner file: give it a moment.
    if [ -z "$pid" ] && [ "$tries" -lt 5 ]; then sleep 1 && continue; fi
    if [ -n "$pid" ] && { kill -0 "$pid" 2>/dev/null || [ -d "/proc/$pid" ]; }; then
      stop "$EXIT_BUSY" "another update holds $device: pid $pid, $(sed -n 's/^command //p' "$lock/owner") (lock $lock); nothing was sent to $device. Run again when it has ended"
    fi
    # Renamed before it goes, so that of two runs taking it over only one removes it.
    mv "$lock" "$lock.stale.$$" 2>/dev/null || continue
    [ "$(sed -n 's/^pid //p' "$lock.stale.$$/owner" 2>/dev/null)" = "$pid" ] ||
      stop "$EXIT_BUSY" "the lock $lock changed hands while it was taken over; nothing was sent to $device. Run again"
    rm -rf "$lock.stale.$$"
    say "lock: took over $lock from pid ${pid:-unknown}, which no longer runs"
  done
  lock_held=1
  printf 'pid %s\ncommand %s\n' "$$" "$1" >"$lock/owner" ||
    stop "$EXIT_BUSY" "cannot write the owner of the lock $lock; nothing was sent to $device"
}
release_lock() { [ -z "${lock_held:-}" ] || rm -rf "$lock"; }
