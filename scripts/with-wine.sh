#!/bin/bash
# Runs a command with the project's Wine prefix ready and an X display
# (a private Xvfb when $DISPLAY is unset). Everything started here is
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
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    export QM_VIRTUAL_DISPLAY=1
    break
  done
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix in $WINEPREFIX (first use only)..."
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# Chinese captions need a CJK font behind the fonts the windows ask for;
# one Wine desktop holds every window (no window manager on a private display).
FONT_STAMP="$WINEPREFIX/.quillmere-prefix"
if [ ! -f "$FONT_STAMP" ] || [ "$(dirname "$0")/wine-prefix.reg" -nt "$FONT_STAMP" ]; then
  iconv -f UTF-8 -t UTF-16 "$(dirname "$0")/wine-prefix.reg" > "$WINEPREFIX/drive_c/quillmere-prefix.reg"
  wine regedit /S 'C:\quillmere-prefix.reg' >/dev/null 2>&1
  wineserver -w
  touch "$FONT_STAMP"
fi

"$@"
