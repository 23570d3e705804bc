#!/bin/bash
# package.sh STAGE OUT: the release, from the exes in build-x64/ and
# build-x86/, staged in STAGE and written to OUT:
#   Quillmere-<version>-win64.zip, -win32.zip   the two exes, README.txt, LICENSE.txt
#   Quillmere-<version>-setup.exe               the installer (packaging/Quillmere.nsi)
#   SHA256SUMS                                  of those three
# Signed (scripts/sign.sh: the four exes, the uninstaller and the setup) when
# QM_SIGN_CERT and QM_SIGN_KEY are set; unsigned otherwise.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
STAGE="$(realpath -m "$1")" OUT="$(realpath -m "$2")"

# QM_VERSION, QM_FILE_VERSION, QM_COMPANY, QM_COPYRIGHT: what CMake stamped
# into the exes.
. build-x64/version.env
NAME="Quillmere-$QM_VERSION"

# The same sources give the same zips: every file dated as the last commit,
# the exes' headers too (strip writes the time it is given there, else
# now), and signed at that time.
epoch="$(git log -1 --format=%ct 2>/dev/null || date +%s)"
stamp="$(TZ=UTC date -d "@$epoch" +%Y%m%d%H%M.%S)"
export SOURCE_DATE_EPOCH="$epoch"
export QM_SIGN_TIME="${QM_SIGN_TIME:-$epoch}"
sign=()
if [ -n "${QM_SIGN_CERT:-}" ] && [ -n "${QM_SIGN_KEY:-}" ]; then
  sign=("-DSIGN=$ROOT/scripts/sign.sh")
fi
sign_exe() { [ ${#sign[@]} = 0 ] || scripts/sign.sh "$1"; }

rm -rf "$STAGE"
mkdir -p "$STAGE/win64" "$STAGE/win32" "$STAGE/docs" "$OUT"
for exe in Quillmere qmcopy; do
  x86_64-w64-mingw32-strip -o "$STAGE/win64/$exe.exe" "build-x64/$exe.exe"
  i686-w64-mingw32-strip -o "$STAGE/win32/$exe.exe" "build-x86/$exe.exe"
  sign_exe "$STAGE/win64/$exe.exe"
  sign_exe "$STAGE/win32/$exe.exe"
done
# Notepad on Windows 7 wants CR LF; the mark says UTF-8 to every editor.
crlf() { sed 's/\r$//; s/$/\r/'; }
{ printf '\xef\xbb\xbf'; sed "s/@QM_VERSION@/$QM_VERSION/g" packaging/README.txt.in | crlf; } > "$STAGE/docs/README.txt"
crlf < LICENSE > "$STAGE/docs/LICENSE.txt"

find "$STAGE" -type f -exec env TZ=UTC touch -t "$stamp" {} +
for arch in win64 win32; do
  zip="$OUT/$NAME-$arch.zip"
  rm -f "$zip"
  (cd "$STAGE" && TZ=UTC zip -q -X -9 -j "$zip" "$arch/Quillmere.exe" "$arch/qmcopy.exe" docs/README.txt docs/LICENSE.txt)
done

nsis=(makensis -V2 -WX -INPUTCHARSET UTF8 "${sign[@]}"
  "-DVERSION=$QM_VERSION" "-DVERSION_MAJOR=${QM_VERSION%%.*}" "-DVERSION_MINOR=${QM_VERSION#*.}"
  "-DFILE_VERSION=$QM_FILE_VERSION" "-DCOMPANY=$QM_COMPANY" "-DCOPYRIGHT=$QM_COPYRIGHT"
  "-DICON=$ROOT/app/Quillmere.ico")
# The uninstaller first, with its own version information (and signature);
# the installer compiled on the way is not kept.
nice "${nsis[@]}" "-DOUTFILE=$STAGE/uninstaller-pass.exe" "-DUNINSTALLER_OUT=$STAGE/uninstall.exe" \
  packaging/Quillmere.nsi
rm -f "$STAGE/uninstaller-pass.exe"
touch -t "$stamp" "$STAGE/uninstall.exe"

kib() {  # files...: what they take installed, in KiB
  local total=0 f
  for f in "$@"; do total=$((total + ($(stat -c %s "$f") + 1023) / 1024)); done
  echo $total
}
docs=("$STAGE/docs/README.txt" "$STAGE/docs/LICENSE.txt" "$STAGE/uninstall.exe")
setup="$OUT/$NAME-setup.exe"
rm -f "$setup"
nice "${nsis[@]}" "-DOUTFILE=$setup" "-DUNINSTALLER_FILE=$STAGE/uninstall.exe" \
  "-DX64_DIR=$STAGE/win64" "-DX86_DIR=$STAGE/win32" "-DDOCS_DIR=$STAGE/docs" \
  "-DX64_KB=$(kib "$STAGE"/win64/*.exe "${docs[@]}")" "-DX86_KB=$(kib "$STAGE"/win32/*.exe "${docs[@]}")" \
  packaging/Quillmere.nsi

(cd "$OUT" && sha256sum "$NAME-win64.zip" "$NAME-win32.zip" "$NAME-setup.exe" > SHA256SUMS)
