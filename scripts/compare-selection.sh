#!/usr/bin/env bash
# Nested cross-validation of velmora-tune's selection rules: for each rule,
# a search whose folds split the people (the outer split); each fold's
# search sees only its training people, so its held-out people judge the
# whole procedure, rule and search together. Prints one Markdown table row
# per rule: pooled held-out sensitivity and false alarms per hour (with
# intervals), folds within the budget, the median and the worst held-out
# person, and the CPU time it took.
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: scripts/compare-selection.sh [options] [-- EXTRA-SEARCH-OPTIONS...]

Options:
  --tune PATH     velmora-tune to run (default: build/bin/velmora-tune)
  --data DIR      recordings (default: ../shared/data/sisfall-sa01-sa11 next to
                  the repository)
  --group-by RE   group key (default: '_(SA[0-9]+)_', the SisFall subject)
  --folds K       outer folds (default 5)
  --budget X      false alarms per hour (default 1)
  --trials N      candidates per search (default 300)
  --methods LIST  comma-separated rules, each a --select value, optionally
                  with '+moved=N' or '+trials=N' (default:
                  train,bound:0.8,people:0.2,people:0,flat,train+moved=2,train+trials=100)
  --seed S        seed (default 1)
  -j N            threads per search (default 1)
  --parallel P    rules run at once (default 1)
  -h, --help      show this help

Example:
  nice -n 10 scripts/compare-selection.sh --budget 1 --trials 300 --parallel 2
TEXT
}

fail() {
  echo "compare-selection: $*" >&2
  exit 2
}

repo=$(cd "$(dirname "$0")/.." && pwd)
tune="$repo/build/bin/velmora-tune"
data="$repo/../shared/data/sisfall-sa01-sa11"
group='_(SA[0-9]+)_'
folds=5
budget=1
trials=300
methods="train,bound:0.8,people:0.2,people:0,flat,train+moved=2,train+trials=100"
seed=1
jobs=1
parallel=1
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --tune) [ $# -ge 2 ] || fail "--tune needs a path"; tune=$2; shift 2 ;;
    --data) [ $# -ge 2 ] || fail "--data needs a folder"; data=$2; shift 2 ;;
    --group-by) [ $# -ge 2 ] || fail "--group-by needs a pattern"; group=$2; shift 2 ;;
    --folds) [ $# -ge 2 ] || fail "--folds needs a number"; folds=$2; shift 2 ;;
    --budget) [ $# -ge 2 ] || fail "--budget needs a number"; budget=$2; shift 2 ;;
    --trials) [ $# -ge 2 ] || fail "--trials needs a number"; trials=$2; shift 2 ;;
    --methods) [ $# -ge 2 ] || fail "--methods needs a list"; methods=$2; shift 2 ;;
    --seed) [ $# -ge 2 ] || fail "--seed needs a number"; seed=$2; shift 2 ;;
    -j) [ $# -ge 2 ] || fail "-j needs a number"; jobs=$2; shift 2 ;;
    --parallel) [ $# -ge 2 ] || fail "--parallel needs a number"; parallel=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    --) shift; extra=("$@"); break ;;
    *) usage >&2; fail "unknown argument '$1'" ;;
  esac
done
[ -x "$tune" ] || fail "$tune not built"
[ -d "$data" ] || fail "no folder '$data'"
[ -x /usr/bin/time ] || fail "/usr/bin/time not found (Debian: apt-get install time)"
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-selection.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One rule: its search, then its table row from the report.
run_rule() {
  local index=$1 method=$2 rule=${2%%+*} rule_trials=$trials moved=0 part
  IFS='+' read -r -a parts <<<"$method"
  for part in "${parts[@]:1}"; do
    case "$part" in
      moved=*) moved=${part#moved=} ;;
      trials=*) rule_trials=${part#trials=} ;;
      *) echo "| $method | unknown modifier '$part' |" >"$work/row.$index"; return ;;
    esac
  done
  local status=0
  /usr/bin/time -f '%U %S' -o "$work/time.$index" "$tune" search --group-by "$group" \
    --folds "$folds" --max-fa-per-hour "$budget" --trials "$rule_trials" --seed "$seed" \
    --select "$rule" --max-moved "$moved" -j "$jobs" "${extra[@]}" "$data" \
    >"$work/report.$index" 2>"$work/err.$index" || status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
    echo "| $method | search failed (status $status): $(head -c 200 "$work/err.$index" | tr '\n' ' ') |" >"$work/row.$index"
    return
  fi
  awk -v method="$method" -v cpu="$(tail -n 1 "$work/time.$index" | awk '{ printf "%.0f", $1 + $2 }')" '
    /^Pooled held-out/ {
      sub(/^Pooled held-out \(the estimate for new people\): /, "")
      pooled = $0
    }
    /^Folds within the budget:/ { within = $5 " of " $7 }
    /^Median person:/ { sub(/^Median person: /, ""); median = $0 }
    /^Most false alarms:/ { sub(/^Most false alarms: /, ""); worst = $0 }
    /^Lowest sensitivity:/ { sub(/^Lowest sensitivity: /, ""); lowest = $0 }
    END {
      printf "| %s | %s | %s | %s | %s; lowest sensitivity %s | %s |\n", method, pooled, within, median, worst, lowest, cpu
    }' "$work/report.$index" >"$work/row.$index"
}

IFS=',' read -r -a list <<<"$methods"
running=0
for i in "${!list[@]}"; do
  run_rule "$i" "${list[$i]}" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

echo "Nested cross-validation: $folds outer folds by '$group', budget $budget false alarms per hour, $trials candidates per search, seed $seed; data $data"
echo
echo "| method | pooled held-out (95% CI; by person) | folds within budget | median person | worst person | CPU s |"
echo "| --- | --- | --- | --- | --- | ---: |"
for i in "${!list[@]}"; do
  cat "$work/row.$i"
done
