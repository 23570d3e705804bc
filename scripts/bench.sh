#!/bin/bash
# Runs the benchmark programs under Wine (inside scripts/with-wine.sh), then
# counts the server requests a copy makes per file, ours and a bare
# CopyFileW walk's, from a server started with its request trace.
# The copy is also measured onto each kind of the rig's destinations
# (scripts/rig.sh), brought up here and taken down again at the end.
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${QM_BUILD:-$ROOT/build}"
rig_down() { "$ROOT/scripts/rig.sh" down; }
trap rig_down EXIT
if "$ROOT/scripts/rig.sh" up; then
  export QM_RIG_DESTINATIONS="$ROOT/build/rig/destinations.env"
else
  echo "(the rig did not come up: the copy is measured on the local disk only)"
fi
for b in bench_copy bench_lists bench_search; do
  echo "== $b"
  wine "$BUILD/bench/$b.exe" "$@"
done

echo "== server requests per file (4 KiB files; what 150 files more cost, past a run's fixed cost)"
trace="$(mktemp)"
wineserver -k; wineserver -w
WINEDEBUG=+server wine "$BUILD/bench/bench_copy.exe" --calls 2>"$trace"
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
