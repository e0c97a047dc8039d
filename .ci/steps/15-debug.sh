#!/usr/bin/env bash
# The test suite in a Debug build: without NDEBUG the assertion tests (the
# linear algebra's size checks, the quaternion's) run instead of skipping.
set -euo pipefail
cd "$(dirname "$0")/../.."

rm -rf build-debug
cmake --preset debug
cmake --build --preset debug
ctest --preset debug
