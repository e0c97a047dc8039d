#!/usr/bin/env bash
# Set-up for the main program alone: installs what building Drovik needs
# (as root; otherwise prints the install command and stops), builds only
# Drovik and runs it on a bundled example recording.
#
# Usage: scripts/run-example.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/packages.sh

build=${1:-build}
ensure_packages cmake make g++

mapfile -t options < <(configure_options)
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j2 --target Drovik
# The verdict is CP949 text; show it on the (UTF-8) terminal.
"$build/bin/Drovik" examples/recordings/fall_forward.csv examples/recordings/fall_forward.info |
  iconv -f CP949 -t UTF-8
