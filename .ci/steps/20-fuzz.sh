#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan) and runs each one for
# a bounded time from its seed corpus. A crash, leak, sanitizer report,
# timeout or broken property fails the step; the input that caused it is
# kept under build-fuzz/artifacts/ and printed as hex.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${VELMORA_FUZZ_SECONDS:-30}
build=build-fuzz

rm -rf "$build"
cmake --preset fuzz
cmake --build --preset fuzz

# harness, seed folder, longest input
harnesses=(
  "fuzz-recording recording 32768"
  "fuzz-infofile info 4096"
  "fuzz-detector detector 16384"
  "fuzz-settings settings 4096"
  "fuzz-import import 16384"
  "fuzz-partfile partfile 16384"
)
mkdir -p "$build/artifacts"
# The harnesses rewrite a scratch file per input; keep it in memory.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm

failed=0
for entry in "${harnesses[@]}"; do
  read -r name seeds maxLen <<<"$entry"
  corpus="$build/corpus/$seeds"
  mkdir -p "$corpus"
  # Committed regression inputs first: each must pass before fuzzing starts.
  regressions=()
  [ -d "fuzz/regressions/$seeds" ] && regressions=("fuzz/regressions/$seeds")
  echo "-- $name: ${seconds} s from $build/fuzz-seeds/$seeds ${regressions[*]}"
  if ! "$build/bin/$name" -max_total_time="$seconds" -max_len="$maxLen" -timeout=25 \
      -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
      "$corpus" "$build/fuzz-seeds/$seeds" "${regressions[@]}" >"$build/$name.log" 2>&1; then
    failed=1
    echo "!! $name failed:"
    grep -E -A30 'ERROR|runtime error|property violated|Test unit written' "$build/$name.log" | head -60
    for artifact in "$build"/artifacts/"$name"-*; do
      [ -e "$artifact" ] || continue
      echo "-- $artifact"
      od -A d -t x1 "$artifact" | head -20
    done
  fi
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$name.log" || true
done
exit "$failed"
