#!/usr/bin/env bash
# Makes the README's pictures of the evaluation report from the bundled
# examples (our generator's recordings): docs/report.png, a screenshot of
# velmora-eval --html in headless Chromium, and docs/fall_slow.svg, the
# report's zoomed figure of the missed slow fall; docs/report-explain.png,
# the explained report (velmora-eval --explain, with lowLevel lowered so
# that falls are missed for reasons a single setting can fix) opened at the
# captioned figure of the missed forward fall.
#
# Usage: scripts/report-screenshot.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
chromium="$(command -v chromium || command -v chromium-browser || true)"
if [ -z "$chromium" ]; then
  echo "report-screenshot.sh: chromium not found (Debian package chromium)" >&2
  exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$root"
SOURCE_DATE_EPOCH=1765152000 "$build/bin/velmora-eval" -j 2 --group-by '^([a-z]+)' \
  --html "$work/report.html" examples/recordings >/dev/null
"$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=1280,2300 \
  --screenshot="$root/docs/report.png" "file://$work/report.html" 2>/dev/null
"$build/bin/velmora-plot" -o docs/fall_slow.svg examples/recordings/fall_slow.csv
SOURCE_DATE_EPOCH=1765152000 "$build/bin/velmora-eval" -j 2 --set lowLevel=45 --explain \
  --html "$work/explained.html" examples/recordings >/dev/null
"$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=1280,1250 \
  --screenshot="$root/docs/report-explain.png" "file://$work/explained.html#fig-1" 2>/dev/null
