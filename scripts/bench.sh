#!/bin/bash
# Runs the benchmark programs under Wine (inside scripts/with-wine.sh), then
# counts the server requests a copy makes per file, ours and a bare
# CopyFileW walk's, from a server started with its request trace.
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
for b in bench_copy bench_lists bench_search; do
  echo "== $b"
  wine "$ROOT/build/bench/$b.exe" "$@"
done

echo "== server requests per file (4 KiB files; what 150 files more cost, past a run's fixed cost)"
trace="$(mktemp)"
wineserver -k; wineserver -w
WINEDEBUG=+server wine "$ROOT/build/bench/bench_copy.exe" --calls 2>"$trace"
wineserver -k; wineserver -w
# Requests only (not replies), between the markers; window, registry and
# message traffic of the prefix's own processes left out.
awk '
  /^QM-MARK / { phase = $2; sub(/\r$/, "", phase); next }
  phase == "" || phase == "end" { next }
  /^[0-9a-f]+: [a-z_]+[(] / {
    name = $2; sub(/[(].*/, "", name)
    if (name ~ /key|window|message|input|hook|clipboard|desktop|winstation|class|atom|cursor|user_handle/) next
    count[phase] += 1; by[phase, name] += 1; names[name] = 1
  }
  END {
    split("ours bare", who, " ")
    for (w = 1; w <= 2; w++) {
      p = who[w]
      line = sprintf("  %-5s %5.1f per file:", p, (count[p "4"] - count[p "1"]) / 150)
      for (n in names) {
        per = (by[p "4", n] - by[p "1", n]) / 150
        if (per >= 0.2) line = line sprintf(" %s %.1f", n, per)
      }
      print line
    }
  }' "$trace"
rm -f "$trace"
