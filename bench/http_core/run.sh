#!/usr/bin/env bash
# Load test of the HTTP core against one nginx worker, then the idle check.
#   bench/http_core/run.sh [build-dir] [seconds]
# Needs wrk and nginx (nginx-light). Both servers answer GET with the same
# 200-byte body; wrk runs one thread with 16 kept-alive connections.
# ROUNDS (default 3) sets how many times each server is loaded.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
secs=${2:-10}
core=$build/bench/http_core/bench_http_core
idle=$build/bench/http_core/bench_http_idle
[ -x "$core" ] && [ -x "$idle" ] || { echo "build bench_http_core and bench_http_idle first" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is missing" >&2; exit 1; }
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

ulimit -n 8192
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  local port
  for port in $(seq "$1" $(($1 + 200))); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$port"; return; fi
  done
  echo "no free port near $1" >&2; exit 1
}
wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return
    sleep 0.05
  done
  echo "nothing listens on $1" >&2; exit 1
}
# Servers on the second core, wrk on the first, when there are two.
pin_server=() pin_client=()
if command -v taskset >/dev/null && [ "$(nproc)" -ge 2 ]; then
  pin_server=(taskset -c 1) pin_client=(taskset -c 0)
fi

body=$(printf 'abcdefghij%.0s' $(seq 20))

check_body() {  # both servers must answer with the same 200 bytes
  if command -v curl >/dev/null && [ "$(curl -s "http://127.0.0.1:$1/")" != "$body" ]; then
    echo "port $1 answers with another body" >&2; exit 1
  fi
}

load() {  # load <name> <port>: prints "<requests/s> <p99 ms>"
  local out rps p99
  out=$("${pin_client[@]}" wrk -t1 -c16 -d"${secs}s" --latency "http://127.0.0.1:$2/" 2>&1)
  echo "$out" > "$work/wrk-$1.txt"
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; u=v; sub(/[a-z]+$/, "", v); sub(/^[0-9.]+/, "", u);
        if (u == "us") v /= 1000; else if (u == "s") v *= 1000; printf "%.3f", v}' <<<"$out")
  if grep -q "Non-2xx\|Socket errors" <<<"$out"; then grep "Non-2xx\|Socket errors" <<<"$out" >&2; fi
  echo "$rps $p99"
}

# Both servers run side by side; the load alternates between them for a few
# rounds, and the median of each is reported, so that a burst of other work
# on the machine does not decide the comparison.
core_port=$(free_port 18465)
"${pin_server[@]}" "$core" "$core_port" > "$work/core.log" 2>&1 &
pids+=($!)
wait_port "$core_port"
check_body "$core_port"

nginx_port=$(free_port 18665)
mkdir -p "$work/nginx/logs"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:$nginx_port;
    default_type text/plain;
    location / { return 200 "$body"; }
  }
}
CONF
"${pin_server[@]}" "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>"$work/nginx/stderr" &
pids+=($!)
wait_port "$nginx_port"
check_body "$nginx_port"

rounds=${ROUNDS:-3}
: > "$work/core.results"
: > "$work/nginx.results"
for round in $(seq "$rounds"); do
  load core "$core_port" | tee -a "$work/core.results" | sed "s/^/round $round core:  /"
  load nginx "$nginx_port" | tee -a "$work/nginx.results" | sed "s/^/round $round nginx: /"
done
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
core_rps=$(cut -d' ' -f1 "$work/core.results" | median)
core_p99=$(cut -d' ' -f2 "$work/core.results" | median)
nginx_rps=$(cut -d' ' -f1 "$work/nginx.results" | median)
nginx_p99=$(cut -d' ' -f2 "$work/nginx.results" | median)

printf '\n%-22s %12s %12s   (median of %d rounds of %d s)\n' "server" "requests/s" "p99 (ms)" "$rounds" "$secs"
printf '%-22s %12s %12s\n' "HTTP core" "$core_rps" "$core_p99"
printf '%-22s %12s %12s\n' "nginx (1 worker)" "$nginx_rps" "$nginx_p99"
awk -v c="$core_rps" -v n="$nginx_rps" -v cp="$core_p99" -v np="$nginx_p99" \
  'BEGIN { printf "core / nginx:          %12.2f %12.2f\n", c / n, cp / np }'

echo
echo "idle check: 2000 connections left silent, 5 s time-out"
idle_port=$(free_port 18865)
"$core" "$idle_port" > "$work/idle.log" 2>&1 &
pids+=($!)
wait_port "$idle_port"
"$idle" "$idle_port" "${pids[-1]}" 2000 5
