#!/usr/bin/env bash
# Peak resident memory of the tools on one long recording.
#
# Writes, in a temporary folder (never in the repository), a recording of N
# samples in the detector's format and the same length as a foreign CSV (g
# and deg/s at 50 samples/s), then runs under /usr/bin/time -v:
#   velmora-trace --csv FILE, velmora-trace --csv -, velmora-eval on the one
#   file, velmora-import csv, velmora-import check
# and prints each one's peak resident set size. With --time, also
# velmora-import csv on the same foreign CSV with a time column at 200
# samples/s: in order, with one pair of rows swapped (held to be sorted),
# and at 120 samples/s (sinc).
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: scripts/bench-memory.sh [--build DIR] [--samples N] [--keep]

Options:
  --build DIR     build folder holding bin/velmora-trace, bin/velmora-eval and
                  bin/velmora-import (default: build-release; configure it with
                  -DCMAKE_BUILD_TYPE=Release)
  --samples N     samples in the recording (default 5000000)
  --keep          keep the temporary folder and print its path
  --time          also import with a time column (in order, out of order, sinc)
  -h, --help      show this help

Example:
  scripts/bench-memory.sh --build build-release --samples 5000000
TEXT
}

build=build-release
samples=5000000
keep=0
time=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --samples) samples=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --time) time=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "bench-memory.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
  esac
done
[ -x /usr/bin/time ] || { echo "bench-memory.sh: needs /usr/bin/time (Debian package time)" >&2; exit 2; }
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
if [ "$keep" = 0 ]; then trap 'rm -rf "$work"' EXIT; else echo "keeping $work"; fi

# A quiet upright wearer with a little noise, the same numbers every run.
awk -v n="$samples" 'BEGIN {
  for (i = 0; i < 7; i++) print "header " i
  s = 1
  for (i = 0; i < n; i++) {
    s = (s * 1103515245 + 12345) % 2147483648; a = s % 601 - 300
    printf "%d,%d,%d,%d,%d,%d,%d\n", i, a, -8192 + a, -a, a % 200, -(a % 200), a % 100
  }
}' >"$work/long.csv"
awk -v n="$samples" 'BEGIN {
  print "ax,ay,az,gx,gy,gz"
  s = 1
  for (i = 0; i < n; i++) {
    s = (s * 1103515245 + 12345) % 2147483648; a = s % 61 - 30
    printf "%.3f,%.3f,%.3f,%.2f,%.2f,%.2f\n", a / 1000, -1 + a / 1000, -a / 1000, a / 10, -a / 10, a / 20
  }
}' >"$work/foreign.csv"

peak() {
  local label=$1
  shift
  /usr/bin/time -o "$work/time" -f '%M' "$@" >/dev/null 2>&1 || true
  awk -v label="$label" '{ printf "%-30s %8.1f MB\n", label, $1 / 1000 }' "$work/time"
}
echo "peak resident memory, $samples samples ($(du -m "$work/long.csv" | cut -f1) MB recording):"
peak "trace --csv FILE" "$bin/velmora-trace" --csv "$work/trace.csv" "$work/long.csv"
peak "trace --csv -" "$bin/velmora-trace" --csv - "$work/long.csv"
peak "eval, one file" "$bin/velmora-eval" -q "$work/long.csv"
peak "import csv" "$bin/velmora-import" csv --acc ax,ay,az --gyro gx,gy,gz --acc-unit g \
  --gyro-unit dps --rate 50 -o "$work/out" "$work/foreign.csv"
peak "import check" "$bin/velmora-import" check "$work/long.csv"
if [ "$time" = 1 ]; then
  # Row 1000 moved after row 1001: out of order, so the rows are held.
  awk -F, 'NR == 1 { print "t," $0; next } { printf "%.3f,%s\n", (NR - 2) * 0.005, $0 }' \
    "$work/foreign.csv" >"$work/timed.csv"
  awk 'NR == 1001 { held = $0; next } { print } NR == 1002 { print held }' "$work/timed.csv" \
    >"$work/unordered.csv"
  awk -F, 'NR == 1 { print "t," $0; next } { printf "%.6f,%s\n", (NR - 2) / 120, $0 }' \
    "$work/foreign.csv" >"$work/timed120.csv"
  for file in timed unordered timed120; do
    case $file in
      timed) label="import csv --time, ordered" ;;
      unordered) label="import csv --time, unordered" ;;
      *) label="import csv --time, sinc" ;;
    esac
    peak "$label" "$bin/velmora-import" csv --acc ax,ay,az --gyro gx,gy,gz \
      --acc-unit g --gyro-unit dps --time t -o "$work/out" "$work/$file.csv"
  done
fi
