#!/usr/bin/env bash
# "/get_clipboard_text" over HTTP for a clipboard holding 1 MiB of HTML that
# refers to ten 2 MiB pictures, against the floor of fetching the same bytes
# with standard tools in the same run: `xclip -o -t text/html` plus
# `base64 -w0` of the ten files. Best of five rounds each; then the reader
# alone, called directly in a process of its own.
#   bench/clipboard/run.sh [build-dir]
set -euo pipefail
build=${1:-build}
program="$build/bench/endpoint_server/bench_endpoint_server"
[ -x "$program" ] && [ -x "$build/bench/clipboard/bench_clipboard_direct" ] || {
  echo "build it first: cmake --build $build --target bench_endpoint_server bench_clipboard_direct" >&2; exit 1; }
port=${PORT:-38466}
rounds=${ROUNDS:-5}
work=$(mktemp -d)
chmod 700 "$work"
mkdir -m 700 "$work/run"
xvfb_pid= owner_pid= server_pid=
cleanup() {
  for pid in $server_pid $owner_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 320x240x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
display=":$(head -n1 "$work/display")"

html="$work/clipboard.html"
{
  printf '<html><body><!--StartFragment-->'
  for i in $(seq -w 1 10); do
    head -c 2097152 /dev/urandom > "$work/clip_image0$i.png"
    printf '<p><img width=640 height=480 src="file://%s"></p>\n' "$work/clip_image0$i.png"
  done
  python3 -c 'import sys; sys.stdout.write("<p>" + "clipboard text " * 69900 + "</p>")'
  printf '<!--EndFragment--></body></html>'
} > "$html"
html_bytes=$(stat -c %s "$html")

DISPLAY=$display xclip -quiet -selection clipboard -t text/html -i "$html" > /dev/null 2>&1 &
owner_pid=$!
for _ in $(seq 100); do
  DISPLAY=$display xclip -o -selection clipboard -t TARGETS > /dev/null 2>&1 && break; sleep 0.05
done

DISPLAY=$display XDG_RUNTIME_DIR="$work/run" HOME="$work" "$program" "$port" > "$work/server.out" &
server_pid=$!
for _ in $(seq 100); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.05; done

cat "$work"/clip_image*.png > /dev/null   # page cache warm for both sides
now() { date +%s.%N; }
best_floor= best_ours=
for _ in $(seq "$rounds"); do
  t0=$(now)
  DISPLAY=$display xclip -o -selection clipboard -t text/html > "$work/floor.out"
  for f in "$work"/clip_image*.png; do base64 -w0 "$f"; done >> "$work/floor.out"
  t1=$(now)
  curl -sS -o "$work/reply.json" "http://127.0.0.1:$port/get_clipboard_text"
  t2=$(now)
  best_floor=$(awk -v a="$t0" -v b="$t1" -v best="$best_floor" 'BEGIN { d = b - a; print (best == "" || d < best) ? d : best }')
  best_ours=$(awk -v a="$t1" -v b="$t2" -v best="$best_ours" 'BEGIN { d = b - a; print (best == "" || d < best) ? d : best }')
done

direct=$(DISPLAY=$display XDG_RUNTIME_DIR="$work/run" HOME="$work" "$build/bench/clipboard/bench_clipboard_direct" "$rounds")

python3 - "$work/reply.json" <<'PY'
import json, sys
reply = json.load(open(sys.argv[1]))
assert reply["success"], "no success"
assert len(reply["image_files"]) == 10, "pictures missing"
assert all(len(e["base64"]) == 2796204 for e in reply["image_files"].values()), "picture not whole"
assert reply["html_fragment_utf8_byte_length"] > 1000000, "html missing"
PY
reply_bytes=$(stat -c %s "$work/reply.json")
awk -v floor="$best_floor" -v ours="$best_ours" -v direct="${direct%% *}" -v html="$html_bytes" -v reply="$reply_bytes" 'BEGIN {
  printf "clipboard: %.2f MiB of HTML, 10 pictures x 2 MiB; reply %.1f MiB\n", html / 1048576, reply / 1048576;
  printf "xclip -o -t text/html + base64 -w0 x10: %.3f s\n", floor;
  printf "/get_clipboard_text over HTTP:          %.3f s  (%.2fx the floor; target <= 2x)\n", ours, ours / floor;
  printf "ReadClipboardJson called directly:      %.3f s  (%.2fx the floor)\n", direct, direct / floor;
}'
