#!/usr/bin/env bash
# Regenerates the bundled example recordings in examples/recordings/ with
# velmora-synth. The output is byte-identical to the committed files.
#
# Usage: examples/generate.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
synth="$build/bin/velmora-synth"
if [ ! -x "$synth" ]; then
  echo "generate.sh: $synth not found; build the project first (cmake --build $build)" >&2
  exit 1
fi
out="$root/examples/recordings"
mkdir -p "$out"

# Seeds were chosen so that each recording shows its activity clearly. The
# first four are judged correctly by the current detector (the falls are
# detected, the daily activities are not); the last two show how it fails: a
# slow fall without free fall that it misses, and a jump down from a wall
# that raises an alarm.
"$synth" --seed 1 --walk 6 --rest 6 fall-forward "$out/fall_forward.csv"
"$synth" --seed 1 --walk 6 --rest 6 fall-backward "$out/fall_backward.csv"
"$synth" --seed 1 --walk 12 --rest 3 walking "$out/walking.csv"
"$synth" --seed 1 --walk 5 --rest 5 sit-down "$out/sit_down.csv"
"$synth" --seed 1 --walk 5 --rest 5 fall-slow "$out/fall_slow.csv"
"$synth" --seed 1 --walk 5 --rest 5 jump-down "$out/jump_down.csv"
