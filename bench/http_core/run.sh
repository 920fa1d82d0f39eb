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

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

load() {  # load <name> <port> <pid>: prints "<requests/s> <p99 ms> <CPU us per request>"
  local out rps p99 before after
  before=$(cpu_ticks "$3")
  out=$("${pin_client[@]}" wrk -t1 -c16 -d"${secs}s" --latency "http://127.0.0.1:$2/" 2>&1)
  after=$(cpu_ticks "$3")
  echo "$out" > "$work/wrk-$1.txt"
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; u=v; sub(/[a-z]+$/, "", v); sub(/^[0-9.]+/, "", u);
        if (u == "us") v /= 1000; else if (u == "s") v *= 1000; printf "%.3f", v}' <<<"$out")
  if grep -q "Non-2xx\|Socket errors" <<<"$out"; then grep "Non-2xx\|Socket errors" <<<"$out" >&2; fi
  awk -v r="$rps" -v p="$p99" -v t=$((after - before)) -v s="$secs" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%s %s %.2f\n", r, p, t / hz * 1e6 / (r * s) }'
}

# Both servers run side by side; the load alternates between them for a few
# rounds, and the median of each is reported, so that a burst of other work
# on the machine does not decide the comparison.
core_port=$(free_port 18465)
"${pin_server[@]}" "$core" "$core_port" > "$work/core.log" 2>&1 &
pids+=($!)
core_pid=$!
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
nginx_worker=$(pgrep -P "${pids[-1]}" | head -n 1)

rounds=${ROUNDS:-3}
: > "$work/core.results"
: > "$work/nginx.results"
for round in $(seq "$rounds"); do
  load core "$core_port" "$core_pid" | tee -a "$work/core.results" | sed "s/^/round $round core:  /"
  load nginx "$nginx_port" "$nginx_worker" | tee -a "$work/nginx.results" | sed "s/^/round $round nginx: /"
done
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
column_median() { cut -d' ' -f"$2" "$work/$1.results" | median; }
core_rps=$(column_median core 1) core_p99=$(column_median core 2) core_cpu=$(column_median core 3)
nginx_rps=$(column_median nginx 1) nginx_p99=$(column_median nginx 2) nginx_cpu=$(column_median nginx 3)

printf '\n%-20s %12s %10s %16s   (median of %d rounds of %d s)\n' \
  "server" "requests/s" "p99 (ms)" "CPU us/request" "$rounds" "$secs"
printf '%-20s %12s %10s %16s\n' "HTTP core" "$core_rps" "$core_p99" "$core_cpu"
printf '%-20s %12s %10s %16s\n' "nginx (1 worker)" "$nginx_rps" "$nginx_p99" "$nginx_cpu"
awk -v c="$core_rps" -v n="$nginx_rps" -v cp="$core_p99" -v np="$nginx_p99" -v cc="$core_cpu" -v nc="$nginx_cpu" \
  'BEGIN { printf "%-20s %12.2f %10.2f %16.2f\n", "core / nginx", c / n, cp / np, cc / nc }'

echo
echo "idle check: 2000 connections left silent, 5 s time-out"
idle_port=$(free_port 18865)
"$core" "$idle_port" > "$work/idle.log" 2>&1 &
pids+=($!)
wait_port "$idle_port"
"$idle" "$idle_port" "${pids[-1]}" 2000 5
