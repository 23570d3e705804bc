#!/bin/bash
# The share's server stops answering for a while (SIGSTOP) in the middle of
# a run with /retry:3 /wait:3, then goes on. The client gives each call up
# after 3 s ("Not ready."). Expected: the run waits for the share as a
# whole, goes on once it is back, and ends with exit 0, every file whole and
# nothing of ours left on the share.
# Usage: share-freezes.sh QMCOPY_EXE   (inside scripts/with-wine.sh, rig up)
. "$(dirname "$0")/share-test.sh"

FILES=40
FREEZE_AFTER=8
FROZEN_FOR=6
dst="$server_root/$name"
cleanup() {
  "$RIG_SH" smbd-thaw >/dev/null 2>&1
  rm -rf "$src" "$dst"
}
trap cleanup EXIT

make_files "$FILES" 512

start=$(date +%s)
timeout 100 wine "$QMCOPY" "/src:$src_win\\files" "/dst:$share_win$name" /policy:overwrite /quiet /retry:3 /wait:3 \
  "/log:$src_win\\run.log" >/dev/null 2>&1 &
run_pid=$!
frozen=""
while kill -0 "$run_pid" 2>/dev/null; do
  if [ -z "$frozen" ] && { [ "$(entries)" -ge "$FREEZE_AFTER" ] || [ $(($(date +%s) - start)) -ge 4 ]; }; then
    "$RIG_SH" smbd-freeze
    frozen=$(date +%s)
  fi
  if [ -n "$frozen" ] && [ -z "${thawed:-}" ] && [ $(($(date +%s) - frozen)) -ge "$FROZEN_FOR" ]; then
    "$RIG_SH" smbd-thaw
    thawed=$(date +%s)
  fi
  sleep 0.05
done
wait "$run_pid"
code=$?
"$RIG_SH" smbd-thaw
echo "run: exit $code, $(($(date +%s) - start)) s, server frozen ${frozen:+after $((frozen - start)) s} for ${FROZEN_FOR} s"
[ -n "$frozen" ] || fail "the run ended before the share could freeze under it"
[ -n "${thawed:-}" ] || fail "the run ended while the share was still frozen"
[ "$code" -eq 0 ] || {
  fail "the run exited $code"
  iconv -f UTF-8 -t UTF-8 "$src/run.log" 2>/dev/null | tr -d '\r' | grep -vF ' → ' | tail -n 15 | sed 's/^/  | /'
  iconv -f UTF-8 -t UTF-8 "$src/run.log" 2>/dev/null | tr -d '\r' | grep -F ' → ' | sed 's/.*：//' | sort | uniq -c | sed 's/^/  | /'
}
missing=0
for f in "$src"/files/f*; do
  cmp -s "$f" "$dst/files/$(basename "$f")" || missing=$((missing + 1))
done
[ "$missing" -eq 0 ] || fail "$missing of $FILES files are not on the share whole"
left="$(find "$dst" -name '~quillmere-*' 2>/dev/null)"
[ -z "$left" ] || fail "files of ours stay on the share: $(echo "$left" | head -3 | xargs -r -n1 basename | tr '\n' ' ')"

[ "$failures" -eq 0 ] && echo "ok: the share froze, the run waited for it and went on" && exit 0
exit 1
