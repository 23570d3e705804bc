#!/bin/bash
# Runs one Windows program under Wine in the project's prefix (used by CTest).
# A test program that ends before its summary (its wineserver went away, say)
# has not passed, whatever its exit code says: Wine's clients exit with 0
# when their server dies.
. "$(dirname "$0")/wine-env.sh"
case "$1" in
  *_tests.exe) ;;
  *) exec wine "$@" ;;
esac
log=$(mktemp)
trap 'rm -f "$log"' EXIT
wine "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
if [ "$status" = 0 ] && ! grep -qE '^\[  (PASSED|FAILED)  \]' "$log"; then
  echo "wine-exec: $(basename "$1") ended before its summary: not a pass" >&2
  exit 1
fi
exit "$status"
