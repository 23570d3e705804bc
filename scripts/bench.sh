#!/bin/bash
# Runs the benchmark programs under Wine (inside scripts/with-wine.sh), then
# counts the server requests a copy makes per file, ours and a bare
# CopyFileW walk's, and a broadcast run's against one run per destination,
# from a server started with its request trace.
# The copy is also measured onto each kind of the rig's destinations
# (scripts/rig.sh), and the broadcast copy onto throttled drives
# (scripts/throttle.sh), brought up here and taken down again at the end.
# QM_BENCH="bench_broadcast" runs only the programs it names.
# QM_BENCH_BEFORE=<commit or build folder> runs that build's bench_copy too,
# after ours, with the same arguments: a commit is built in a worktree of its
# own under /tmp (kept for the next time), a folder gives bench/bench_copy.exe.
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${QM_BUILD:-$ROOT/build}"
PROGRAMS="${QM_BENCH:-bench_copy bench_lists bench_search bench_broadcast}"

BEFORE_EXE=""
if [ -n "$QM_BENCH_BEFORE" ]; then
  if [ -d "$QM_BENCH_BEFORE" ]; then
    BEFORE_EXE="$QM_BENCH_BEFORE/bench/bench_copy.exe"
  else
    commit="$(git -C "$ROOT" rev-parse --short "$QM_BENCH_BEFORE^{commit}")" || exit 1
    tree="/tmp/quillmere-before-$commit"
    [ -d "$tree" ] || git -C "$ROOT" worktree add --detach "$tree" "$commit" >/dev/null || exit 1
    [ -f "$tree/build/build.ninja" ] || cmake -S "$tree" -B "$tree/build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
    cmake --build "$tree/build" --target bench_copy >/dev/null || exit 1
    BEFORE_EXE="$tree/build/bench/bench_copy.exe"
  fi
  [ -f "$BEFORE_EXE" ] || { echo "no $BEFORE_EXE"; exit 1; }
fi
take_down() {
  "$ROOT/scripts/rig.sh" down
  "$ROOT/scripts/throttle.sh" down
  rm -rf "$WINEPREFIX/drive_c/qmbench/broadcast/trash"  # what bench_broadcast moved aside
}
trap take_down EXIT
if "$ROOT/scripts/rig.sh" up; then
  export QM_RIG_DESTINATIONS="$ROOT/build/rig/destinations.env"
else
  echo "(the rig did not come up: the copy is measured on the local disk only)"
fi
if QM_THROTTLED="$("$ROOT/scripts/throttle.sh" up)"; then
  export QM_THROTTLED
else
  echo "(no throttled drives: the broadcast copy is measured on the local disk only)"
fi
for b in $PROGRAMS; do
  if [ "$b" = bench_copy ] && [ -n "$BEFORE_EXE" ]; then
    echo "== bench_copy, ours (HEAD $(git -C "$ROOT" rev-parse --short HEAD))"
  else
    echo "== $b"
  fi
  wine "$BUILD/bench/$b.exe" "$@"
done
if [ -n "$BEFORE_EXE" ]; then
  echo "== bench_copy, before (${commit:-$QM_BENCH_BEFORE})"
  wine "$BEFORE_EXE" "$@"
fi

# Server requests per file, from a server that traces them while EXE --calls
# runs: the program marks each phase on stderr (QM-MARK <who><size>), and
# what the larger phase costs past the smaller one, over FILES more files,
# is the per-file cost past a run's fixed cost. With COPIES above 1, each
# file went to that many destinations, and the cost of one copy is told too.
requests_per_file() {  # exe, "who ...", smaller size, larger size, files, copies
  local trace
  trace="$(mktemp)"
  wineserver -k; wineserver -w
  WINEDEBUG=+server wine "$1" --calls 2>"$trace"
  wineserver -k; wineserver -w
  # Requests only (not replies), between the markers; window, registry and
  # message traffic of the prefix's own processes left out.
  awk -v who="$2" -v lo="$3" -v hi="$4" -v files="$5" -v copies="$6" '
    /^QM-MARK / { phase = $2; sub(/\r$/, "", phase); next }
    phase == "" || phase == "end" { next }
    /^[0-9a-f]+: [a-z_]+[(] / {
      name = $2; sub(/[(].*/, "", name)
      if (name ~ /key|window|message|input|hook|clipboard|desktop|winstation|class|atom|cursor|user_handle/) next
      count[phase] += 1; by[phase, name] += 1; names[name] = 1
    }
    END {
      n = split(who, w, " ")
      for (i = 1; i <= n; i++) {
        p = w[i]
        perFile = (count[p hi] - count[p lo]) / files
        line = sprintf("  %-9s %6.1f per file", p, perFile)
        if (copies > 1) line = line sprintf(" (%.1f per copy)", perFile / copies)
        line = line ":"
        for (r in names) {
          per = (by[p hi, r] - by[p lo, r]) / files
          if (per >= 0.2) line = line sprintf(" %s %.1f", r, per)
        }
        print line
      }
    }' "$trace"
  rm -f "$trace"
}

case " $PROGRAMS " in *" bench_copy "*)
  echo "== server requests per file (4 KiB files; what 150 files more cost, past a run's fixed cost)"
  requests_per_file "$BUILD/bench/bench_copy.exe" "ours bare" 1 4 150 1 ;;
esac
case " $PROGRAMS " in *" bench_broadcast "*)
  echo "== server requests per source file into 8 destinations: one run, and one run per destination"
  echo "   (4 KiB files; what 150 files more cost, past the runs' fixed cost)"
  requests_per_file "$BUILD/bench/bench_broadcast.exe" "broadcast single" 50 200 150 8 ;;
esac
