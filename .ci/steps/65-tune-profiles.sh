#!/usr/bin/env bash
# The shipped settings profiles and the selection rules, once (not in the
# sanitizer or Debug reruns): remakes one profile with the command its
# comment block records and checks it comes out the same (less the notes
# added by hand and the list of recordings tuned on), then
# runs a small nested cross-validation of two selection rules. Both need
# the shared SisFall subjects; without them the step says so and passes.
set -euo pipefail
cd "$(dirname "$0")/../.."

tune=$PWD/build/bin/velmora-tune
[ -x "$tune" ] || { echo "build/bin/velmora-tune not built" >&2; exit 1; }
data=../shared/data/sisfall-sa01-sa11
if [ ! -d "$data" ]; then
  echo "skipped: $data is absent (the profiles are made from the shared SisFall subjects)"
  exit 0
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-profiles-ci.XXXXXX")
trap 'rm -rf "$work"' EXIT

profile=profiles/fa2.settings
command=$(sed -n 's/^# Command: velmora-tune //p' "$profile")
[ -n "$command" ] || { echo "$profile records no command" >&2; exit 1; }
# The recorded command is shell words written by velmora-tune itself.
status=0
eval "\"\$tune\" $command -j 2 -o \"\$work/remade.settings\"" >"$work/report.txt" || status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
  cat "$work/report.txt" >&2
  echo "remaking $profile failed with status $status" >&2
  exit 1
fi
# What the search writes, without the notes added by hand ("# Note: ...")
# and the record of the recordings tuned on (their hashes, which a search
# writes when the tools record them).
searched() {
  grep -v -e '^# Note: ' -e '^# tuned-on ' -e '^# Tuned on these ' -e '^# marks the recordings' "$1"
}
if ! cmp <(searched "$profile") <(searched "$work/remade.settings"); then
  diff <(searched "$profile") <(searched "$work/remade.settings") | head -20 >&2
  echo "$profile does not come out the same when remade" >&2
  exit 1
fi
echo "$profile remade: the same settings, figures and comments"

scripts/compare-selection.sh --tune "$tune" --data "$data" --trials 20 \
  --methods train,people:0 --parallel 2
