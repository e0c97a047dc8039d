#!/usr/bin/env bash
# Builds the benchmarks in a build folder of their own (Release, as they are
# measured) and runs the allocation and parsing checks that come with them.
# The benchmarks themselves are not run here: timings on a shared CI machine
# would say nothing.
set -euo pipefail
cd "$(dirname "$0")/../.."

rm -rf build-ci-bench
cmake -S . -B build-ci-bench -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_BENCH=ON
cmake --build build-ci-bench -j2 --target velmora_bench velmora_perf_checks
build-ci-bench/bin/velmora_perf_checks
build-ci-bench/bin/velmora_bench --help >/dev/null
