#!/usr/bin/env bash
# End-to-end throughput of Drovik and velmora-eval on generated data.
#
# Makes, in a temporary folder (never in the repository), one long recording
# and a folder of many short recordings, from the shared recordings next to
# the repository when they are there, else from a generator in this script.
# Then times Drovik on the long recording and velmora-eval (-j 1 and -j 2)
# on the folder, and prints samples per second, peak memory and the ratios
# the throughput targets are stated in.
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: scripts/bench-e2e.sh [options]

Options:
  --build DIR     build folder holding bin/Drovik and bin/velmora-eval
                  (default: build-bench; configure it with
                  -DCMAKE_BUILD_TYPE=Release for figures worth quoting)
  --samples N     samples in the long recording (default 400000, at least 1000)
  --files N       short recordings in the folder (default 4000)
  --repeat N      runs of each timing; the fastest counts (default 3)
  --source KIND   shared | generated: where the samples come from (default:
                  shared when ../shared/data/recordings exists, else generated)
  --keep          keep the temporary folder and print its path
  -h, --help      show this help

Example:
  scripts/bench-e2e.sh --build build-bench --samples 400000 --files 4000
TEXT
}

fail() {
  echo "bench-e2e: $*" >&2
  exit 2
}

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
samples=400000
files=4000
repeat=3
source_kind=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) [ $# -ge 2 ] || fail "--build needs a folder"; build=$2; shift 2 ;;
    --samples) [ $# -ge 2 ] || fail "--samples needs a number"; samples=$2; shift 2 ;;
    --files) [ $# -ge 2 ] || fail "--files needs a number"; files=$2; shift 2 ;;
    --repeat) [ $# -ge 2 ] || fail "--repeat needs a number"; repeat=$2; shift 2 ;;
    --source) [ $# -ge 2 ] || fail "--source needs shared or generated"; source_kind=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; fail "unknown argument '$1'" ;;
  esac
done
for value in "$samples" "$files" "$repeat"; do
  [[ "$value" =~ ^[0-9]+$ ]] && [ ${#value} -le 9 ] || fail "'$value' is not a whole number below 10^9"
done
[ "$samples" -ge 1000 ] || fail "--samples must be at least 1000"
[ "$files" -ge 1 ] || fail "--files must be at least 1"
[ "$repeat" -ge 1 ] || fail "--repeat must be at least 1"

drovik="$build/bin/Drovik"
eval_tool="$build/bin/velmora-eval"
[ -x "$drovik" ] || fail "$drovik not found; build first: cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release && cmake --build build-bench -j2"
[ -x /usr/bin/time ] || fail "/usr/bin/time not found (Debian: apt-get install time)"
have_eval=1
[ -x "$eval_tool" ] || have_eval=0

shared_recordings="$repo/../shared/data/recordings"
if [ -z "$source_kind" ]; then
  if compgen -G "$shared_recordings/*.csv" >/dev/null; then source_kind=shared; else source_kind=generated; fi
fi
case "$source_kind" in
  shared) compgen -G "$shared_recordings/*.csv" >/dev/null || fail "no recordings in $shared_recordings" ;;
  generated) ;;
  *) fail "--source must be shared or generated" ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-e2e.XXXXXX")
if [ "$keep" -eq 1 ]; then
  echo "temporary folder kept: $work"
else
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/seeds" "$work/short"

# Seed recordings: the shared ones (with their .info files), or 24 generated
# ones of 600 to 1200 samples: walking, half of them with a fall and lying
# after it (those get an .info file like the shared falls).
if [ "$source_kind" = shared ]; then
  cp "$shared_recordings"/*.csv "$work/seeds/"
  for info in "$shared_recordings"/*.info; do
    [ -e "$info" ] && cp "$info" "$work/seeds/"
  done
else
  for seed in $(seq 1 24); do
    awk -v seed="$seed" -v out="$work/seeds/gen-$seed" 'BEGIN {
      n = 600 + (seed * 97) % 600; fall = (seed % 2 == 0) ? int(n / 2) : -1;
      csv = out ".csv";
      print "generated recording " seed > csv; print "activity: walking" (fall >= 0 ? ", fall" : "") > csv;
      print "subject: none" > csv; print "trial: " seed > csv; print "rate: 50 Hz" > csv;
      print "counts: 8192 per g, 65.536 per deg/s" > csv; print "index,ax,ay,az,gx,gy,gz" > csv;
      srand(seed); pi = 3.141592653589793;
      for (i = 0; i < n; i++) {
        t = i / 50; noise = int(rand() * 160) - 80;
        if (fall < 0 || i < fall - 25) {          # walking upright: y reads -1 g
          ax = 500 * sin(2 * pi * t); ay = -8192 + 2000 * sin(4 * pi * t); az = 800 * sin(2 * pi * t + 0.5);
          gx = 1000 * sin(2 * pi * t); gy = 500 * sin(4 * pi * t); gz = 1300 * sin(2 * pi * t + 0.5);
        } else if (i < fall) {                     # falling: turning face down, near free fall
          a = (i - fall + 25) / 25 * pi / 2; ax = 150; ay = -1600 * cos(a); az = -1600 * sin(a);
          gx = 11800; gy = 650; gz = -330;
        } else if (i < fall + 5) {                 # impact
          ax = 2400; ay = 3200; az = -29000 + 4900 * (i - fall); gx = -7800; gy = 3900; gz = 2000;
        } else {                                   # lying face down
          ax = 0; ay = 0; az = -8192; gx = 0; gy = 0; gz = 0;
        }
        printf "%d,%d,%d,%d,%d,%d,%d\n", i, ax + noise, ay - noise, az + noise, gx + noise, gy, gz > csv;
      }
      if (fall >= 0) print "gen-" seed "," fall ",1" > (out ".info");
    }'
  done
fi

# The long recording: the seeds' data lines one after another, renumbered,
# until there are enough samples.
{
  echo "long benchmark recording ($source_kind)"
  for i in 2 3 4 5 6; do echo "header line $i"; done
  echo "index,ax,ay,az,gx,gy,gz"
  # Data lines of one pass over the seeds, repeated as often as needed.
  for seed in "$work"/seeds/*.csv; do tail -n +8 "$seed"; done > "$work/pass.txt"
  awk -F, -v OFS=, -v n="$samples" '
    NF >= 7 { line[count++] = $0 }
    END {
      for (i = 0; count > 0 && i < n; i++) { $0 = line[i % count]; $1 = i; print }
    }' "$work/pass.txt"
} > "$work/long.csv"
long_samples=$(( $(wc -l < "$work/long.csv") - 7 ))
[ "$long_samples" -eq "$samples" ] || fail "long recording has $long_samples samples, wanted $samples"

# The short recordings: the seeds copied round-robin, .info files alongside
# (one awk process writes them all; a cp per file is slow on a busy machine).
ls "$work"/seeds/*.csv > "$work/seed-list.txt"
awk -v files="$files" -v folder="$work/short" '
  function copy(from, to,    line) {
    while ((getline line < from) > 0) print line > to
    close(from); close(to)
  }
  { seed[count++] = $0 }
  END {
    for (i = 0; i < files; i++) {
      path = seed[i % count]; base = path; sub(/.*\//, "", base); sub(/\.csv$/, "", base)
      name = folder "/" sprintf("r%05d-%s", i, base)
      copy(path, name ".csv")
      info = path; sub(/\.csv$/, ".info", info)
      if ((getline probe < info) >= 0) { close(info); copy(info, name ".info") }
    }
  }' "$work/seed-list.txt"
short_samples=$(find "$work/short" -name '*.csv' -exec awk 'FNR > 7' {} + | wc -l)

# Runs a command `repeat` times; prints "wall user sys maxrss_kib" of the
# fastest run (by wall time).
best_of() {
  local best="" line
  for ((r = 0; r < repeat; r++)); do
    /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" ||
      { cat "$work/stderr.txt" >&2; fail "'$*' failed"; }
    line=$(tail -n 1 "$work/time.txt")
    if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN { split(a, x, " "); split(b, y, " "); exit !(x[1] < y[1]) }'; then
      best=$line
    fi
  done
  echo "$best"
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }'; }

load=$(cut -d' ' -f1 /proc/loadavg)
if awk -v l="$load" -v c="$(nproc)" 'BEGIN { exit !(l > c / 2) }'; then
  echo "note: load average $load on $(nproc) cores: other work shares the CPUs, so wall-clock"
  echo "      rates and the -j speed-up understate; the per-CPU-second rates hold up better."
fi
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "source: $source_kind; long recording: $long_samples samples; folder: $files recordings, $short_samples samples"
echo

read -r wall user sys rss <<<"$(best_of "$drovik" "$work/long.csv")"
drovik_rate=$(rate "$long_samples" "$wall")
drovik_cpu_rate=$(rate "$long_samples" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')")
printf 'Drovik long.csv          %8.2f s  %10s samples/s (%s per CPU second)  peak %s KiB\n' \
  "$wall" "$drovik_rate" "$drovik_cpu_rate" "$rss"

# Peak memory must not grow with the recording: replay one four times longer.
cat "$work/long.csv" > "$work/longer.csv"
for i in 1 2 3; do tail -n +8 "$work/long.csv"; done >> "$work/longer.csv"
read -r wall4 _ _ rss4 <<<"$(repeat=1 best_of "$drovik" "$work/longer.csv")"
printf 'Drovik 4 x longer        %8.2f s  %10s samples/s  peak %s KiB\n' \
  "$wall4" "$(rate $((long_samples * 4)) "$wall4")" "$rss4"
rm -f "$work/longer.csv"

if [ "$have_eval" -eq 0 ]; then
  echo
  echo "velmora-eval not built ($eval_tool); its throughput is not measured."
  exit 0
fi
read -r wall1 user1 sys1 rss1 <<<"$(best_of "$eval_tool" -j 1 "$work/short")"
read -r wall2 user2 sys2 rss2 <<<"$(best_of "$eval_tool" -j 2 "$work/short")"
eval1_rate=$(rate "$short_samples" "$wall1")
eval2_rate=$(rate "$short_samples" "$wall2")
cpu_rate() { rate "$1" "$(awk -v u="$2" -v s="$3" 'BEGIN { print u + s }')"; }
printf 'velmora-eval -j 1        %8.2f s  %10s samples/s (%s per CPU second)  peak %s KiB\n' \
  "$wall1" "$eval1_rate" "$(cpu_rate "$short_samples" "$user1" "$sys1")" "$rss1"
printf 'velmora-eval -j 2        %8.2f s  %10s samples/s (%s per CPU second)  peak %s KiB\n' \
  "$wall2" "$eval2_rate" "$(cpu_rate "$short_samples" "$user2" "$sys2")" "$rss2"
echo
awk -v d="$drovik_rate" -v dc="$drovik_cpu_rate" -v c1="$(cpu_rate "$short_samples" "$user1" "$sys1")" -v e1="$eval1_rate" -v e2="$eval2_rate" -v rss="$rss" -v rss4="$rss4" 'BEGIN {
  verdict = "met"; if (d < 1000000) verdict = "missed";
  printf "Drovik >= 1,000,000 samples/s:        %s (%.2f M/s)\n", verdict, d / 1e6;
  verdict = (rss < 4096 && rss4 < 4096) ? "met" : "missed";
  printf "Drovik peak memory < 4 MiB, any size:  %s (%d and %d KiB)\n", verdict, rss, rss4;
  ratio = (e1 > 0) ? d / e1 : 0; verdict = (ratio <= 1.2) ? "met" : "missed";
  printf "eval -j 1 within 1.2x of Drovik:       %s (Drovik / eval = %.2f)\n", verdict, ratio;
  ratio = (c1 > 0) ? dc / c1 : 0; verdict = (ratio <= 1.2) ? "met" : "missed";
  printf "  same, per CPU second:                %s (Drovik / eval = %.2f)\n", verdict, ratio;
  speedup = (e1 > 0) ? e2 / e1 : 0; verdict = (speedup >= 1.8) ? "met" : "missed";
  printf "eval -j 1 to -j 2 speed-up >= 1.8:     %s (%.2fx)\n", verdict, speedup;
}'
