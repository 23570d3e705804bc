#!/bin/bash
# Installs whatever the build, the tests and `make run` need and is missing.
set -e
PKGS="g++-mingw-w64-x86-64-posix wine wine64 xvfb fonts-wqy-zenhei fonts-arphic-uming cmake ninja-build googletest imagemagick x11-utils"
# The rig's real destinations (scripts/rig.sh): FAT32, exFAT, NTFS and a Samba share.
PKGS="$PKGS samba smbnetfs exfat-fuse exfatprogs fusefat dosfstools ntfs-3g fuse3 util-linux mount iproute2"
# The broadcast benchmark's throttled destinations (bench/throttlefs.c, built natively).
PKGS="$PKGS gcc libc6-dev libfuse3-dev pkg-config"
# The verified copies' hash (XXH3-128): its single header, taken into the build tree.
PKGS="$PKGS libxxhash-dev"
. "$(dirname "$0")/packages.sh"
missing="$(missing_packages $PKGS)"
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
