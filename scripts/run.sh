#!/bin/bash
# Starts Quillmere under Wine (inside scripts/with-wine.sh). With a private
# virtual display it waits for the main window, saves a screenshot to
# build/screenshot.png (build/screenshot-150.png on a screen of 144 dpi, and so
# on: QM_DPI, `make run DPI=144`) and closes the program again.
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
EXE="$ROOT/build/Quillmere.exe"
SHOT="$ROOT/build/screenshot.png"
[ "${QM_DPI:-96}" = 96 ] || SHOT="$ROOT/build/screenshot-$((QM_DPI * 100 / 96)).png"
if [ "$QM_VIRTUAL_DISPLAY" != "1" ]; then
  exec wine "$EXE"
fi
# The prefix shows every window inside one Wine desktop (scripts/wine-prefix.reg).
wine "$EXE" &
PID=$!
if ! wine "$ROOT/build/tests/wait_window.exe" MainWindow Quillmere 120; then
  echo "The main window did not appear." >&2
  wineserver -k >/dev/null 2>&1
  exit 1
fi
WID=$(xwininfo -root -tree 2>/dev/null | grep -E '"Default - Wine desktop"' | head -1 | awk '{print $1}')
import -window "${WID:-root}" "$SHOT"
echo "Quillmere started; screenshot saved to $SHOT"
wineserver -k >/dev/null 2>&1
wait "$PID" 2>/dev/null
exit 0
