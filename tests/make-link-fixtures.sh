#!/bin/bash
# Windows programs under Wine cannot make directory links, so the tests'
# link trees are made here, on the Linux side, in the prefix's C: drive:
#   C:\qm-links\empty\D   with a.txt and link -> ..\outside (holding precious.txt)
#   C:\qm-links\loop\A    with f.txt, B\g.txt and B\up -> .. (a circle back to A)
#   C:\qm-links\toroot    -> C:\ (a link to the drive's root)
#   C:\qm-links\alias.txt -> filed\real.txt (a link to a file of another name)
#   C:\qm-links\feed\S    with x\f.txt and x\lnk -> ..\out\S\x (into the output
#                          of S copied into S\out\, once that is made)
. "$(dirname "$0")/../scripts/wine-env.sh"
ROOT="$WINEPREFIX/drive_c/qm-links"
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
