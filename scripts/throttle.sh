#!/bin/bash
# The broadcast benchmark's slow destinations: one throttlefs mount each
# (bench/throttlefs.c, built here with gcc and libfuse3), a pass-through to a
# folder of build-throttle/ whose writes keep to the destination's own rate,
# mapped into the Wine prefix as a drive of its own, as a stick would be.
#
#   throttle.sh up     clears leftovers, builds, mounts and maps each one, and
#                      prints them as DRIVE=RATE words (bench_broadcast reads
#                      them from QM_THROTTLED)
#   throttle.sh down   unmaps and unmounts them and removes what they held
#
# Needs /dev/fuse; run it inside scripts/with-wine.sh (the prefix must exist).
set -u
. "$(dirname "$0")/wine-env.sh"
DIR="$QM_ROOT/build-throttle"
DOS="$WINEPREFIX/dosdevices"
# Drive and rate of each: four alike, and one at a quarter of their speed.
DESTINATIONS="p:20M q:20M r:20M s:20M t:5M"

log() { echo "throttle: $*" >&2; }

our_mounts() {  # read from the kernel's table, never by touching the mount points
  awk -v dir="$DIR/mnt/" 'index($5, dir) == 1 { print $5 }' /proc/self/mountinfo
}

down() {
  local drive letter mnt
  for drive in $DESTINATIONS; do
    letter="${drive%%:*}"
    # Only our own links: a drive the prefix uses for something else stays.
    [ -L "$DOS/$letter:" ] && case "$(readlink "$DOS/$letter:")" in "$DIR"/*) rm -f "$DOS/$letter:" ;; esac
  done
  for mnt in $(our_mounts); do
    timeout 10 fusermount -u "$mnt" 2>/dev/null || fusermount -uz "$mnt" 2>/dev/null || umount -l "$mnt" ||
      log "cannot unmount $mnt"
  done
  rm -rf "$DIR/backing"
}

up() {
  [ -c /dev/fuse ] || { log "no /dev/fuse"; return 1; }
  [ -d "$DOS" ] || { log "no Wine prefix at $WINEPREFIX (run through scripts/with-wine.sh)"; return 1; }
  down
  mkdir -p "$DIR"
  if [ ! -x "$DIR/throttlefs" ] || [ "$QM_ROOT/bench/throttlefs.c" -nt "$DIR/throttlefs" ] ||
     [ "$QM_ROOT/bench/passthrough.h" -nt "$DIR/throttlefs" ]; then
    gcc -O2 -Wall -o "$DIR/throttlefs" "$QM_ROOT/bench/throttlefs.c" $(pkg-config --cflags --libs fuse3) || return 1
  fi
  local drive letter rate words=""
  for drive in $DESTINATIONS; do
    letter="${drive%%:*}" rate="${drive#*:}"
    if [ -e "$DOS/$letter:" ] && ! [ -L "$DOS/$letter:" ]; then
      log "drive $letter: of the prefix is taken"
      return 1
    fi
    mkdir -p "$DIR/backing/$letter" "$DIR/mnt/$letter"
    "$DIR/throttlefs" "$DIR/backing/$letter" "$DIR/mnt/$letter" -o "rate=$rate" || return 1
    ln -sfn "$DIR/mnt/$letter" "$DOS/$letter:"
    words="$words ${letter^^}:=$rate"
  done
  echo "${words# }"
}

case "${1:-}" in
  up) up || { log "up failed; taking down what was made"; down; exit 1; } ;;
  down) down ;;
  *) echo "usage: $0 up|down" >&2; exit 2 ;;
esac
