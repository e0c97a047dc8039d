#!/usr/bin/env bash
# Leak and memory-error check of the programs of the plain CI build under
# valgrind: Drovik and velmora-trace over the example recordings, and
# velmora-eval, velmora-import, velmora-plot and velmora-tune when they are built. Error
# paths (missing files, bad arguments) are run too, since they are where
# clean-up is most often forgotten.
#
# A run fails when valgrind reports any error or leak (its error summary is
# read, so a program's own exit status 1 is not mistaken for one) or when
# the program's exit status is not the expected one.
set -euo pipefail
cd "$(dirname "$0")/../.."

bin="${VELMORA_BUILD_DIR:-build}/bin"
if [ ! -x "$bin/Drovik" ]; then
  echo "40-valgrind: $bin/Drovik not found; build first (cmake --build build)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

runs=0
failures=0
# check EXPECTED PROGRAM ARGS...: EXPECTED is an exit status or "nonzero".
check() {
  local expected=$1
  shift
  local status=0
  valgrind --error-exitcode=1 --leak-check=full --log-file="$work/valgrind.log" \
    "$@" >"$work/stdout" 2>"$work/stderr" || status=$?
  runs=$((runs + 1))
  local problem=""
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$work/valgrind.log"; then
    problem="valgrind reported errors"
  elif [ "$expected" = nonzero ] && [ "$status" -eq 0 ]; then
    problem="exit status 0, expected a failure"
  elif [ "$expected" != nonzero ] && [ "$status" -ne "$expected" ]; then
    problem="exit status $status, expected $expected"
  fi
  if [ -n "$problem" ]; then
    failures=$((failures + 1))
    echo "!! $problem: ${*#"$bin/"}"
    sed -n '1,60p' "$work/valgrind.log"
    sed -n '1,10p' "$work/stderr"
  fi
}

# The example recordings, or a small generated one until they exist.
mapfile -t recordings < <(find examples/recordings -maxdepth 1 -name '*.csv' 2>/dev/null | sort)
if [ ${#recordings[@]} -eq 0 ]; then
  echo "40-valgrind: no examples/recordings/*.csv yet; using a generated recording"
  mkdir -p "$work/recordings"
  {
    for i in 1 2 3 4 5 6 7; do echo "header $i"; done
    for i in $(seq 0 299); do
      if [ "$i" -lt 150 ]; then echo "$i,0,-8192,0,0,0,0"; else echo "$i,0,0,8192,0,0,0"; fi
    done
  } >"$work/recordings/generated.csv"
  recordings=("$work/recordings/generated.csv")
fi
recordingDir=$(dirname "${recordings[0]}")

for recording in "${recordings[@]}"; do
  info="${recording%.csv}.info"
  if [ -e "$info" ]; then
    check 0 "$bin/Drovik" "$recording" "$info"
  else
    check 0 "$bin/Drovik" "$recording"
  fi
  check 0 "$bin/velmora-trace" "$recording"
done
check 1 "$bin/Drovik"
check 0 "$bin/Drovik" "$work/missing.csv" "$work/missing.info"
check 0 "$bin/velmora-trace" --help
check nonzero "$bin/velmora-trace" "$work/missing.csv"
check nonzero "$bin/velmora-trace" --set avgWindow=64 "${recordings[0]}"

if [ -x "$bin/velmora-eval" ]; then
  check 0 "$bin/velmora-eval" -j 2 --csv "$work/eval.csv" --json "$work/eval.json" "$recordingDir"
  check 0 "$bin/velmora-eval" --help
  mkdir -p "$work/empty"
  check nonzero "$bin/velmora-eval" "$work/empty"
fi
if [ -x "$bin/velmora-plot" ]; then
  for recording in "${recordings[@]}"; do
    info="${recording%.csv}.info"
    [ -e "$info" ] || info=""
    check 0 "$bin/velmora-plot" -o "$work/plot.svg" "$recording" ${info:+"$info"}
  done
  check 0 "$bin/velmora-plot" --help
  check nonzero "$bin/velmora-plot" -o "$work/plot.svg" "$work/missing.csv"
fi
if [ -x "$bin/velmora-import" ]; then
  # A short SisFall-format fall recording (nine readings a line, 200 per second).
  mkdir -p "$work/sisfall"
  for i in $(seq 1 400); do
    if [ "$i" -lt 200 ]; then echo "  11,-253,  45, -21,  32, -14,  44,-975, 294;"; else echo "  2,  10, 240, 300,-200, 90,  12,  30, 980;"; fi
  done >"$work/sisfall/F01_SA01_R01.txt"
  printf '  1, 2, 3;\nnot numbers at all\n' >"$work/sisfall/D01_SA01_R01.txt"
  check 0 "$bin/velmora-import" sisfall -o "$work/imported" "$work/sisfall/F01_SA01_R01.txt"
  check 0 "$bin/velmora-import" --help
  check nonzero "$bin/velmora-import" sisfall -o "$work/imported" "$work/sisfall/D01_SA01_R01.txt"
fi
if [ -x "$bin/velmora-tune" ]; then
  # Threads, the cache, a sharded sweep and its merge. (No search here: its
  # --group-by goes through RE2, whose sparse sets valgrind reports as
  # uninitialised reads.)
  check 0 "$bin/velmora-tune" sweep -j 2 --vary lowLevel=50:70:10 --csv "$work/sweep.csv" \
    --roc "$work/sweep.svg" "$recordingDir"
  check 0 "$bin/velmora-tune" sweep -j 2 --vary lowLevel=50:70:10 --shard 1/1 \
    --part "$work/sweep.tune" "$recordingDir"
  check 0 "$bin/velmora-tune" merge --csv "$work/merged.csv" "$work/sweep.tune"
  check 0 "$bin/velmora-tune" compare -j 2 --b-set lowLevel=80 "$recordingDir"
  check 0 "$bin/velmora-tune" --help
  check nonzero "$bin/velmora-tune" sweep --vary avgWindow=0:70 "$recordingDir"
fi

echo "40-valgrind: $runs runs, $failures with problems"
[ "$failures" -eq 0 ]
