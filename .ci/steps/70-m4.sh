#!/usr/bin/env bash
# The detector on the Cortex-M4: builds the m4 preset with the cross
# compiler and runs, under QEMU, every shared conformance case, the bundled
# example recordings and the shared recordings through the target's Drovik
# and trace programs, byte for byte against the expected outputs and the
# host's programs (scripts/m4-compare.sh); then a few command lines against
# the host's Drovik, and the firmware example, whose first alarm must come
# at the sample the host's Drovik reports.
set -euo pipefail
cd "$(dirname "$0")/../.."

rm -rf build-m4
cmake --preset m4 >/dev/null
cmake --build build-m4 -j2
bash scripts/m4-compare.sh build

# The command line's way to the target: no arguments (usage, status 1), a
# path with a space and a comma plus an empty info path, a folder, and a
# file name in CP949 bytes; output and status as the host's.
for args in "" "no such, file.csv|" "examples" $'\xc0\xa7.csv'; do
  IFS='|' read -r -a argv <<<"$args"
  [ "${args: -1}" = '|' ] && argv+=("")
  want_status=0 got_status=0
  want=$(build/bin/Drovik "${argv[@]}") || want_status=$?
  got=$(M4_RUN_NO_BUILD=1 bash scripts/m4-run.sh Drovik "${argv[@]}") || got_status=$?
  if [ "$got" != "$want" ] || [ "$got_status" != "$want_status" ]; then
    echo "Drovik ${argv[*]}: the target printed or ended differently from the host" >&2
    exit 1
  fi
done
echo "Drovik's command line: usage, odd paths, an empty argument and a folder as on the host"

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
