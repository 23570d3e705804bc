#!/bin/bash
# wine-dpi-exec.sh DPI PROGRAM [ARGS...]: runs one Windows program under Wine
# on a screen of that DPI, in the prefix kept for it (made on first use), then
# stops that prefix's wineserver. Needs the X display of scripts/with-wine.sh.
export QM_DPI="$1"
shift
. "$(dirname "$0")/wine-prefix.sh"
wine "$@"
status=$?
wineserver -k >/dev/null 2>&1
exit $status
