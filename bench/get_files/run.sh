#!/usr/bin/env bash
# "/get_files" for twenty 5 MB pictures over HTTP against `base64 -w0` of the
# same files in the same run, and the server's peak RSS.
#   bench/get_files/run.sh [build-dir]
set -euo pipefail
build=${1:-build}
program="$build/bench/endpoint_server/bench_endpoint_server"
[ -x "$program" ] || { echo "build it first: cmake --build $build --target bench_endpoint_server" >&2; exit 1; }
port=${PORT:-38465}
work=$(mktemp -d)
chmod 700 "$work"
mkdir -m 700 "$work/run"
server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

list=
for i in $(seq -w 1 20); do
  head -c 5242880 /dev/urandom > "$work/picture$i.png"
  list="${list:+$list,}$work/picture$i.png"
done
total=$((20 * 5242880))

XDG_RUNTIME_DIR="$work/run" HOME="$work" "$program" "$port" > "$work/server.out" &
server_pid=$!
for _ in $(seq 100); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.05; done
rss_before=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")

# Warm the page cache for both sides.
cat "$work"/picture*.png > /dev/null

now() { date +%s.%N; }
t0=$(now)
for f in "$work"/picture*.png; do base64 -w0 "$f"; done > "$work/coreutils.out"
t1=$(now)
printf '{"file_list":"%s"}' "$list" > "$work/request.json"
curl -sS -o "$work/reply.json" -H 'Content-Type: application/json' \
  --data-binary @"$work/request.json" "http://127.0.0.1:$port/get_files"
t2=$(now)
rss_peak=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")

ours_bytes=$(stat -c %s "$work/reply.json")
python3 - "$work/reply.json" <<'PY'
import json, sys
reply = json.load(open(sys.argv[1]))
assert reply["success"] and len(reply["image_files"]) == 20, "incomplete reply"
PY
awk -v a="$t0" -v b="$t1" -v c="$t2" -v before="$rss_before" -v peak="$rss_peak" \
    -v total="$total" -v reply="$ours_bytes" 'BEGIN {
  coreutils = b - a; ours = c - b;
  printf "pictures: 20 x 5 MiB = %.1f MiB; reply %.1f MiB\n", total / 1048576, reply / 1048576;
  printf "base64 -w0 (coreutils): %.3f s\n", coreutils;
  printf "/get_files over HTTP:   %.3f s  (%.2fx coreutils; target <= 3x)\n", ours, ours / coreutils;
  printf "server peak RSS: %.1f MiB (%.2fx the pictures; target < 4x); at start %.1f MiB\n",
         peak / 1024, peak * 1024 / total, before / 1024;
}'
