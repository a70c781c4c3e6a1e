#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-fuzz/) and runs each of them for the
# given number of seconds (default 20), starting from the seed inputs in
# fuzz/corpus/<target>. Exits non-zero as soon as one target finds a crash,
# a leak or undefined behaviour; the input that caused it is kept in
# build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=build-fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DTARVEX_SANITIZE=ON -DTARVEX_FUZZ=ON -DTARVEX_BUILD_TESTS=OFF >/dev/null
targets=$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts"
status=0
for target in $targets; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds=("fuzz/corpus/$target")
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
       "$work" "${seeds[@]}" >"$build/$target.log" 2>&1; then
    tail -n 60 "$build/$target.log"
    echo "== $target FAILED: see $build/$target.log and $build/artifacts/"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$build/$target.log" | tail -n 1 || true
  fi
done
exit $status
