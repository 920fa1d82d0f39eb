#!/usr/bin/env bash
# Requests per second of "/get_version_info" with wrk: keep-alive, one thread,
# 16 connections.
#   bench/version_info/run.sh [build-dir] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-10}
program="$build/bench/endpoint_server/bench_endpoint_server"
[ -x "$program" ] || { echo "build it first: cmake --build $build --target bench_endpoint_server" >&2; exit 1; }
command -v wrk > /dev/null || { echo "wrk is not installed" >&2; exit 1; }
port=${PORT:-38466}
work=$(mktemp -d)
chmod 700 "$work"
mkdir -m 700 "$work/run"
server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

XDG_RUNTIME_DIR="$work/run" HOME="$work" "$program" "$port" > "$work/server.out" &
server_pid=$!
for _ in $(seq 100); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.05; done
curl -sS "http://127.0.0.1:$port/get_version_info"
# The same server on a path with the fixed default reply: the cost of the
# front without the report.
wrk -t1 -c16 -d"${seconds}s" "http://127.0.0.1:$port/no_such_endpoint" | grep -E "Requests/sec"
wrk -t1 -c16 -d"${seconds}s" --latency "http://127.0.0.1:$port/get_version_info"
