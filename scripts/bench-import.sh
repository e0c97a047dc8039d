#!/usr/bin/env bash
# End-to-end throughput of velmora-import csv: writes a generated waist log
# (200 samples/s, m/s^2 and rad/s, ROWS rows) to a scratch folder and times
# the importer reading, resampling and writing it, for each method.
#   scripts/bench-import.sh [BUILD_DIR] [ROWS]
set -euo pipefail
build=${1:-build-bench}
rows=${2:-2000000}
importer="$build/bin/velmora-import"
[ -x "$importer" ] || { echo "no $importer: build velmora-import first" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
awk -v n="$rows" 'BEGIN {
  print "t,ax,ay,az,gx,gy,gz"
  for (i = 0; i < n; i++) {
    t = i / 200
    printf "%.3f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f\n", t * 1000, 0.8 * sin(3.1 * t),
           -9.80665 + 0.5 * cos(7.3 * t), 0.3 * sin(11.7 * t), 0.2 * sin(2.3 * t),
           0.1 * cos(5.9 * t), 0.05 * sin(13.1 * t)
  }
}' >"$scratch/log.csv"
echo "input: $rows rows, $(du -h "$scratch/log.csv" | cut -f1)"
for method in mean linear sinc; do
  timing=(--rate 200)
  [ "$method" = linear ] && timing=(--time t --time-unit ms)
  start=$(date +%s.%N)
  if ! "$importer" csv --acc ax,ay,az --gyro gx,gy,gz --acc-unit mps2 --gyro-unit rads \
      "${timing[@]}" --resample "$method" --force -o "$scratch/out" "$scratch/log.csv" >/dev/null; then
    echo "$method: failed"
    continue
  fi
  end=$(date +%s.%N)
  awk -v m="$method" -v n="$rows" -v s="$start" -v e="$end" \
    'BEGIN { printf "%-6s %6.2f s  %5.2f million input samples/s\n", m, e - s, n / (e - s) / 1e6 }'
done
