#!/usr/bin/env bash
# Builds the Debian package velmora_<version>_<arch>.deb: a Release build for
# the prefix /usr with the shared detector library, the programs, their
# manual pages, the Python module for Debian's python3 and the docs.
#
# Usage: scripts/make-deb.sh [BUILD_DIR]        (default: build-deb)
# Then:  apt-get install ./BUILD_DIR/velmora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_SHARED_LIBS=ON -DVELMORA_BUILD_TESTS=OFF \
  -DPython3_EXECUTABLE=/usr/bin/python3 -DVELMORA_PYTHON_INSTALL_DIR=lib/python3/dist-packages
cmake --build "$build" -j2
(cd "$build" && cpack -G DEB)
ls "$build"/velmora_*.deb
