#!/bin/bash
# `make dist`: builds Quillmere.exe and qmcopy.exe for 64-bit and 32-bit
# Windows, writes the release to dist/ (scripts/package.sh) and checks the
# installer for real under Wine (tests/dist/install-check.sh):
#   Quillmere-<version>-win64.zip, -win32.zip   the two exes, README.txt, LICENSE.txt
#   Quillmere-<version>-setup.exe               the installer (packaging/Quillmere.nsi)
#   SHA256SUMS                                  of those three
# The version is the project's (CMakeLists.txt); the build's number is
# $QM_BUILD_NUMBER, else the count of commits.
#
# Signed with Authenticode when a certificate is given (scripts/sign.sh):
#   QM_SIGN_CERT, QM_SIGN_KEY   the certificate (with its chain) and its key
#   QM_SIGN_PASS_FILE           a file holding the key's password, if any
#   QM_SIGN_TIMESTAMP           an RFC 3161 time-stamp server, if any
#   QM_SIGN_CA                  what the install check verifies the signatures
#                               against (default: the system's roots, or
#                               QM_SIGN_CERT itself when it is self-signed)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD_NUMBER="${QM_BUILD_NUMBER:-$(git rev-list --count HEAD 2>/dev/null || echo 0)}"
STAGE="$ROOT/build-dist/stage"
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

. build-x64/version.env
NAME="Quillmere-$QM_VERSION"
if [ -n "${QM_SIGN_CERT:-}" ] && [ -n "${QM_SIGN_KEY:-}" ]; then
  echo "== packaging $NAME (file version $QM_FILE_VERSION), signed with $QM_SIGN_CERT"
  [ -n "${QM_SIGN_CA:-}" ] || if openssl verify -CAfile "$QM_SIGN_CERT" "$QM_SIGN_CERT" >/dev/null 2>&1; then
    QM_SIGN_CA="$QM_SIGN_CERT"
  else
    QM_SIGN_CA=/etc/ssl/certs/ca-certificates.crt
  fi
  export QM_SIGN_CA
else
  echo "== packaging $NAME (file version $QM_FILE_VERSION), unsigned: QM_SIGN_CERT and QM_SIGN_KEY sign it"
  unset QM_SIGN_CERT QM_SIGN_KEY QM_SIGN_CA
fi
scripts/package.sh "$STAGE" "$OUT"

echo "== checking the release"
for arch in win64 win32; do
  listed="$(unzip -Z1 "$OUT/$NAME-$arch.zip" | sort | tr '\n' ' ')"
  [ "$listed" = "LICENSE.txt Quillmere.exe README.txt qmcopy.exe " ] || { echo "$NAME-$arch.zip holds: $listed" >&2; exit 1; }
done
(cd "$OUT" && sha256sum --quiet -c SHA256SUMS)
tests/dist/install-check.sh "$OUT" "$STAGE" "$ROOT/build-x86/dist_probe.exe" "$QM_VERSION" "$QM_FILE_VERSION"

echo "== dist/"
ls -l "$OUT" | tail -n +2
