# Shared by the program tests under a virtual X server: sourced, not run.
# Gives: a work directory with the program copied into it (it reads setup.ini
# and writes its log beside itself), the two embedded demo databases, a
# virtual display, and the clean-up of everything started, by process id.
# The caller sets PROGRAM (the built ostrakel) and DEMO (the demo/ folder).
set -euo pipefail

work=$(mktemp -d /tmp/ostrakel-gui.XXXXXX)
started=()

# Last started, first ended: the display goes after the programs on it.
cleanup() {
  local i pid
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[i]}
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do not_running "$pid" && break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs until the condition command succeeds or the seconds are over.
wait_for() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}

# A display of its own: the server tells the number it took. -noreset: without
# it the server resets whenever its last client leaves (a probe, the panel, a
# program that ended), and a program connecting in that moment fails to load
# the xcb plugin.
start_display() {
  local fd_file
  fd_file=$(mktemp "$work/display.XXXXXX")
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fd_file" 2>"$work/xvfb.log" &
  started+=($!)
  wait_for 10 test -s "$fd_file" || fail "the virtual X server did not start"
  export DISPLAY=:$(cat "$fd_file")
  export QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY
}

# The program in a directory of its own, with setup.ini and the demo databases.
prepare_program() {
  local dir=$1
  mkdir -p "$dir"
  cp "$PROGRAM" "$dir/ostrakel"
  local db
  for db in kalimbor vendrel; do
    sed "s|@DIR@|$dir/|" "$DEMO/$db.sql" | isql-fb -q -bail >/dev/null
  done
  printf '[sql]\nkalimbor=%s/\nvendrel=%s/\n[set]\nlog=1\n' "$dir" "$dir" >"$dir/setup.ini"
}

# The log the program keeps beside itself (one per month of start).
log_file() {
  ls "$1"/log_*_*.txt 2>/dev/null | head -n 1
}

# True once the process has ended (a child not yet waited for is a zombie).
not_running() {
  [ ! -e "/proc/$1" ] || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]
}

window_shown() {
  xwininfo -name Ostrakel >/dev/null 2>&1
}
