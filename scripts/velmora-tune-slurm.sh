#!/usr/bin/env bash
# One shard of a velmora-tune sweep or search per task of a SLURM job array.
#
#   sbatch --array=0-5 --cpus-per-task=4 scripts/velmora-tune-slurm.sh PARTS_DIR \
#       search --group-by '_(SA[0-9]+)_' --folds 5 --max-fa-per-hour 1 --trials 1000 data/
#
# Task K of the N tasks of the array runs the same command with
# --shard K/N --part PARTS_DIR/part-K-of-N.tune (and -j set to the CPUs SLURM
# gives the task). When every task has finished, one merge writes what the
# unsharded run would have written, for example from a job that depends on
# the array (sbatch --dependency=afterok:<array job id> ...):
#
#   velmora-tune merge -o tuned.settings --csv trials.csv PARTS_DIR/part-*-of-6.tune
#
# A search deals out its folds + 1 searches, so give it at most folds + 1
# tasks; a sweep deals out grid points, so any number of tasks works.
# Environment: SLURM_ARRAY_TASK_ID, SLURM_ARRAY_TASK_COUNT (and
# SLURM_ARRAY_TASK_MIN when the array does not start at 0) come from SLURM;
# VELMORA_TUNE names the program (default: velmora-tune on the PATH).
#SBATCH --job-name=velmora-tune
#SBATCH --output=velmora-tune-%A_%a.log
set -euo pipefail

if [ $# -lt 2 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
  sed -n '2,/^#SBATCH/{/^#SBATCH/d;s/^# \{0,1\}//;p}' "$0"
  [ $# -ge 1 ] && { [ "$1" = "-h" ] || [ "$1" = "--help" ]; } && exit 0
  exit 2
fi
parts=$1
shift
: "${SLURM_ARRAY_TASK_ID:?not set: run this as a SLURM array task (sbatch --array=0-N)}"
: "${SLURM_ARRAY_TASK_COUNT:?not set: run this as a SLURM array task (sbatch --array=0-N)}"
first=${SLURM_ARRAY_TASK_MIN:-0}
count=$SLURM_ARRAY_TASK_COUNT
index=$((SLURM_ARRAY_TASK_ID - first + 1))
if [ "$index" -lt 1 ] || [ "$index" -gt "$count" ]; then
  echo "velmora-tune-slurm: task $SLURM_ARRAY_TASK_ID lies outside the array $first..$((first + count - 1))" >&2
  exit 2
fi
tune=${VELMORA_TUNE:-velmora-tune}
jobs=()
if [ -n "${SLURM_CPUS_PER_TASK:-}" ]; then
  jobs=(-j "$SLURM_CPUS_PER_TASK")
fi
mkdir -p "$parts"
exec "$tune" "$@" "${jobs[@]}" --shard "$index/$count" --part "$parts/part-$index-of-$count.tune"
