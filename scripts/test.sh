#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#  1. the whole suite (unit, integration, end-to-end) on a normal build;
#  2. the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer;
#  3. each libFuzzer target for a bounded time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh

jobs=$(nproc)
# Eight targets: about three minutes of fuzzing in all.
fuzz_seconds=${DL_FUZZ_SECONDS:-20}

echo "== build"
bash scripts/build.sh "$top/build"

echo "== tests"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 600)

echo "== unit tests under ASan and UBSan"
bash scripts/build.sh "$top/build-asan" -DDL_SANITIZE=ON -DDL_LIBREOFFICE=OFF -DDL_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j "$jobs" -L unit --timeout 600)

echo "== fuzzing (${fuzz_seconds}s a target)"
CC=clang CXX=clang++ bash scripts/build.sh "$top/build-fuzz" -DDL_FUZZ=ON
shopt -s nullglob
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
  # Documents the end-to-end tests import are seeds of the sniffer as they are.
  [ "$name" = fuzz_format_sniffer ] && seeds+=(tests/e2e/documents)
  echo "-- $name"
  "$f" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 | tail -n 12
done
echo "== all tests passed"
