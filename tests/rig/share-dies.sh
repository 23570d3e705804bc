#!/bin/bash
# The share dies mid-run: qmcopy copies 300 files of 256 KiB onto the rig's
# share, its server (with every process it forked, one per connection) is
# killed once 20 entries stand there (or 4 s into the run), and started again
# after the run ends.
# Expected: the first run fails the rest with a network reason and gives up
# on the share after a few consecutive failures (it ends long before each
# file could wait out the client's 3 s time-out); a second run with
# /retry:3 /wait:1 completes every file; nothing half-written stays.
# Usage: share-dies.sh QMCOPY_EXE   (inside scripts/with-wine.sh, rig up)
. "$(dirname "$0")/share-test.sh"

FILES=300
KILL_AFTER=20
dst="$server_root/$name"  # the server's own view: the client may be down
cleanup() {
  [ -n "${watch_pid:-}" ] && kill "$watch_pid" 2>/dev/null
  "$RIG_SH" smbd-start >/dev/null 2>&1  # a run that failed half-way leaves the share up
  rm -rf "$src" "$dst"
}
trap cleanup EXIT

make_files "$FILES" 256
temporaries() { find "$dst" -name '~quillmere-*' 2>/dev/null; }

# Where each thread of qmcopy, the wineserver and the share's client waits,
# and what is left of the server.
stuck_report() {
  local p t
  for p in $(pgrep -x 'qmcopy.exe|smbnetfs|wineserver'); do
    echo "  process $p: $(cat "/proc/$p/comm" 2>/dev/null)"
    for t in /proc/"$p"/task/*; do
      echo "    thread ${t##*/}: $(sed -n 's/^State:\s*//p' "$t/status" 2>/dev/null) in $(cat "$t/wchan" 2>/dev/null)"
      sed 's/^/      /' "$t/stack" 2>/dev/null | head -5
    done
  done
  "$RIG_SH" status 2>&1 | sed 's/^/  rig: /'
}

# First run; the server dies under it.
start=$(date +%s)
wine "$QMCOPY" "/src:$src_win\\files" "/dst:$share_win$name" /policy:overwrite /quiet \
  "/log:$src_win\\first.log" >/dev/null 2>&1 &
run_pid=$!
killed=""
while kill -0 "$run_pid" 2>/dev/null; do
  # After 20 entries; or after 4 s, so that a run whose copies all fail
  # still meets a dying share.
  if [ -z "$killed" ] && { [ "$(entries)" -ge "$KILL_AFTER" ] || [ $(($(date +%s) - start)) -ge 4 ]; }; then
    "$RIG_SH" smbd-kill
    killed=$(date +%s)
  fi
  # A run still going this long after the share died is stuck: say where
  # each of its threads waits, then end it, rather than meet ctest's time-out.
  if [ -n "$killed" ] && [ -z "${stuck:-}" ] && [ $(($(date +%s) - killed)) -ge 35 ]; then
    stuck=1; fail "the first run is stuck 35 s after the share died"
    stuck_report
    kill -9 "$run_pid" 2>/dev/null; pkill -9 -x qmcopy.exe 2>/dev/null
  fi
  sleep 0.05
done
wait "$run_pid"
first_exit=$?
ended=$(date +%s)
"$RIG_SH" smbd-start || fail "the server did not start again"
first_log="$(iconv -f UTF-8 -t UTF-8 "$src/first.log" 2>/dev/null | tr -d '\r')"
echo "first run: exit $first_exit, $((ended - start)) s, server killed ${killed:+after $((killed - start)) s}"
echo "$first_log" | grep -vF ' → ' | tail -n 15 | sed 's/^/  | /'
if [ -z "$killed" ]; then
  fail "the first run ended before the share could die under it"
else
  [ "$first_exit" -ne 0 ] || fail "the first run exited 0 although the share died under it"
  # Each file tried against a dead share costs at least the client's 3 s time-out.
  [ $((ended - killed)) -le 30 ] ||
    fail "the first run went on $((ended - killed)) s after the share died: it did not give up on the share"
  # What Wine reports for a share whose server is gone: "Not ready." (21) or
  # a network code. A file under way when the server died may come back as
  # "Write fault." (a write cut short with no code and room on the volume:
  # never "Disk full."), "End of file." (38) or "No access to memory
  # location." (998, the client's EFAULT): allowed for the files in flight,
  # one per copying thread.
  reasons="$(echo "$first_log" | grep -F ' → ' | sed 's/.*：//' | sort | uniq -c)"
  echo "first run's failure reasons:"; echo "$reasons" | sed 's/^/  | /'
  [ -n "$reasons" ] || fail "the first run's log lists no failure"
  other="$(echo "$reasons" | grep -viE 'Not ready|network|Write fault|End of file|No access to memory' || true)"
  [ -z "$other" ] || fail "the first run failed files for other reasons than the share going away: $(echo $other)"
  in_flight="$(echo "$reasons" | awk '/Write fault|End of file|No access to memory/ { n += $1 } END { print n + 0 }')"
  [ "$in_flight" -le 4 ] || fail "$in_flight files failed as if each had been in flight"
fi

# The share is back: a second run with retries brings everything over.
back_by=$(($(date +%s) + 15))
while ! timeout 5 ls "$share_unix" >/dev/null 2>&1 && [ "$(date +%s)" -lt "$back_by" ]; do sleep 0.2; done
SECOND_LIMIT=$((start + 112 - $(date +%s)))  # what is left of the row's 2 minutes, to report in
[ "$SECOND_LIMIT" -ge 30 ] || SECOND_LIMIT=30
timeout "$SECOND_LIMIT" wine "$QMCOPY" "/src:$src_win\\files" "/dst:$share_win$name" /policy:overwrite /quiet \
  /retry:3 /wait:1 "/log:$src_win\\second.log" >"$src/second.out" 2>&1
second_exit=$?
[ "$second_exit" -eq 124 ] && fail "the second run did not end within $SECOND_LIMIT s"
echo "second run: exit $second_exit, $(($(date +%s) - start)) s since the start"
[ "$second_exit" -eq 0 ] || {
  fail "the second run exited $second_exit"
  tr -d '\r' < "$src/second.out" 2>/dev/null | tail -n 20 | sed 's/^/  | /'
}
missing=0
for f in "$src"/files/f*; do
  cmp -s "$f" "$dst/files/$(basename "$f")" || missing=$((missing + 1))
done
[ "$missing" -eq 0 ] || fail "$missing of $FILES files are not on the share whole after the second run"
left="$(temporaries)"
[ -z "$left" ] || fail "$(echo "$left" | wc -l) temporaries stay on the share: $(echo "$left" | head -3 | xargs -r -n1 basename | tr '\n' ' ')"

[ "$failures" -eq 0 ] && echo "ok: the share died, the run gave up on it, the retry brought every file" && exit 0
exit 1
