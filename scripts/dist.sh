#!/bin/bash
# `make dist`: builds Quillmere.exe and qmcopy.exe for 64-bit and 32-bit
# Windows, writes the release to dist/ and checks the installer for real
# under Wine (tests/dist/install-check.sh):
#   Quillmere-<version>-win64.zip, -win32.zip   the two exes, README.txt, LICENSE.txt
#   Quillmere-<version>-setup.exe               the installer (packaging/Quillmere.nsi)
#   SHA256SUMS                                  of those three
# The version is the project's (CMakeLists.txt); the build's number is
# $QM_BUILD_NUMBER, else the count of commits.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD_NUMBER="${QM_BUILD_NUMBER:-$(git rev-list --count HEAD 2>/dev/null || echo 0)}"
STAGE="$ROOT/build-dist"
OUT="$ROOT/dist"

build() {  # build-dir toolchain-file targets...
  local dir="$1" toolchain="$2"
  shift 2
  echo "== building $dir"
  local first=()  # a toolchain is taken only by a new build folder
  [ -f "$dir/CMakeCache.txt" ] || first=(-G Ninja "-DCMAKE_TOOLCHAIN_FILE=$toolchain")
  nice cmake -S . -B "$dir" "${first[@]}" -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF \
    -DQM_BUILD_NUMBER="$BUILD_NUMBER" >/dev/null
  nice cmake --build "$dir" --target "$@"
}
build build-x64 cmake/mingw-w64.cmake Quillmere qmcopy
build build-x86 cmake/mingw-w64-i686.cmake Quillmere qmcopy dist_probe

# QM_VERSION, QM_FILE_VERSION: what CMake stamped into the exes.
. build-x64/version.env
NAME="Quillmere-$QM_VERSION"
echo "== packaging $NAME (file version $QM_FILE_VERSION)"

rm -rf "$STAGE"
mkdir -p "$STAGE/win64" "$STAGE/win32" "$STAGE/docs" "$OUT"
for exe in Quillmere qmcopy; do
  x86_64-w64-mingw32-strip -o "$STAGE/win64/$exe.exe" "build-x64/$exe.exe"
  i686-w64-mingw32-strip -o "$STAGE/win32/$exe.exe" "build-x86/$exe.exe"
done
# Notepad on Windows 7 wants CR LF; the mark says UTF-8 to every editor.
crlf() { sed 's/\r$//; s/$/\r/'; }
{ printf '\xef\xbb\xbf'; sed "s/@QM_VERSION@/$QM_VERSION/g" packaging/README.txt.in | crlf; } > "$STAGE/docs/README.txt"
crlf < LICENSE > "$STAGE/docs/LICENSE.txt"

# The same sources give the same zips: every file dated as the last commit.
stamp="$(TZ=UTC git log -1 --format=%cd --date=format-local:%Y%m%d%H%M.%S 2>/dev/null || date +%Y%m%d%H%M.%S)"
find "$STAGE" -type f -exec env TZ=UTC touch -t "$stamp" {} +
for arch in win64 win32; do
  zip="$OUT/$NAME-$arch.zip"
  rm -f "$zip"
  (cd "$STAGE" && TZ=UTC zip -q -X -9 -j "$zip" "$arch/Quillmere.exe" "$arch/qmcopy.exe" docs/README.txt docs/LICENSE.txt)
done

setup="$OUT/$NAME-setup.exe"
rm -f "$setup"
nice makensis -V2 -INPUTCHARSET UTF8 \
  "-DVERSION=$QM_VERSION" "-DVERSION_MAJOR=${QM_VERSION%%.*}" "-DVERSION_MINOR=${QM_VERSION#*.}" \
  "-DFILE_VERSION=$QM_FILE_VERSION" "-DX64_DIR=$STAGE/win64" "-DX86_DIR=$STAGE/win32" "-DDOCS_DIR=$STAGE/docs" \
  "-DICON=$ROOT/app/Quillmere.ico" "-DOUTFILE=$setup" packaging/Quillmere.nsi

(cd "$OUT" && sha256sum "$NAME-win64.zip" "$NAME-win32.zip" "$NAME-setup.exe" > SHA256SUMS)

echo "== checking the release"
for arch in win64 win32; do
  listed="$(unzip -Z1 "$OUT/$NAME-$arch.zip" | sort | tr '\n' ' ')"
  [ "$listed" = "LICENSE.txt Quillmere.exe README.txt qmcopy.exe " ] || { echo "$NAME-$arch.zip holds: $listed" >&2; exit 1; }
done
(cd "$OUT" && sha256sum --quiet -c SHA256SUMS)
tests/dist/install-check.sh "$setup" "$STAGE" "$ROOT/build-x86/dist_probe.exe" "$QM_VERSION" "$QM_FILE_VERSION"

echo "== dist/"
ls -l "$OUT" | tail -n +2
