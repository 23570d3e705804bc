#!/bin/bash
# Runs one Windows program under Wine in the project's prefix (used by CTest).
. "$(dirname "$0")/wine-env.sh"
exec wine "$@"
