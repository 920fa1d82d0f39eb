#!/usr/bin/env bash
# Installs what is missing, builds, and runs Docklane with Docwarden beside it:
# Docklane serves HTTP on port 3465 once Docwarden has connected to its pipe.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/build.sh "$top/build" -DDL_TESTS=OFF -DDL_BENCH=OFF

./build/app/docklane &
lane=$!
# Docwarden retries only every ten seconds: start it once the pipe is there.
runtime=${XDG_RUNTIME_DIR:-}
[ -n "$runtime" ] && [ -d "$runtime" ] || runtime=/tmp/docklane-$(id -u)
for _ in $(seq 1 50); do
  [ -S "$runtime/docklane_pipe" ] && break
  sleep 0.1
done
./build/service/docwarden &
warden=$!
trap 'kill $warden 2>/dev/null; wait $warden 2>/dev/null; kill $lane 2>/dev/null; wait $lane 2>/dev/null' EXIT INT TERM

for _ in $(seq 1 150); do
  if curl -fsS --max-time 2 "http://127.0.0.1:3465/get_version_info" 2>/dev/null; then
    echo
    echo "Docklane answers on port 3465 (Docklane pid $lane, Docwarden pid $warden). Ctrl-C stops both."
    break
  fi
  sleep 0.2
done
wait $lane
