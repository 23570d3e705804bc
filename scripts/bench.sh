#!/bin/bash
# Runs the benchmark programs under Wine (inside scripts/with-wine.sh), then
# counts the server requests a copy makes per file, ours and a bare
# CopyFileW walk's, from a server started with its request trace.
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
for b in bench_copy bench_lists bench_search; do
  echo "== $b"
  wine "$ROOT/build/bench/$b.exe" "$@"
done

echo "== server requests per file (50 files of 4 KiB)"
trace="$(mktemp)"
wineserver -k; wineserver -w
WINEDEBUG=+server wine "$ROOT/build/bench/bench_copy.exe" --calls 2>"$trace"
wineserver -k; wineserver -w
# Requests only (not replies), between the markers; window, registry and
# message traffic of the prefix's own processes left out.
awk '
  /^QM-MARK / { phase = $2; sub(/\r$/, "", phase); next }
  phase != "ours" && phase != "bare" { next }
  /^[0-9a-f]+: [a-z_]+[(] / {
    name = $2; sub(/[(].*/, "", name)
    if (name ~ /key|window|message|input|hook|clipboard|desktop|winstation|class|atom|cursor|user_handle/) next
    count[phase] += 1; by[phase, name] += 1; names[name] = 1
  }
  END {
    for (p in count) {
      line = sprintf("  %-5s %5.1f per file:", p, count[p] / 50)
      for (n in names) if (by[p, n] >= 25) line = line sprintf(" %s %.1f", n, by[p, n] / 50)
      print line
    }
  }' "$trace"
rm -f "$trace"
