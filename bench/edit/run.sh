#!/usr/bin/env bash
# "/edit_new_html": time until the editing window is on screen with its title,
# first after Docklane's start and warm (median of the rounds).
#
#   bench/edit/run.sh <build-dir> [rounds=10]
#
# Uses the fixed port 3465; on a shared machine run it in a network namespace:
#   unshare -n sh -c 'ip link set lo up && bash bench/edit/run.sh build 10'
set -euo pipefail
build=${1:?usage: run.sh <build-dir> [rounds]}
for cmd in Xvfb openbox xdotool python3; do
  command -v "$cmd" > /dev/null || { echo "missing program: $cmd" >&2; exit 1; }
done
if (exec 3<> /dev/tcp/127.0.0.1/3465) 2> /dev/null; then
  echo "something already listens on port 3465: run this in a network namespace of its own" >&2
  exit 1
fi
exec python3 "$(dirname "$0")/edit_bench.py" "$build" "${2:-10}"
