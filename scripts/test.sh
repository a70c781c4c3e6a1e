#!/usr/bin/env bash
# Builds tarvex with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# the whole test suite (unit, client and end-to-end tests), then a short fuzz
# run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-sanitize
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTARVEX_SANITIZE=ON
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
if [ -x scripts/fuzz.sh ]; then
  ./scripts/fuzz.sh 20
fi
