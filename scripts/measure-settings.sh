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

# setting  lower  higher   (defaults are printed by velmora-eval --print-settings)
values='
avgWindow 10 20
lowLevel 50 70
impactMin 120 160
impactMax 300 600
gyroAvgLow 120 200
gyroAvgHigh 280 440
accAvgLimit 30 50
spare7 0 100
rollLimit 30 45
pitchUprightMin -80 -60
pitchImpactMin -110 -70
pitchMax 25 45
minEventRun 3 6
maxJumpSpan 25 50
stillEnterLevel 50 70
stillExitLevel 80 100
stillAvgMax 45 65
burstHigh 1400 1800
burstHighWindow 3 8
burstHighMinLen 2 5
burstLow 1000 1400
burstLowWindow 3 8
burstLowMinLen 5 10
uprightLag -5 -2
uprightDeltaMax 0 2
turnAccLevel 130 170
turnGyroLevel 120 180
turnRunMin 15 25
lowEventMinLen 7 13
lowRunMin 6 12
lowTotalMin 20 30
gapMin 3 8
gapMax 15 30
postPeakMin 300 500
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
