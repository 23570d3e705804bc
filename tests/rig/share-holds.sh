#!/bin/bash
# Emptying a folder on the rig's share while another program (here a Linux
# one, through the share's client) holds one of its files open. The client
# refuses that file's removal after Wine has reported it done.
# Expected: the held file stays, and the run says so (a failure naming it,
# exit 1), while the rest is emptied and the copy made; once the file is
# let go, a second run empties it and exits 0.
# Usage: share-holds.sh QMCOPY_EXE   (inside scripts/with-wine.sh, rig up)
. "$(dirname "$0")/share-test.sh"
dst="$share_unix/$name"
cleanup() {
  [ -n "${holder:-}" ] && kill "$holder" 2>/dev/null
  rm -rf "$src" "$dst"
}
trap cleanup EXIT

mkdir -p "$src" "$dst/sub"
echo fresh > "$src/a.txt"
echo held > "$dst/held.txt"
echo free > "$dst/free.txt"
echo deep > "$dst/sub/deep.txt"

run() {  # prints qmcopy's summary; returns its exit code
  wine "$QMCOPY" "/src:$src_win\\a.txt" "/dst:$share_win$name" /empty /policy:overwrite 2>&1 | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
holds() { (cd "$dst" && find . -mindepth 1 | sort | tr '\n' ' '); }

(exec 3<"$dst/held.txt"; exec sleep 30) &
holder=$!
sleep 0.5
out="$(run)"; code=$?
echo "while held: exit $code; the folder holds: $(holds)"; echo "$out" | sed 's/^/  | /'
[ "$code" -eq 1 ] || fail "the run exited $code although a file it was to remove stays"
echo "$out" | grep -q 'held\.txt：' || fail "the run names no failure for the held file"
[ "$(holds)" = "./a.txt ./held.txt " ] || fail "the folder holds $(holds), not the copy and the held file"

kill "$holder"; wait "$holder" 2>/dev/null; holder=""
sleep 1  # let go a while ago: the client has closed it on the server too
out="$(run)"; code=$?
echo "let go: exit $code; the folder holds: $(holds)"
[ "$code" -eq 0 ] || { fail "the run after the file was let go exited $code"; echo "$out" | sed 's/^/  | /'; }
[ "$(holds)" = "./a.txt " ] || fail "after the file was let go the folder holds $(holds)"

[ "$failures" -eq 0 ] && echo "ok: a held file stays and is reported; let go, it is emptied" && exit 0
exit 1
