#!/usr/bin/env bash
# "/get_files" over HTTP, two figures:
#  1. twenty 5 MB pictures against `base64 -w0` of the same files in the same
#     run (best of ROUNDS each), and the server's peak RSS;
#  2. 2 GB and 8 GB of listed pictures: 20 and 80 hard links of one 100 MiB
#     file (no disk used beyond the one file), with the server's peak RSS for
#     each, which must not follow the pictures' total size.
#   bench/get_files/run.sh [build-dir]        (ROUNDS=3 by default)
set -euo pipefail
build=${1:-build}
rounds=${ROUNDS:-3}
program="$build/bench/endpoint_server/bench_endpoint_server"
[ -x "$program" ] || { echo "build it first: cmake --build $build --target bench_endpoint_server" >&2; exit 1; }
port=${PORT:-38465}
work=$(mktemp -d)
chmod 700 "$work"
mkdir -m 700 "$work/run" "$work/links"
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
kib() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$server_pid/status"; }
# Peak RSS counts from here on (Linux resets VmHWM on "5").
reset_peak() { echo 5 > "/proc/$server_pid/clear_refs"; }
rss_start=$(kib VmRSS)

# Warm the page cache for both sides.
cat "$work"/picture*.png > /dev/null
now() { date +%s.%N; }
printf '{"file_list":"%s"}' "$list" > "$work/request.json"
best_coreutils= best_ours=
reset_peak
for round in $(seq "$rounds"); do
  t0=$(now)
  for f in "$work"/picture*.png; do base64 -w0 "$f"; done > "$work/coreutils.out"
  t1=$(now)
  curl -sS -o "$work/reply.json" -H 'Content-Type: application/json' \
    --data-binary @"$work/request.json" "http://127.0.0.1:$port/get_files"
  t2=$(now)
  read -r c o < <(awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { print b - a, c - b }')
  echo "round $round: base64 -w0 $c s, /get_files $o s"
  best_coreutils=$(awk -v x="$c" -v y="$best_coreutils" 'BEGIN { print (y == "" || x < y) ? x : y }')
  best_ours=$(awk -v x="$o" -v y="$best_ours" 'BEGIN { print (y == "" || x < y) ? x : y }')
done
rss_peak=$(kib VmHWM)

ours_bytes=$(stat -c %s "$work/reply.json")
python3 - "$work/reply.json" "$work" <<'PY'
import base64, glob, json, sys
reply = json.load(open(sys.argv[1]))
assert reply["success"] and len(reply["image_files"]) == 20, "incomplete reply"
for path in glob.glob(sys.argv[2] + "/picture*.png"):
    assert base64.b64decode(reply["image_files"][path]["base64"]) == open(path, "rb").read(), path
PY
awk -v coreutils="$best_coreutils" -v ours="$best_ours" -v start="$rss_start" -v peak="$rss_peak" \
    -v total="$total" -v reply="$ours_bytes" -v rounds="$rounds" 'BEGIN {
  printf "pictures: 20 x 5 MiB = %.1f MiB; reply %.1f MiB, every picture decoded and compared\n",
         total / 1048576, reply / 1048576;
  printf "base64 -w0 (coreutils), best of %d: %.3f s\n", rounds, coreutils;
  printf "/get_files over HTTP, best of %d:   %.3f s  (%.2fx coreutils; target <= 1.2x)\n", rounds, ours, ours / coreutils;
  printf "server peak RSS: %.1f MiB (%.2fx the pictures); at start %.1f MiB\n", peak / 1024, peak * 1024 / total,
         start / 1024;
}'

# ---- 2 GB and 8 GB of hard links to one file
head -c $((100 * 1048576)) /dev/urandom > "$work/links/original.png"
cat "$work/links/original.png" > /dev/null
links() {
  local n=$1 out=
  for i in $(seq 1 "$n"); do
    [ -e "$work/links/link$i.png" ] || ln "$work/links/original.png" "$work/links/link$i.png"
    out="${out:+$out,}$work/links/link$i.png"
  done
  printf '{"file_list":"%s"}' "$out"
}
for n in 20 80; do
  links "$n" > "$work/links.json"
  reset_peak
  t0=$(now)
  # The reply is counted and its first picture checked, not kept.
  curl -sS -D "$work/head.txt" -H 'Content-Type: application/json' --data-binary @"$work/links.json" \
    "http://127.0.0.1:$port/get_files" |
    tee -p >(head -c $((64 * 1048576)) > "$work/start.json") | wc -c > "$work/size.txt"
  t1=$(now)
  peak=$(kib VmHWM)
  sleep 0.2
  announced=$(awk 'tolower($1) == "content-length:" { sub(/\r$/, "", $2); print $2 }' "$work/head.txt")
  got=$(tr -d ' ' < "$work/size.txt")
  complete="SHORT: $got of $announced bytes"
  [ "$got" = "$announced" ] && complete="all $announced bytes of Content-Length received"
  python3 - "$work/start.json" "$work/links/original.png" <<'PY'
import base64, sys
start = open(sys.argv[1], "rb").read()
at = start.index(b'"base64" : "') + 12
sample = base64.b64decode(start[at:at + 32 * 1048576])
assert sample == open(sys.argv[2], "rb").read(len(sample)), "first picture differs"
PY
  awk -v n="$n" -v a="$t0" -v b="$t1" -v peak="$peak" -v complete="$complete" -v got="$got" 'BEGIN {
    gib = n * 100 / 1024;
    printf "%d links of one 100 MiB file (%.2f GiB listed): reply %.2f GiB in %.1f s (%.0f MiB/s), %s; server peak RSS %.1f MiB (target < 64 MiB)\n",
           n, gib, got / 1073741824, b - a, got / 1048576 / (b - a),
           complete, peak / 1024;
  }'
done
