#!/bin/bash
# Installs what `make dist` needs beyond scripts/deps.sh and is missing: the
# 32-bit cross compiler, the installer compiler, zip, xauth (for xvfb-run),
# osslsigncode and openssl (signing, and the install check's own test
# certificate), and 32-bit Wine (through Debian's multiarch), which runs the
# installer and the 32-bit build, in a 32-bit prefix too.
set -e
PKGS="g++-mingw-w64-i686-posix binutils-mingw-w64-i686 nsis zip unzip xauth osslsigncode openssl wine32:i386"
. "$(dirname "$0")/packages.sh"
missing="$(missing_packages $PKGS)"
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
# wine32 must match the installed wine64 exactly (Multi-Arch: same).
extra=""
if dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q "install ok installed"; then
  v="$(dpkg-query -W -f='${Version}' wine64)"
  missing="${missing/wine32:i386/wine32:i386=$v}"
  extra="libwine:i386=$v"
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing $extra
