# Sourced with an X display ready: makes the prefix that scripts/wine-env.sh
# names, on first use, and keeps its settings in step with wine-prefix.reg.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# Chinese captions need a CJK font behind the fonts the windows ask for;
# one Wine desktop holds every window (no window manager on a private display).
qm_apply_reg() {  # FILE: a .reg file in UTF-8, imported into $WINEPREFIX
  iconv -f UTF-8 -t UTF-16 "$1" > "$WINEPREFIX/drive_c/quillmere-prefix.reg"
  wine regedit /S 'C:\quillmere-prefix.reg' >/dev/null 2>&1
  wineserver -w
}

qm_make_base_prefix() {
  local stamp="$QM_BASE_PREFIX/.quillmere-prefix" reg="$QM_ROOT/scripts/wine-prefix.reg"
  if [ ! -f "$QM_BASE_PREFIX/system.reg" ]; then
    echo "Creating the Wine prefix in $QM_BASE_PREFIX (first use only)..."
    mkdir -p "$QM_BASE_PREFIX"
    WINEPREFIX="$QM_BASE_PREFIX" wineboot -i >/dev/null 2>&1
    WINEPREFIX="$QM_BASE_PREFIX" wineserver -w
  fi
  if [ ! -f "$stamp" ] || [ "$reg" -nt "$stamp" ]; then
    WINEPREFIX="$QM_BASE_PREFIX" qm_apply_reg "$reg"
    touch "$stamp"
  fi
}

# A prefix for another DPI starts as a copy of the project's prefix (seconds,
# where a fresh one takes a quarter of a minute). Wine 8 reads the screen's DPI
# from LogPixels when a process starts; the desktop grows with it, so that a
# window keeps its place on the screen at every scaling.
qm_make_dpi_prefix() {
  local stamp="$WINEPREFIX/.quillmere-dpi" reg="$WINEPREFIX/dpi.reg"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix for $QM_DPI dpi in $WINEPREFIX (first use only)..."
    rm -rf "$WINEPREFIX"
    cp -a "$QM_BASE_PREFIX" "$WINEPREFIX"
    rm -f "$stamp"
  fi
  if [ ! -f "$stamp" ] || [ "$QM_BASE_PREFIX/.quillmere-prefix" -nt "$stamp" ]; then
    {
      cat "$QM_ROOT/scripts/wine-prefix.reg"
      printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$QM_DPI"
      printf '\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]\n'
      printf '"LogPixels"=dword:%08x\n' "$QM_DPI"
      printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="%dx%d"\n' \
        $((1280 * QM_DPI / 96)) $((1024 * QM_DPI / 96))
    } > "$reg"
    qm_apply_reg "$reg"
    touch "$stamp"
  fi
}

qm_make_base_prefix
[ "$QM_DPI" = 96 ] || qm_make_dpi_prefix
