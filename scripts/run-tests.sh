#!/usr/bin/env bash
# Set-up for development: installs everything the build and the tests use
# (the packages listed in .ci/packages/*.txt; as root, otherwise prints the
# install command and stops), builds everything and runs the whole test suite.
#
# Usage: scripts/run-tests.sh [--fresh] [BUILD_DIR]     (default: build)
#   --fresh   remove BUILD_DIR first (CI does)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/packages.sh

fresh=0
if [ "${1:-}" = "--fresh" ]; then
  fresh=1
  shift
fi
build=${1:-build}

mapfile -t packages < <(read_package_lists .ci/packages/*.txt)
ensure_packages "${packages[@]}"

[ "$fresh" -eq 1 ] && rm -rf "$build"
mapfile -t options < <(configure_options)
cmake -S . -B "$build" -DVELMORA_BUILD_TESTS=ON "${options[@]}"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
