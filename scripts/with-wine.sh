#!/bin/bash
# Runs a command with the project's Wine prefix ready (the one for $QM_DPI,
# see wine-env.sh) and an X display (a private Xvfb when $DISPLAY is unset). Everything started here is
# stopped again when the command ends: the prefix's wineserver and our Xvfb.
. "$(dirname "$0")/wine-env.sh"

XVFB_PID=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  true
}
trap cleanup EXIT INT TERM

# A display that cannot be reached counts as none.
if [ -n "$DISPLAY" ] && ! xdpyinfo >/dev/null 2>&1; then unset DISPLAY; fi
if [ -z "$DISPLAY" ]; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # Room for the Wine desktop of every prefix, up to 200 % (2560x2048).
    Xvfb ":$n" -screen 0 2560x2048x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    export QM_VIRTUAL_DISPLAY=1
    break
  done
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

. "$(dirname "$0")/wine-prefix.sh"

"$@"
