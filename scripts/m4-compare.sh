#!/usr/bin/env bash
# Runs recordings through Drovik and the trace harness built for the
# Cortex-M4, under QEMU, and compares their output byte for byte:
#   - every case of ../shared/conformance/cases with its expected standard
#     output, exit status and trace;
#   - the bundled examples/recordings and the recordings of
#     ../shared/data/recordings with the host's Drovik and velmora-trace.
# Each run is started as the conformance cases were made: from the file's
# folder, with the bare file name. Prints one line per difference and a
# summary; exit status 1 when anything differs, 2 when nothing could run.
#
# Usage: scripts/m4-compare.sh [HOST_BUILD_DIR]   (default: build)
#   The host build must hold bin/Drovik and bin/velmora-trace; without them
#   only the conformance cases are compared. The target build is made with
#   the m4 preset (build-m4/) first. Runs two emulators at a time
#   (M4_JOBS to change that).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
host_build=${1:-$repo/build}
case $host_build in /*) ;; *) host_build=$PWD/$host_build ;; esac
shared=$repo/../shared
jobs=${M4_JOBS:-2}

(cd "$repo" && { [ -f build-m4/CMakeCache.txt ] || cmake --preset m4 >/dev/null; } &&
  cmake --build build-m4 -j2 >/dev/null)
export M4_RUN_NO_BUILD=1 M4_BUILD_DIR=$repo/build-m4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One job line per run: KIND<TAB>FOLDER<TAB>NAME, where KIND is
#   conformance  expected files beside the recording;
#   host         expected output from the host's programs.
{
  if [ -d "$shared/conformance/cases" ]; then
    for csv in "$shared"/conformance/cases/*.csv; do
      printf 'conformance\t%s\t%s\n' "$(dirname "$csv")" "$(basename "$csv" .csv)"
    done
  else
    echo "m4-compare: $shared/conformance/cases is absent; conformance cases skipped" >&2
  fi
  if [ -x "$host_build/bin/Drovik" ] && [ -x "$host_build/bin/velmora-trace" ]; then
    for csv in "$repo"/examples/recordings/*.csv "$shared"/data/recordings/*.csv; do
      [ -f "$csv" ] || continue
      printf 'host\t%s\t%s\n' "$(dirname "$csv")" "$(basename "$csv" .csv)"
    done
  else
    echo "m4-compare: no host Drovik and velmora-trace in $host_build; recordings skipped" >&2
  fi
} >"$work/jobs"

if [ ! -s "$work/jobs" ]; then
  echo "m4-compare: nothing to compare" >&2
  exit 2
fi

# Runs one recording through both target programs and writes one result
# line: "same NAME" or "differs NAME: WHAT".
compare_one() {
  local kind=$1 folder=$2 name=$3
  local out=$work/$kind-$name
  local info=() status expected_status problems=()
  cd "$folder"
  [ -f "$name.info" ] && info=("$name.info")
  status=0
  bash "$repo/scripts/m4-run.sh" Drovik "$name.csv" "${info[@]}" >"$out.stdout" 2>"$out.stderr" ||
    status=$?
  bash "$repo/scripts/m4-run.sh" trace "$name.csv" >"$out.trace" 2>/dev/null || true
  if [ "$kind" = conformance ]; then
    expected_status=$(cat "$name.rc" 2>/dev/null || echo 0)
    cp "$name.stdout" "$out.want-stdout"
    if [ -f "$name.trace" ]; then cp "$name.trace" "$out.want-trace"; else : >"$out.want-trace"; fi
  else
    expected_status=0
    "$host_build/bin/Drovik" "$name.csv" "${info[@]}" >"$out.want-stdout" 2>/dev/null ||
      expected_status=$?
    "$host_build/bin/velmora-trace" "$name.csv" >"$out.want-trace" 2>/dev/null || true
  fi
  cmp -s "$out.stdout" "$out.want-stdout" || problems+=("Drovik output")
  [ "$status" = "$expected_status" ] || problems+=("exit status $status, not $expected_status")
  cmp -s "$out.trace" "$out.want-trace" ||
    problems+=("trace from line $(cmp "$out.trace" "$out.want-trace" 2>&1 | sed -n 's/.* line \([0-9]*\).*/\1/p' | head -1)")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "same $kind $name"
  else
    local IFS=,
    echo "differs $kind $name: ${problems[*]}"
  fi
}
export -f compare_one
export repo host_build work

start=$(date +%s)
tr '\t' '\n' <"$work/jobs" |
  xargs -d '\n' -n 3 -P "$jobs" bash -c 'compare_one "$@"' _ >"$work/results"
seconds=$(($(date +%s) - start))

grep '^differs' "$work/results" | sort || true
same=$(grep -c '^same' "$work/results" || true)
differs=$(grep -c '^differs' "$work/results" || true)
conformance=$(grep -c '^same conformance' "$work/results" || true)
echo "m4-compare: $same of $((same + differs)) recordings identical on the Cortex-M4" \
  "($conformance conformance cases, $((same - conformance)) recordings against the host)," \
  "$differs differ; ${seconds} s"
[ "$differs" -eq 0 ]
