#!/usr/bin/env bash
# "/import_file_as_html" end to end: the real Docklane on a display of its own,
# the chooser answered with xdotool, against a cold
# `soffice --headless --convert-to html` of the same file in the same run;
# then a document of twenty 1 MiB pictures against its conversion plus
# `base64 -w0` of the pictures, and the peak RSS of Docklane and its engine.
#
#   bench/import/run.sh <build-dir> [rounds=10]
#
# BENCH_IMPORT_KEEP=<file> keeps the raw figures (one JSON object a line).
#
# Uses the fixed port 3465 and refuses to start when something listens there;
# on a shared machine run it in a network namespace of its own:
#   unshare -n sh -c 'ip link set lo up && bash bench/import/run.sh <build-dir> 10'
set -euo pipefail

build=${1:?usage: run.sh <build-dir> [rounds]}
rounds=${2:-10}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "rounds must be a positive number" >&2; exit 2; }
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
driver="$here/import_driver.py"
lane_program="$build/app/docklane"
warden_program="$build/service/docwarden"
for p in "$lane_program" "$warden_program"; do
  [ -x "$p" ] || { echo "missing $p: cmake --build $build --target docklane docwarden" >&2; exit 1; }
done
for cmd in Xvfb xdotool xwininfo zenity soffice curl python3 timeout base64 pgrep; do
  command -v "$cmd" > /dev/null || { echo "missing program: $cmd" >&2; exit 1; }
done
listening=
if command -v ss > /dev/null; then listening=$(ss -Hltn 'sport = :3465' 2> /dev/null); fi
if [ -n "$listening" ] || (exec 3<> /dev/tcp/127.0.0.1/3465) 2> /dev/null; then
  echo "something already listens on port 3465: run this in a network namespace of its own" >&2
  exit 1
fi

work=$(mktemp -d /tmp/bench-import-XXXXXX)
chmod 700 "$work"
mkdir -m 700 "$work/run" "$work/home" "$work/docs" "$work/cold"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset NOTIFY_SOCKET WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
xvfb_pid= lane_pid= warden_pid= engine_pid=

# Sends `sig` to `pid` and waits at most `tenths` tenths of a second for it.
stop_pid() {
  local pid=$1 sig=$2 tenths=$3
  [ -n "$pid" ] || return 0
  kill -"$sig" "$pid" 2> /dev/null || return 0
  for _ in $(seq "$tenths"); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2> /dev/null; then kill -KILL "$pid" 2> /dev/null || true; sleep 0.1; fi
  wait "$pid" 2> /dev/null || true
}
cleanup() {
  set +e
  stop_pid "$warden_pid" TERM 50
  stop_pid "$lane_pid" TERM 100
  # Docklane ends its engine itself; make sure of it.
  if [ -n "$engine_pid" ] && kill -0 "$engine_pid" 2> /dev/null; then
    kill -TERM "$engine_pid" 2> /dev/null
    for _ in $(seq 50); do kill -0 "$engine_pid" 2> /dev/null || break; sleep 0.1; done
    kill -KILL "$engine_pid" 2> /dev/null
  fi
  stop_pid "$xvfb_pid" TERM 50
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "bench/import: $*" >&2
  local pid name
  for pid in "$xvfb_pid" "$lane_pid" "$warden_pid"; do
    [ -n "$pid" ] || continue
    name=$(cat "/proc/$pid/comm" 2> /dev/null) || { echo "  process $pid has ended" >&2; continue; }
    echo "  $name ($pid) runs with $(find "/proc/$pid/fd" -mindepth 1 2> /dev/null | wc -l) open descriptors" >&2
  done
  for f in lane.out lane.err warden.out warden.err xvfb.err; do
    [ -s "$work/$f" ] && { echo "--- $f (last lines)" >&2; tail -n 20 "$work/$f" >&2; }
  done
  exit 1
}
now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
vm() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status" 2> /dev/null; }

# ---- documents
sizes=$(python3 "$driver" docs "$work/docs")
onepage="$work/docs/onepage.docx"
twenty="$work/docs/twenty.docx"
small_pictures=("$work/docs/small"/image*.png)
big_pictures=("$work/docs/pictures"/image*.png)

# ---- display
# -noreset: a server that resets when its last client leaves refuses the
# next one for a moment, and the imports connect and leave all the time.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3> "$work/display" 2> "$work/xvfb.err" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2> /dev/null || fail "Xvfb exited"
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb named no display within 10 s"
export DISPLAY=":$(tr -dc 0-9 < "$work/display")"

# ---- Docklane and its pipe client
lane_started=$(now)
"$lane_program" > "$work/lane.out" 2> "$work/lane.err" &
lane_pid=$!
for _ in $(seq 100); do
  [ -S "$XDG_RUNTIME_DIR/docklane_pipe" ] && break
  kill -0 "$lane_pid" 2> /dev/null || fail "Docklane exited before making its pipe"
  sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/docklane_pipe" ] || fail "no pipe $XDG_RUNTIME_DIR/docklane_pipe within 10 s"
"$warden_program" > "$work/warden.out" 2> "$work/warden.err" &
warden_pid=$!
up=
for _ in $(seq 150); do
  if curl -fsS --max-time 2 -o /dev/null "http://127.0.0.1:3465/get_version_info" 2> /dev/null; then up=1; break; fi
  kill -0 "$lane_pid" 2> /dev/null || fail "Docklane exited before serving HTTP"
  sleep 0.2
done
[ -n "$up" ] || fail "Docklane did not answer on port 3465 within 30 s of Docwarden's start"
http_up=$(now)
export_root="$XDG_RUNTIME_DIR/docklane"
[ -d "$export_root" ] || fail "no export root $export_root"

figures="$work/figures.jsonl"
# One import, recorded as a line of kind $1; a wrong reply ends the run.
import_once() {
  local kind=$1 title=$2 path=$3; shift 3
  local line
  line=$(python3 "$driver" import "$title" "$path" "$export_root" "$@") || {
    echo "sent: GET /import_file_as_html?file_filter=doc&dialog_title=$title, chooser answered with $path" >&2
    echo "got:  $line" >&2
    fail "import of $path went wrong"
  }
  echo "{\"kind\":\"$kind\",${line#\{}" >> "$figures"
}
find_engine() {
  local pid
  for pid in $(pgrep -x soffice.bin 2> /dev/null); do
    if [ "$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2> /dev/null)" = "$lane_pid" ] ||
       tr '\0' '\n' < "/proc/$pid/cmdline" 2> /dev/null | grep -qF "$work/"; then
      echo "$pid"; return
    fi
  done
}
echo "{\"kind\":\"sizes\",${sizes#\{}" >> "$figures"

# ---- 1. the one-page document: the first import, then warm ones
echo "Docklane on $DISPLAY, HTTP up $(elapsed "$lane_started" "$http_up") s after its start; $rounds warm rounds" >&2
import_once first DocklaneBenchFirst "$onepage" "${small_pictures[@]}"
engine_pid=$(find_engine)
for i in $(seq "$rounds"); do
  import_once warm "DocklaneBenchWarm$i" "$onepage" "${small_pictures[@]}"
done

# ---- 2. cold command-line conversions, each with a fresh profile
for i in 1 2 3; do
  mkdir -p "$work/cold/out$i"
  t0=$(now)
  timeout -k 5 180 soffice "-env:UserInstallation=file://$work/cold/profile$i" --headless \
    --convert-to html --outdir "$work/cold/out$i" "$onepage" > "$work/cold/log$i" 2>&1 ||
    fail "cold soffice conversion $i failed: $(tail -n 5 "$work/cold/log$i")"
  t1=$(now)
  [ -s "$work/cold/out$i/onepage.html" ] || fail "cold soffice conversion $i wrote no onepage.html"
  echo "{\"kind\":\"cold\",\"s\":$(elapsed "$t0" "$t1")}" >> "$figures"
done

# ---- 3. twenty 1 MiB pictures
[ -n "$engine_pid" ] || engine_pid=$(find_engine)
lane_hwm_before=$(vm "$lane_pid" VmHWM)
engine_hwm_before=
[ -n "$engine_pid" ] && engine_hwm_before=$(vm "$engine_pid" VmHWM)
for i in 1 2 3; do
  import_once twenty "DocklaneBenchTwenty$i" "$twenty" "${big_pictures[@]}"
done
lane_hwm=$(vm "$lane_pid" VmHWM)
[ -n "$lane_hwm" ] && [ -n "$lane_hwm_before" ] || fail "cannot read Docklane's /proc/$lane_pid/status"
engine_hwm=
[ -n "$engine_pid" ] && engine_hwm=$(vm "$engine_pid" VmHWM)
rss="{\"kind\":\"rss\",\"lane_hwm_kib\":$lane_hwm,\"lane_hwm_before_kib\":$lane_hwm_before"
[ -n "$engine_hwm" ] && rss="$rss,\"engine_hwm_kib\":$engine_hwm"
[ -n "$engine_hwm_before" ] && rss="$rss,\"engine_hwm_before_kib\":$engine_hwm_before"
echo "$rss}" >> "$figures"

cat "${big_pictures[@]}" > /dev/null  # the page cache, as for Docklane
for i in 1 2 3; do
  t0=$(now)
  for f in "${big_pictures[@]}"; do base64 -w0 "$f"; done > "$work/base64.out"
  t1=$(now)
  echo "{\"kind\":\"base64\",\"s\":$(elapsed "$t0" "$t1")}" >> "$figures"
done

echo
python3 "$driver" table "$figures" "$rounds"
if [ -n "${BENCH_IMPORT_KEEP:-}" ]; then cp "$figures" "$BENCH_IMPORT_KEEP"; fi
