#!/usr/bin/env bash
# Soak: the documents of the corpus imported over and over through
# "/import_file_as_html" on the real Docklane, the chooser answered by
# xdotool, printing every EVERY imports Docklane's and the engine's RSS and
# open descriptors, their child processes, and the files left in the export
# root, the runtime folder and the temporary folder (TMPDIR, private to the
# run); at the end, whether anything grew.
#
#   bench/soak/run.sh <build-dir> [imports=230] [corpus=tests/corpus]   (EVERY=10)
#
# Uses the fixed port 3465; on a shared machine run it in a network
# namespace of its own:
#   unshare -n sh -c 'ip link set lo up && bash bench/soak/run.sh <build-dir>'
set -euo pipefail

build=${1:?usage: run.sh <build-dir> [imports] [corpus]}
imports=${2:-230}
here=$(cd "$(dirname "$0")" && pwd)
corpus=$(cd "${3:-$here/../../tests/corpus}" && pwd)
every=${EVERY:-10}
[[ $imports =~ ^[1-9][0-9]*$ ]] || { echo "imports must be a positive number" >&2; exit 2; }
[ -s "$corpus/BASELINE.tsv" ] || { echo "no corpus at $corpus (BASELINE.tsv missing)" >&2; exit 2; }
build=$(cd "$build" && pwd)
bench_name=bench-soak
. "$here/../import/session.sh"

session_start "$build"
echo "Docklane $lane_pid on $DISPLAY; $imports imports of $corpus, a sample every $every" >&2
status=0
python3 "$here/soak_driver.py" run "$corpus" "$imports" "$every" "$lane_pid" || status=$?
engine_pid=$(find_engine)  # for the cleanup, should Docklane not end it
[ "$status" = 0 ] || fail "the soak found a fault"
