#!/usr/bin/env bash
# The detector on the Cortex-M4: builds the m4 preset with the cross
# compiler and runs, under QEMU, every shared conformance case, the bundled
# example recordings and the shared recordings through the target's Drovik
# and trace programs, byte for byte against the expected outputs and the
# host's programs (scripts/m4-compare.sh); then the firmware example, whose
# first alarm must come at the sample the host's Drovik reports.
set -euo pipefail
cd "$(dirname "$0")/../.."

rm -rf build-m4
cmake --preset m4 >/dev/null
cmake --build build-m4 -j2
bash scripts/m4-compare.sh build

# Drovik's position message: '<path>'<text> '<position>' <text>
data=examples/recordings/fall_forward.csv
want=$(build/bin/Drovik "$data" | LC_ALL=C sed -n "s/^'[^']*'[^']*'\([0-9]*\)'.*/\1/p")
got=$(M4_RUN_NO_BUILD=1 bash scripts/m4-run.sh firmware-example "$data" |
  sed -n 's/^fall alarm: pattern [0-9]* at sample \([0-9]*\)$/\1/p' | head -1)
if [ -z "$want" ] || [ "$got" != "$want" ]; then
  echo "firmware example: first alarm at sample '${got}', Drovik reports '${want}'" >&2
  exit 1
fi
echo "firmware example: first alarm at sample $got, as Drovik reports"
