# Sourced by every script that starts Wine: a private prefix under build/,
# no Mono/Gecko prompts, no debug noise.
QM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="$QM_ROOT/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
