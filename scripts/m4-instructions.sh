#!/usr/bin/env bash
# Instructions per sample of Drovik on the Cortex-M4, measured under QEMU.
#
# Runs the target's Drovik on the first N1 and the first N2 samples of a
# recording with QEMU writing one log line per executed instruction
# (-singlestep -d exec,nochain) into a pipe, counts the lines by function
# (scripts/m4-profile.py), and divides the differences between the two runs
# by N2 - N1, so that start-up, set-up and the verdict cancel out. Prints
# instructions per sample in all, in the detector's per-sample call, in the
# attitude filter, in line reading and splitting, and in software
# double-precision arithmetic (libgcc's double routines and libm), and the
# share of a 64 MHz core at 50 samples per second for a given number of
# cycles per instruction.
#
# Usage: scripts/m4-instructions.sh DATA [N1 N2 [CPI]]   (defaults 500 1000 1.25)
# The recording must hold at least N2 data lines. Takes a few minutes; the
# log is never written to disk.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage() { sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }
if [ $# -ge 1 ] && { [ "$1" = -h ] || [ "$1" = --help ]; }; then
  usage
  exit 0
fi
if [ $# -lt 1 ]; then
  usage >&2
  exit 2
fi
data=$1
n1=${2:-500}
n2=${3:-1000}
cpi=${4:-1.25}
if [ ! -f "$data" ]; then
  echo "m4-instructions: $data: no such file" >&2
  exit 2
fi
lines=$(($(wc -l <"$data") - 7))
if [ "$n1" -ge "$n2" ] || [ "$lines" -lt "$n2" ]; then
  echo "m4-instructions: need N1 < N2 <= $lines (the data lines of $data)" >&2
  exit 2
fi

(cd "$repo" && { [ -f build-m4/CMakeCache.txt ] || cmake --preset m4 >/dev/null; } &&
  cmake --build build-m4 -j2 >/dev/null)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for n in "$n1" "$n2"; do
  head -n $((7 + n)) "$data" >"$work/first-$n.csv"
  mkfifo "$work/log-$n"
  python3 "$repo/scripts/m4-profile.py" "$work/log-$n" >"$work/profile-$n.json" &
  profiler=$!
  M4_RUN_NO_BUILD=1 M4_QEMU_ARGS="-singlestep -d exec,nochain -D $work/log-$n" \
    bash "$repo/scripts/m4-run.sh" Drovik "$work/first-$n.csv" >/dev/null
  wait "$profiler"
done

python3 - "$work/profile-$n1.json" "$work/profile-$n2.json" "$n1" "$n2" "$cpi" <<'EOF'
import json
import re
import sys

short, long_ = (json.load(open(path)) for path in sys.argv[1:3])
n1, n2, cpi = int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
samples = n2 - n1

def per_sample(read):
    return (read(long_) - read(short)) / samples

def inclusive(name):
    return lambda run: run["inclusive"].get(name, 0)

soft_double = re.compile(
    r"^(__aeabi_[dl]|__.*df[0-9]|__.*dfsi|__.*sidf|__ieee754_|__kernel_|sin$|cos$|asin$|atan2?$|"
    r"exp$|pow$|sqrt$|__fpclassify|__extendsfdf2|__truncdfsf2|__cmpdf2|__gedf2|__ledf2|"
    r"__nedf2|__eqdf2|__ltdf2|__gtdf2|__unorddf2|__fix|__float)")

def flat_matching(pattern):
    return lambda run: sum(count for symbol, count in run["flat"].items() if pattern.match(symbol))

total = per_sample(lambda run: run["total"])
detector = per_sample(inclusive("VelmoraProcessObserved"))
attitude = per_sample(inclusive("AttitudeFilterUpdate"))
parsing = per_sample(inclusive("parseSampleLine")) + per_sample(inclusive("fgets"))
double = per_sample(flat_matching(soft_double))
rate = 50
share = total * cpi * rate / 64e6

print(f"samples {n1} and {n2}: {short['total']} and {long_['total']} instructions")
print(f"instructions per sample         {total:9.0f}")
print(f"  VelmoraProcess (all of it)    {detector:9.0f}  {detector / total:6.1%}")
print(f"    attitude filter update      {attitude:9.0f}  {attitude / total:6.1%}")
print(f"  line reading and splitting    {parsing:9.0f}  {parsing / total:6.1%}")
print(f"  rest of the replay loop       {total - detector - parsing:9.0f}")
print(f"software double precision       {double:9.0f}  {double / total:6.1%}  (libgcc, libm; "
      "in the filter and elsewhere)")
print(f"64 MHz Cortex-M4 at {rate} samples/s, {cpi} cycles per instruction: "
      f"{share:.1%} of the core (detector alone {detector * cpi * rate / 64e6:.1%})")
print("functions by instructions per sample (callees apart):")
symbols = set(short["flat"]) | set(long_["flat"])
rows = sorted(((long_["flat"].get(s, 0) - short["flat"].get(s, 0)) / samples, s) for s in symbols)
for count, symbol in reversed(rows[-15:]):
    print(f"  {count:9.0f}  {symbol}")
EOF
