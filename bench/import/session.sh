# Sourced by the benchmarks that run the real Docklane and Docwarden on an
# Xvfb of their own, with the chooser answered by xdotool (bench/import,
# bench/soak). After `session_start <build-dir>`:
#   work          a private folder (removed at exit) with run/, home/, docs/, tmp/
#   DISPLAY, HOME, XDG_RUNTIME_DIR, TMPDIR   exported for the programs and the driver
#   lane_pid, warden_pid, xvfb_pid, export_root
# and find_engine prints the pid of the engine (soffice.bin) Docklane runs.
#
# Uses the fixed port 3465 and refuses to start when something listens there;
# on a shared machine run the benchmark in a network namespace of its own:
#   unshare -n sh -c 'ip link set lo up && bash bench/<name>/run.sh <build-dir>'

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
session_cleanup() {
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
  [ -n "${work:-}" ] && rm -rf "$work"
}

fail() {
  echo "${bench_name:-bench}: $*" >&2
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

find_engine() {
  local pid
  for pid in $(pgrep -x soffice.bin 2> /dev/null); do
    if [ "$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2> /dev/null)" = "$lane_pid" ] ||
       tr '\0' '\n' < "/proc/$pid/cmdline" 2> /dev/null | grep -qF "$work/"; then
      echo "$pid"; return
    fi
  done
}

session_start() {
  local build=$1
  lane_program="$build/app/docklane"
  warden_program="$build/service/docwarden"
  for p in "$lane_program" "$warden_program"; do
    [ -x "$p" ] || { echo "missing $p: cmake --build $build --target docklane docwarden" >&2; exit 1; }
  done
  for cmd in Xvfb xdotool xwininfo zenity soffice curl python3 timeout base64 pgrep; do
    command -v "$cmd" > /dev/null || { echo "missing program: $cmd" >&2; exit 1; }
  done
  local listening=
  if command -v ss > /dev/null; then listening=$(ss -Hltn 'sport = :3465' 2> /dev/null); fi
  if [ -n "$listening" ] || (exec 3<> /dev/tcp/127.0.0.1/3465) 2> /dev/null; then
    echo "something already listens on port 3465: run this in a network namespace of its own" >&2
    exit 1
  fi

  work=$(mktemp -d "/tmp/${bench_name:-bench}-XXXXXX")
  chmod 700 "$work"
  mkdir -m 700 "$work/run" "$work/home" "$work/docs" "$work/cold" "$work/tmp"
  export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
  unset NOTIFY_SOCKET WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
  trap session_cleanup EXIT
  trap 'exit 130' INT TERM

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
  local up=
  for _ in $(seq 150); do
    if curl -fsS --max-time 2 -o /dev/null "http://127.0.0.1:3465/get_version_info" 2> /dev/null; then up=1; break; fi
    kill -0 "$lane_pid" 2> /dev/null || fail "Docklane exited before serving HTTP"
    sleep 0.2
  done
  [ -n "$up" ] || fail "Docklane did not answer on port 3465 within 30 s of Docwarden's start"
  http_up=$(now)
  export_root="$XDG_RUNTIME_DIR/docklane"
  [ -d "$export_root" ] || fail "no export root $export_root"
}
