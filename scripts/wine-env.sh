# Sourced by every script that starts Wine: a private prefix under build/,
# no Mono/Gecko prompts, no debug noise. QM_DPI (say 144) selects a prefix of
# its own whose screen has that DPI; 96, the default, is the project's prefix.
QM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export QM_DPI="${QM_DPI:-96}"
# QM_PREFIX puts the prefix elsewhere (one wineserver each: test runs side by side never meet).
export QM_BASE_PREFIX="${QM_PREFIX:-$QM_ROOT/build/wineprefix}"
if [ "$QM_DPI" = 96 ]; then
  export WINEPREFIX="$QM_BASE_PREFIX"
else
  export WINEPREFIX="$QM_ROOT/build/wineprefix-dpi$QM_DPI"
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ "$WINEARCH" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
  export PATH="$QM_ROOT/scripts/wine64:$PATH" WINELOADER=/usr/lib/wine/wine64
fi
