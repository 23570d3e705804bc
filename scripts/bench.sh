#!/bin/bash
# Runs the benchmark programs under Wine (inside scripts/with-wine.sh).
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
for b in bench_copy bench_lists bench_search; do
  echo "== $b"
  wine "$ROOT/build/bench/$b.exe" "$@"
done
