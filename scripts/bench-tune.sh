#!/usr/bin/env bash
# Sweep throughput of velmora-tune against velmora-eval on the same data.
#
# Times, on one thread each, velmora-eval over the recordings and
# velmora-tune sweeps of 1 and of P points over the same recordings, and
# prints samples per CPU second of each: for the sweep, candidate-samples
# (points + the base settings, times the samples) per CPU second, overall
# and for the candidates alone (the difference between the two sweeps,
# which leaves out reading the files and the settings-independent step).
# The ratio of the sweep's rate to velmora-eval's is the figure the tuner is
# held to (at least 25 for 100 points).
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: scripts/bench-tune.sh [options]

Options:
  --build DIR    build folder holding bin/velmora-eval and bin/velmora-tune
                 (default: build-bench; configure it with
                 -DCMAKE_BUILD_TYPE=Release for figures worth quoting)
  --data DIR     recordings (default: ../shared/data/sisfall-sa01-sa11 next to
                 the repository, else examples/recordings)
  --points P     points of the larger sweep (default 100)
  --repeat N     runs of each timing; the fastest counts (default 3)
  -h, --help     show this help

Example:
  scripts/bench-tune.sh --build build-bench --points 100
TEXT
}

fail() {
  echo "bench-tune: $*" >&2
  exit 2
}

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
data=""
points=100
repeat=3
while [ $# -gt 0 ]; do
  case "$1" in
    --build) [ $# -ge 2 ] || fail "--build needs a folder"; build=$2; shift 2 ;;
    --data) [ $# -ge 2 ] || fail "--data needs a folder"; data=$2; shift 2 ;;
    --points) [ $# -ge 2 ] || fail "--points needs a number"; points=$2; shift 2 ;;
    --repeat) [ $# -ge 2 ] || fail "--repeat needs a number"; repeat=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; fail "unknown argument '$1'" ;;
  esac
done
for value in "$points" "$repeat"; do
  [[ "$value" =~ ^[0-9]+$ ]] && [ "$value" -ge 1 ] && [ "$value" -le 1000 ] || fail "'$value' is not a number in 1..1000"
done
[ "$points" -ge 2 ] || fail "--points must be at least 2"
if [ -z "$data" ]; then
  data="$repo/../shared/data/sisfall-sa01-sa11"
  [ -d "$data" ] || data="$repo/examples/recordings"
fi
[ -d "$data" ] || fail "no folder '$data'"
eval_tool="$build/bin/velmora-eval"
tune="$build/bin/velmora-tune"
for program in "$eval_tool" "$tune"; do
  [ -x "$program" ] || fail "$program not found; build first: cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release && cmake --build build-bench -j2 --target velmora-eval velmora-tune"
done
[ -x /usr/bin/time ] || fail "/usr/bin/time not found (Debian: apt-get install time)"
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-tune.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Samples that reach the detector: data lines (after seven header lines)
# with at least seven fields.
samples=$(find "$data" -name '*.csv' -exec awk -F, 'FNR > 7 && NF >= 7' {} + | wc -l)

# Runs a command `repeat` times; prints "cpu_seconds wall_seconds maxrss_kib"
# of the run with the least CPU time.
best_of() {
  local best="" line
  for ((r = 0; r < repeat; r++)); do
    /usr/bin/time -f '%U %S %e %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" ||
      { cat "$work/stderr.txt" >&2; fail "'$*' failed"; }
    line=$(tail -n 1 "$work/time.txt" | awk '{ printf "%.2f %s %s", $1 + $2, $3, $4 }')
    if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN { split(a, x, " "); split(b, y, " "); exit !(x[1] < y[1]) }'; then
      best=$line
    fi
  done
  echo "$best"
}

# lowLevel 41, 42, ... : points that differ, so no work can be shared.
read -r eval_cpu eval_wall eval_rss <<<"$(best_of "$eval_tool" -j 1 "$data")"
read -r one_cpu _ _ <<<"$(best_of "$tune" sweep -j 1 --vary lowLevel=41:41 "$data")"
read -r many_cpu many_wall many_rss <<<"$(best_of "$tune" sweep -j 1 --vary "lowLevel=41:$((40 + points))" "$data")"

awk -v e="$eval_cpu" -v o="$one_cpu" -v m="$many_cpu" 'BEGIN { exit !(e < 0.1 || m <= o) }' &&
  fail "too little data to time (velmora-eval took $eval_cpu CPU s); give a larger folder with --data"
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "data: $data ($samples samples)"
awk -v n="$samples" -v p="$points" -v e="$eval_cpu" -v ew="$eval_wall" -v er="$eval_rss" \
    -v o="$one_cpu" -v m="$many_cpu" -v mw="$many_wall" -v mr="$many_rss" 'BEGIN {
  eval_rate = n / e;
  sweep_rate = (p + 1) * n / m;
  marginal = (m > o) ? (p - 1) * n / (m - o) : 0;
  printf "velmora-eval -j 1:                  %7.2f CPU s  %12.0f samples per CPU second  (peak %d KiB)\n", e, eval_rate, er;
  printf "velmora-tune sweep -j 1, %3d points: %7.2f CPU s  %12.0f candidate-samples per CPU second  (peak %d KiB)\n", p, m, sweep_rate, mr;
  printf "  candidates alone (%d points less 1): %12.0f candidate-samples per CPU second\n", p, marginal;
  printf "sweep / eval throughput:            %7.1f x  (target >= 25 at 100 points)\n", sweep_rate / eval_rate;
  printf "  candidates alone / eval:          %7.1f x\n", marginal / eval_rate;
  printf "peak memory of the sweep per sample: %.0f bytes (whole process)\n", mr * 1024 / n;
}'
