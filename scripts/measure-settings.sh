#!/usr/bin/env bash
# Measures how each detector setting moves sensitivity and false alarms per
# hour: one velmora-eval run at the defaults, then one per setting at a lower
# and at a higher value (the values below), each changing only that setting.
# Prints the table of docs/settings.md (Markdown) on standard output.
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: scripts/measure-settings.sh [--build DIR] [-j N] [DATA_DIR]

Runs velmora-eval over DATA_DIR (default: ../shared/data/sisfall-sa01-sa11)
at the default settings and, for every setting, at one lower and one higher
value; prints a Markdown table of sensitivity and false alarms per hour.

Options:
  --build DIR   build folder holding bin/velmora-eval (default: build)
  -j N          worker threads for velmora-eval (default: its own default)
  -h, --help    show this help

Example:
  scripts/measure-settings.sh --build build ../shared/data/sisfall-sa01-sa11
TEXT
}

cd "$(dirname "$0")/.."
build=build
jobs=()
data=../shared/data/sisfall-sa01-sa11
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    -j) jobs=(-j "${2:?-j needs a number}"); shift 2 ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "measure-settings.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
    *) data=$1; shift ;;
  esac
done
eval_bin="$build/bin/velmora-eval"
[ -x "$eval_bin" ] || { echo "measure-settings.sh: $eval_bin not built" >&2; exit 2; }
[ -d "$data" ] || { echo "measure-settings.sh: no folder '$data'" >&2; exit 2; }

# setting  lower  higher: the ends of each setting's tuning range in the
# library's settings table (the unused spare7 and spare34 at 0 and 100, to
# show that they change nothing). Defaults come from --print-settings.
values='
avgWindow 8 30
lowLevel 40 90
impactMin 120 200
impactMax 300 500
gyroAvgLow 100 250
gyroAvgHigh 250 450
accAvgLimit 25 60
spare7 0 100
rollLimit 25 55
pitchUprightMin -85 -50
pitchImpactMin -120 -60
pitchMax 20 50
minEventRun 2 8
maxJumpSpan 20 50
stillEnterLevel 40 80
stillExitLevel 70 120
stillAvgMax 40 70
burstHigh 1300 2000
burstHighWindow 2 10
burstHighMinLen 2 8
burstLow 1000 1500
burstLowWindow 2 10
burstLowMinLen 3 12
uprightLag -8 -1
uprightDeltaMax 0 4
turnAccLevel 120 200
turnGyroLevel 100 250
turnRunMin 10 30
lowEventMinLen 5 15
lowRunMin 5 15
lowTotalMin 15 35
gapMin 2 10
gapMax 10 30
postPeakMin 250 500
spare34 0 100
'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "sensitivity% fa_per_hour" for one run with the given --set options.
measure() {
  "$eval_bin" "${jobs[@]}" "$@" --summary-csv "$work/summary.csv" "$data" >/dev/null
  awk -F, '$1 == "" && $2 == "sensitivity" { s = $3 * 100 }
           $1 == "" && $2 == "false_alarms_per_hour" { f = $3 }
           END { printf "%.1f %%|%.2f\n", s, f }' "$work/summary.csv"
}

declare -A defaults
while IFS='=' read -r name value; do
  defaults[$name]=$value
done < <("$eval_bin" --print-settings)

base=$(measure)
echo "Defaults: sensitivity ${base%|*}, false alarms per hour ${base#*|}."
echo
echo "| setting | default | lower | sensitivity | FA/h | higher | sensitivity | FA/h |"
echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
while read -r name lower higher; do
  [ -n "$name" ] || continue
  low=$(measure --set "$name=$lower")
  high=$(measure --set "$name=$higher")
  echo "| \`$name\` | ${defaults[$name]} | $lower | ${low%|*} | ${low#*|} | $higher | ${high%|*} | ${high#*|} |"
done <<<"$values"
