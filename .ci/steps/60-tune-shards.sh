#!/usr/bin/env bash
# velmora-tune across machines, on one machine: a small sweep run as two
# shards through GNU parallel and a small search run as the tasks of a SLURM
# job array (SLURM_ARRAY_TASK_ID set in a loop, since there is no cluster).
# Each merge must give exactly the outputs of the unsharded run.
set -euo pipefail
cd "$(dirname "$0")/../.."

tune=$PWD/build/bin/velmora-tune
[ -x "$tune" ] || { echo "build/bin/velmora-tune not built" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-tune-ci.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Three people, each with the example recordings.
mkdir "$work/data"
for person in p1 p2 p3; do
  for file in examples/recordings/*; do
    cp "$file" "$work/data/${person}_$(basename "$file")"
  done
done

same() {
  for name in "$@"; do
    cmp "$work/whole.$name" "$work/merged.$name" || { echo "merge differs from the unsharded run: $name" >&2; exit 1; }
  done
}

sweep=(sweep --vary lowLevel=40:100:5 --vary impactMin=120:180:30 "$work/data")
"$tune" "${sweep[@]}" --csv "$work/whole.csv" --roc "$work/whole.svg" >"$work/whole.txt"
parallel --will-cite -j 2 "$tune" "${sweep[@]}" --shard {}/2 --part "$work/sweep-{}.tune" ::: 1 2
"$tune" merge --csv "$work/merged.csv" --roc "$work/merged.svg" "$work"/sweep-*.tune >"$work/merged.txt"
same csv svg txt
echo "sharded sweep through GNU parallel: merge equals the unsharded run"

search=(search --group-by '^(p[0-9])_' --folds 2 --max-fa-per-hour 100 --trials 20 "$work/data")
"$tune" "${search[@]}" -o "$work/whole.settings" --csv "$work/whole.csv" >"$work/whole.txt"
for task in 0 1 2; do
  SLURM_ARRAY_TASK_ID=$task SLURM_ARRAY_TASK_COUNT=3 VELMORA_TUNE=$tune \
    scripts/velmora-tune-slurm.sh "$work/parts" "${search[@]}"
done
"$tune" merge -o "$work/merged.settings" --csv "$work/merged.csv" "$work"/parts/part-*-of-3.tune \
  >"$work/merged.txt"
same settings csv txt
echo "search as a SLURM job array: merge equals the unsharded run"
