#!/usr/bin/env bash
# Base64 of a 256 MB file: our encoder against `base64 -w0` in the same run.
#   bench/base64/run.sh [build-dir]
set -euo pipefail
build=${1:-build}
program="$build/bench/base64/bench_base64"
[ -x "$program" ] || { echo "build bench_base64 first: cmake --build $build --target bench_base64" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 268435456 /dev/urandom > "$work/input.bin"
"$program" "$work/input.bin"
