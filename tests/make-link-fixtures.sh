#!/bin/bash
# Windows programs under Wine cannot make directory links, so the tests'
# link trees are made here, on the Linux side, in the prefix's C: drive:
#   C:\qm-links\empty\D   with a.txt and link -> ..\outside (holding precious.txt)
#   C:\qm-links\loop\A    with f.txt, B\g.txt and B\up -> .. (a circle back to A)
#   C:\qm-links\toroot    -> C:\ (a link to the drive's root)
#   C:\qm-links\alias.txt -> filed\real.txt (a link to a file of another name)
#   C:\qm-links\feed\S    with x\f.txt and x\lnk -> ..\out\S\x (into the output
#                          of S copied into S\out\, once that is made)
#   C:\qm-links\rule\d    links leading out of the folder being emptied: flink.txt
#                          -> ..\precious\file.txt, dlink -> ..\precious, srclink.txt
#                          -> ..\src\top.txt, d2link -> ..\d2, d2file.txt -> ..\d2\top.txt
#   C:\qm-links\rule\case  Dest\f -> ..\dest\f, twins whose names differ in case only
#   Q:                     a drive mapped to C:\qm-links\qdrive (keep1.txt, sub\keep2.txt)
#   O:                     a second letter for C: (as subst makes one)
#   build/two-mounts/a, b  two small volumes without a letter, each with d\ and "mounted"
#   C:\qm-links\bcast\src  f.txt and lnk -> ..\outs, the folder that holds the destinations
#   C:\qm-links\rule\d\vol    a small volume mounted inside a folder to be emptied
#   C:\qm-links\rule\d\bound  a folder of another small volume, bound there
. "$(dirname "$0")/../scripts/wine-env.sh"
ROOT="$WINEPREFIX/drive_c/qm-links"
TWO="$QM_ROOT/build/two-mounts"  # beside the prefix: Wine reaches them by Z: paths alone
unmount_all() {
  for m in "$ROOT/rule/d/bound" "$ROOT/rule/d/vol" "$ROOT/scratchvol" "$ROOT/full" "$TWO/a" "$TWO/b"; do
    umount "$m" 2>/dev/null
  done
}
[ "$1" = cleanup ] && { unmount_all; exit 0; }
unmount_all
rm -rf "$ROOT"
mkdir -p "$ROOT/empty/D" "$ROOT/empty/outside" "$ROOT/loop/A/B"
echo -n p > "$ROOT/empty/outside/precious.txt"
echo -n a > "$ROOT/empty/D/a.txt"
ln -s ../outside "$ROOT/empty/D/link"
echo -n f > "$ROOT/loop/A/f.txt"
echo -n g > "$ROOT/loop/A/B/g.txt"
ln -s .. "$ROOT/loop/A/B/up"
ln -s .. "$ROOT/toroot"
mkdir -p "$ROOT/filed"
echo -n r > "$ROOT/filed/real.txt"
ln -s filed/real.txt "$ROOT/alias.txt"
mkdir -p "$ROOT/feed/S/x"
echo -n f > "$ROOT/feed/S/x/f.txt"
ln -s ../out/S/x "$ROOT/feed/S/x/lnk"
mkdir -p "$ROOT/rule/d" "$ROOT/rule/precious" "$ROOT/rule/src" "$ROOT/rule/d2"
echo -n p > "$ROOT/rule/precious/file.txt"
echo -n t > "$ROOT/rule/src/top.txt"
echo -n t2 > "$ROOT/rule/d2/top.txt"
ln -s ../precious/file.txt "$ROOT/rule/d/flink.txt"
ln -s ../precious "$ROOT/rule/d/dlink"
ln -s ../src/top.txt "$ROOT/rule/d/srclink.txt"
ln -s ../d2 "$ROOT/rule/d/d2link"
ln -s ../d2/top.txt "$ROOT/rule/d/d2file.txt"
mkdir -p "$ROOT/rule/case/Dest" "$ROOT/rule/case/dest"
echo -n f > "$ROOT/rule/case/dest/f"
ln -s ../dest/f "$ROOT/rule/case/Dest/f"
mkdir -p "$ROOT/qdrive/sub"
echo -n 1 > "$ROOT/qdrive/keep1.txt"
echo -n 2 > "$ROOT/qdrive/sub/keep2.txt"
rm -f "$WINEPREFIX/dosdevices/q:"
ln -s ../drive_c/qm-links/qdrive "$WINEPREFIX/dosdevices/q:"
ln -sfn ../drive_c "$WINEPREFIX/dosdevices/o:"
mkdir -p "$ROOT/bcast/src" "$ROOT/bcast/outs"
echo -n f > "$ROOT/bcast/src/f.txt"
ln -s ../outs "$ROOT/bcast/src/lnk"
# Names that differ in case alone, as a tree from a case-sensitive system
# holds them: copies into one folder race for one target.
mkdir -p "$ROOT/twins"
for i in $(seq 0 39); do echo -n "lower $i" > "$ROOT/twins/name$i.h"; echo -n "UPPER $i" > "$ROOT/twins/NAME$i.h"; done
# Volumes inside a folder to be emptied, where the machine lets us mount
# them: emptying never crosses onto them.
mkdir -p "$ROOT/rule/d/vol" "$ROOT/rule/d/bound" "$ROOT/scratchvol"
if mount -t tmpfs -o size=64k qm-vol "$ROOT/rule/d/vol" 2>/dev/null; then
  echo -n v > "$ROOT/rule/d/vol/v.txt"
fi
if mount -t tmpfs -o size=64k qm-scratch "$ROOT/scratchvol" 2>/dev/null; then
  mkdir -p "$ROOT/scratchvol/bound"
  echo -n b > "$ROOT/scratchvol/bound/b.txt"
  mount --bind "$ROOT/scratchvol/bound" "$ROOT/rule/d/bound" 2>/dev/null || true
fi
# A volume of 256 KiB, where the machine lets us mount one (root on Linux):
# a copy that fills the disk. Unmounted again when the tests end.
mkdir -p "$ROOT/full"
mount -t tmpfs -o size=256k qm-full "$ROOT/full" 2>/dev/null || true
# Two volumes with no drive letter, reached by Z: paths, where the machine
# lets us mount them: Wine gives both the serial 0 and the same file indexes.
mkdir -p "$TWO/a" "$TWO/b"
for v in a b; do
  if mount -t tmpfs -o size=64k "qm-two-$v" "$TWO/$v" 2>/dev/null; then
    mkdir -p "$TWO/$v/d"
    echo -n m > "$TWO/$v/mounted"
  fi
done
