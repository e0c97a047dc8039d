#!/usr/bin/env bash
# What a person tuning by hand would find: a sweep of each of lowLevel,
# burstLow, burstLowMinLen and rollLimit over its tuning range, keeping for
# each the value with the highest sensitivity within the false-alarm budget
# (fewer alarms on a tie); first each alone from the defaults and the four
# best values combined, then one after another, each sweep on top of the
# values already chosen. All figures are training figures on the given
# recordings, the yardstick for a search's own training figures.
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: scripts/person-baseline.sh [options]

Options:
  --tune PATH    velmora-tune to run (default: build/bin/velmora-tune)
  --data DIR     recordings (default: ../shared/data/sisfall-sa01-sa11 next to
                 the repository)
  --budget X     false alarms per hour (default 1)
  -j N           threads (default 2)
  -h, --help     show this help

Example:
  scripts/person-baseline.sh --budget 0.5
TEXT
}

fail() {
  echo "person-baseline: $*" >&2
  exit 2
}

repo=$(cd "$(dirname "$0")/.." && pwd)
tune="$repo/build/bin/velmora-tune"
data="$repo/../shared/data/sisfall-sa01-sa11"
budget=1
jobs=2
while [ $# -gt 0 ]; do
  case "$1" in
    --tune) [ $# -ge 2 ] || fail "--tune needs a path"; tune=$2; shift 2 ;;
    --data) [ $# -ge 2 ] || fail "--data needs a folder"; data=$2; shift 2 ;;
    --budget) [ $# -ge 2 ] || fail "--budget needs a number"; budget=$2; shift 2 ;;
    -j) [ $# -ge 2 ] || fail "-j needs a number"; jobs=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; fail "unknown argument '$1'" ;;
  esac
done
[ -x "$tune" ] || fail "$tune not built"
eval_tool="$(dirname "$tune")/velmora-eval"
[ -x "$eval_tool" ] || fail "$eval_tool not built"
[ -d "$data" ] || fail "no folder '$data'"
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-baseline.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The best row of a sweep's CSV within the budget: "value sensitivity fa/h tp".
best_within() {
  awk -F, -v budget="$budget" '
    NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i; next }
    {
      rate = $column["false_alarms_per_hour"]; tp = $column["tp"]
      if (rate == "" || rate + 0 > budget + 0) next
      if (best == "" || tp + 0 > besttp + 0 || (tp + 0 == besttp + 0 && rate + 0 < bestrate + 0)) {
        best = $1; besttp = tp; bestrate = rate; bestsens = $column["sensitivity"]
      }
    }
    END { if (best != "") printf "%s %.1f%% %.2f %s\n", best, 100 * bestsens, bestrate, besttp }' "$1"
}

# Alone: each setting swept from the defaults. In turn: each swept on top
# of the values already chosen, as a person tuning by hand goes on.
for mode in alone "in turn"; do
  chosen=()
  echo "$mode (training figures on $data, budget $budget false alarms per hour):"
  for setting in lowLevel burstLow burstLowMinLen rollLimit; do
    range=$("$tune" search --print-space | awk -v name="$setting" '$1 == name { print $2 ":" $3 ":" $4 }')
    base=()
    [ "$mode" = alone ] || base=("${chosen[@]}")
    "$tune" sweep -j "$jobs" "${base[@]}" --vary "$setting=$range" --csv "$work/$setting.csv" "$data" >/dev/null
    value=""
    read -r value sensitivity rate tp <<<"$(best_within "$work/$setting.csv")" || true
    if [ -z "$value" ]; then
      echo "  $setting ($range): no value within the budget"
      continue
    fi
    echo "  $setting=$value ($range): sensitivity $sensitivity, $rate false alarms per hour"
    chosen+=(--set "$setting=$value")
  done
  if [ "${#chosen[@]}" -gt 0 ]; then
    echo "  combined (${chosen[*]//--set /}):"
    "$eval_tool" -q -j "$jobs" "${chosen[@]}" "$data" | grep -E '^(Sensitivity|False alarms per hour)' | sed 's/^/    /'
  fi
done
