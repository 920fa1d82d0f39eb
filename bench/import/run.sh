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
# Uses the fixed port 3465 (see session.sh); on a shared machine run it in a
# network namespace of its own:
#   unshare -n sh -c 'ip link set lo up && bash bench/import/run.sh <build-dir> 10'
set -euo pipefail

build=${1:?usage: run.sh <build-dir> [rounds]}
rounds=${2:-10}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "rounds must be a positive number" >&2; exit 2; }
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
driver="$here/import_driver.py"
bench_name=bench-import
. "$here/session.sh"

# ---- Docklane on its own display, then the documents in its work folder
session_start "$build"
sizes=$(python3 "$driver" docs "$work/docs")
onepage="$work/docs/onepage.docx"
twenty="$work/docs/twenty.docx"
small_pictures=("$work/docs/small"/image*.png)
big_pictures=("$work/docs/pictures"/image*.png)

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
