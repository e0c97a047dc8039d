#!/usr/bin/env bash
# The whole test suite again, with everything (libraries, programs and
# tests) built with AddressSanitizer and UndefinedBehaviorSanitizer. Any
# report, a leak included, fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."

export ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

rm -rf build-asan
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
